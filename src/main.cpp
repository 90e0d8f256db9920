#include "controller/frmtarnwell.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarnwell"));
    QApplication::setQuitOnLastWindowClosed(false);

    StartupOptions options;
    options.showSplash = !qEnvironmentVariableIsSet("TARNWELL_NO_SPLASH");
    auto window = StartUp(options);
    if (!window)
        return 1;
    return app.exec();
}
