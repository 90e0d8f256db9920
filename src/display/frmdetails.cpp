#include "display/frmdetails.h"

frmDetails::frmDetails(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDetails"));
    setWindowTitle(QStringLiteral("Details"));
    setModal(false);
}
