#include "controller/frmsplash.h"

#include "controller/version.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

frmSplash::frmSplash(QWidget *parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *frame = new QFrame;
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(2);
    outer->addWidget(frame);
    auto *layout = new QVBoxLayout(frame);
    auto *title = new QLabel(QStringLiteral("<h1>Tarnwell III</h1>"));
    title->setAlignment(Qt::AlignCenter);
    auto *tag = new QLabel(QStringLiteral("Exercising TCP connections by hand"));
    tag->setAlignment(Qt::AlignCenter);
    auto *version = new QLabel(Version::versionText());
    version->setObjectName(QStringLiteral("lblVersion"));
    auto *build = new QLabel(Version::buildText());
    build->setObjectName(QStringLiteral("lblBuild"));
    layout->addWidget(title);
    layout->addWidget(tag);
    layout->addStretch(1);
    layout->addWidget(version);
    layout->addWidget(build);
    setFixedSize(380, 220);
}

void frmSplash::keyPressEvent(QKeyEvent *)
{
    close();
}

void frmSplash::mousePressEvent(QMouseEvent *)
{
    close();
}
