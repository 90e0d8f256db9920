#include "controller/frmsplash.h"
#include "controller/frmtarnwell.h"
#include "controller/mainwizardhost.h"
#include "options/settingsstore.h"
#include "setup/frmconfigurations.h"
#include "ui/uiservice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScreen>
#include <QThread>

namespace {
// Waits while letting the window system run, so a key or click can close the splash.
void waitResponsive(int ms, const QPointer<QWidget> &endEarlyIfClosed = nullptr)
{
    QElapsedTimer t;
    t.start();
    const bool watch = !endEarlyIfClosed.isNull();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (watch && (endEarlyIfClosed.isNull() || !endEarlyIfClosed->isVisible()))
            return;
        QThread::msleep(5);
    }
}
} // namespace

std::unique_ptr<frmTarnwell> StartUp(const StartupOptions &options)
{
    // 1. Splash for 1.5 s.
    QPointer<frmSplash> splash;
    if (options.showSplash) {
        splash = new frmSplash;
        splash->setAttribute(Qt::WA_DeleteOnClose);
        if (const QScreen *s = QGuiApplication::primaryScreen())
            splash->move(s->availableGeometry().center() - splash->rect().center());
        splash->show();
        QCoreApplication::processEvents();
        waitResponsive(1500, splash.data());
    }

    // 2. The main window: load first, then show.
    auto main = std::make_unique<frmTarnwell>();
    if (!main->Load()) {
        if (splash)
            splash->close();
        return nullptr;
    }
    main->show();

    // Settings that cannot be saved are told now, not found missing next time.
    if (const OsError e = SettingsStore::instance().CheckWritable(); e.isError())
        tw::ui().failure(main.get(), SettingsStore::kSaveFailure, e);

    // 3. The help topics are found under the program folder when asked for.
    // 4. Close the splash.
    if (splash) {
        splash->close();
        QCoreApplication::processEvents();
        waitResponsive(100);
    }

    // 5. The common configurations, with the main window disabled until they close.
    if (options.allowConfigurations && main->shouldShowConfigurations()) {
        // Not owned by the main window, which is disabled while it shows.
        auto *configs = new frmConfigurations(std::make_unique<MainWizardHost>(main.get()));
        main->setEnabled(false);
        configs->show();
    }
    return main;
}
