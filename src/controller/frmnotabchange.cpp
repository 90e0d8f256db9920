#include "controller/frmnotabchange.h"

#include "ui/standardicons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

QString frmNoTabChange::noticeText()
{
    return QStringLiteral("It is not possible to change tabs while the socket is 'Connected', 'Listening' or about to "
                          "Auto-Disconnect or Auto-Reconnect.  Close the socket and then continue.");
}

frmNoTabChange::frmNoTabChange(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmNoTabChange"));
    setWindowTitle(QStringLiteral("Tarnwell III"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *icon = new QLabel;
    icon->setPixmap(sharedStandardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto *text = new QLabel(noticeText());
    text->setObjectName(QStringLiteral("lblNotice"));
    text->setWordWrap(true);
    auto *ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto *row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(ok, 0, Qt::AlignRight);
    setMinimumWidth(360);
    connect(ok, &QPushButton::clicked, this, &QDialog::close);
}
