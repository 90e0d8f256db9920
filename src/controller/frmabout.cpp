#include "controller/frmabout.h"

#include "controller/version.h"
#include "ui/titlebar.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QLabel>
#include <QVBoxLayout>

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Tarnwell"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("<h2>Tarnwell III</h2>"));
    auto *version = new QLabel(Version::versionText() + QStringLiteral("   ") + Version::buildText());
    version->setObjectName(QStringLiteral("lblVersion"));
    auto *text = new QLabel(QStringLiteral("A tool for exercising TCP connections by hand: connect to a server, "
                                           "serve clients or relay between them, and see byte for byte what passes."));
    text->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOK"));
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addWidget(text);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    tw::fitTitles(this, {windowTitle()});
}
