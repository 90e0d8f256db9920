// The windows the main window only opens and feeds: the options window, the
// protocols window and the font of the data windows.

#include "controller/frmtarnwell.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/frmdetails.h"
#include "display/supportclass.h"
#include "logging/historywindow.h"
#include "net/socketcontrol.h"
#include "options/frmoptions.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "ui/userfont.h"

#include <QAction>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>

namespace {
// The protocols window reaches the connection through the main window.
class MainProtocolHost : public ProtocolHost
{
public:
    explicit MainProtocolHost(frmTarnwell *w) : m_w(w) {}
    int currentMode() const override { return m_w->intCurrentMode; }
    int clientState() const override { return m_w->clientState(); }
    void clickConnect() override { m_w->cmdConnect_Click(m_w->intCurrentMode); }
    void disconnectClient() override { m_w->ConnectDisconnectToSocket(false); }
    void endConnection() override
    {
        const int mode = m_w->intCurrentMode;
        if (frmTarnwell::captionKey(m_w->tabs[mode].cmdConnect) == QLatin1String("disconnect")) {
            m_w->cmdConnect_Click(mode);
        } else {
            m_w->tmrReconnectTimer->StopTimer();
            m_w->setStatusPanel(4, QString());
        }
    }
    void sendData(const QByteArray &bytes) override { m_w->objSupport->SendDataDownSocket(bytes); }

private:
    frmTarnwell *m_w;
};

class DetailsSeparatorViewer : public frmOptions::SeparatorViewer
{
public:
    explicit DetailsSeparatorViewer(QWidget *owner) : m_window(new frmDetails(owner)) {}
    ~DetailsSeparatorViewer() override { delete m_window.data(); }
    QWidget *window() override { return m_window; }
    void AddDetails(const QByteArray &bytes) override { m_window->AddDetails(bytes); }
    void showAsCharacters() override { m_window->setRepresentation(DetailsLayout::Chr); }

private:
    QPointer<frmDetails> m_window;
};

// Every window of the program that shows data takes the user's font here.
void applyUserFont(QWidget *window, const QFont &font)
{
    if (auto *w = qobject_cast<frmTarnwell *>(window))
        w->SetUserFont(font);
    else if (auto *w = qobject_cast<frmSend *>(window))
        w->SetUserFont(font);
    else if (auto *w = qobject_cast<frmDetails *>(window))
        w->SetUserFont(font);
    else if (auto *w = qobject_cast<HistoryWindow *>(window))
        w->SetUserFont(font);
    else if (auto *w = qobject_cast<frmProtocol *>(window))
        w->SetUserFont(font);
}
} // namespace

void frmTarnwell::wireCompanions()
{
    UserFont::setApplier(applyUserFont);
    frmOptions::setViewerFactory([](QWidget *owner) -> std::unique_ptr<frmOptions::SeparatorViewer> {
        return std::make_unique<DetailsSeparatorViewer>(owner);
    });
    frmSend::setShowOptionsHook([] { frmOptions::open(); });
    if (auto *a = findChild<QAction *>(QStringLiteral("mnuOptions")))
        connect(a, &QAction::triggered, this, [] { frmOptions::open(); });

    for (ModeControls &t : tabs) {
        if (t.cmdProtocols)
            connect(t.cmdProtocols, &QAbstractButton::clicked, this, [this] {
                frmProtocol *p = protocols();
                p->show();
                p->raise();
                p->activateWindow();
            });
    }

    // The merge with reconnection follows the client connection.
    ConnectionReestablished = [this] {
        if (m_frmProtocol)
            m_frmProtocol->ConnectionReestablished();
    };
    MessageSuccessfullySent = [this] {
        if (m_frmProtocol)
            m_frmProtocol->MessageSuccessfullySent();
    };
    connect(sckClient, &SocketControl::Error, this, [this] {
        if (m_frmProtocol)
            m_frmProtocol->ClientConnectionFailed();
    });
    // Runs after the button's own handling: a press that left the caption at
    // "Connect" was a disconnect (or a connect that could not start).
    connect(tabs[0].cmdConnect, &QAbstractButton::clicked, this, [this] {
        if (m_frmProtocol && captionKey(tabs[0].cmdConnect) == QLatin1String("connect"))
            m_frmProtocol->ClientDisconnectedByUser();
    });
    connect(tabMode, &QTabWidget::currentChanged, this, [this] {
        if (m_frmProtocol)
            m_frmProtocol->ModeChanged();
    });
}

frmProtocol *frmTarnwell::protocols()
{
    if (!m_frmProtocol && !m_unloaded) {
        m_protocolHost = std::make_unique<MainProtocolHost>(this);
        m_frmProtocol = new frmProtocol(m_protocolHost.get());
    }
    return m_frmProtocol;
}

void frmTarnwell::prepareCompanionsForUnload()
{
    // From here on the protocols window really closes when asked to, and the
    // options window is put away rather than discarded: discarding would
    // make the next read of an option load the store again mid-shutdown.
    if (m_frmProtocol)
        m_frmProtocol->blnAllowUnload = true;
    if (frmOptions *options = frmOptions::instance())
        options->hide();
}

void frmTarnwell::releaseCompanions()
{
    if (m_frmProtocol) {
        m_frmProtocol->blnAllowUnload = true;
        delete m_frmProtocol;
        m_frmProtocol = nullptr;
    }
    m_protocolHost.reset();
    delete frmOptions::instance();
    frmOptions::setViewerFactory({});
    frmSend::setShowOptionsHook({});
    UserFont::setApplier({});
}

void frmTarnwell::SetUserFont(const QFont &font)
{
    for (ModeControls &t : tabs) {
        if (t.lvwReceived) {
            t.lvwReceived->setFont(font);
            DataListModel::keepTimeRoom(t.lvwReceived);
        }
        if (t.txtReceived)
            t.txtReceived->SetUserFont(font);
    }
}
