#pragma once

#include <QPlainTextEdit>

/// The text view of a data list: the raw stream in escaped form, coloured by
/// direction. Read-only for the user.
class DataTextView : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit DataTextView(QWidget *parent = nullptr);
};
