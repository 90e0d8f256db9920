#include "display/datatextview.h"

DataTextView::DataTextView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setFont(QFont(QStringLiteral("Courier New")));
    setLineWrapMode(QPlainTextEdit::NoWrap);
}
