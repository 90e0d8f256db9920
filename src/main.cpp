#include "controller/frmtarnwell.h"
#include "core/allocator.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char *argv[])
{
    settleAllocator();
    QApplication app(argc, argv);
    keepHeapTrimmed(&app);
    QApplication::setApplicationName(QStringLiteral("tarnwell"));
    // The installed desktop entry and icon carry this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tarnwell.Tarnwell"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.tarnwell.Tarnwell")));
    // No display name: the platform would append it to every title, and
    // message boxes must read exactly "Tarnwell III".
    // The main window ends the program itself, after its shutdown steps.
    QApplication::setQuitOnLastWindowClosed(false);

    StartupOptions options;
    options.showSplash = !qEnvironmentVariableIsSet("TARNWELL_NO_SPLASH");
    auto window = StartUp(options);
    if (!window)
        return 1;
    // For smoke runs: close the window (through its normal shutdown) after a while.
    if (const int ms = qEnvironmentVariableIntValue("TARNWELL_QUIT_AFTER_MS"); ms > 0)
        QTimer::singleShot(ms, window.get(), [w = window.get()] { w->close(); });
    return app.exec();
}
