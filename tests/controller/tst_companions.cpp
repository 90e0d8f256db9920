#include "controller/mainwindowfixture.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/supportclass.h"
#include "logging/frmstate.h"
#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "setup/frmalmanac.h"
#include "ui/userfont.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

namespace {
// A server that takes one message per connection: it closes a connection as
// soon as a whole message (ending in CR LF) has arrived.
struct OneMessageServer : QObject
{
    QTcpServer server;
    QList<QByteArray> perConnection;
    OneMessageServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                perConnection.append(QByteArray());
                connect(s, &QTcpSocket::readyRead, this, [this, s, i = perConnection.size() - 1] {
                    if ((perConnection[i] += s->readAll()).endsWith("\r\n"))
                        s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return server.serverPort(); }
    /// What the connections brought, in their order.
    QList<QByteArray> messages() const
    {
        QList<QByteArray> out = perConnection;
        out.removeAll(QByteArray());
        return out;
    }
};
} // namespace

// The windows the main window opens and feeds.
class TestCompanions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        // Opening the options window made an options model; the next test starts without it.
        qDeleteAll(QCoreApplication::instance()->findChildren<OptionsModel *>(Qt::FindDirectChildrenOnly));
    }
    void buttonsOpenTheirWindows();
    void fontReachesEveryDataWindow();
    void detailsOpenAndFollowTheData();
    void filterHidesRowsAndShowsInTheStatusLine();
    void mergeWithReconnection_data();
    void mergeWithReconnection();
    void almanacChoiceFillsItsBox_data();
    void almanacChoiceFillsItsBox();
};

// The entries that were greyed out before these windows existed now open them.
void TestCompanions::buttonsOpenTheirWindows()
{
    MainWindow m;
    frmTarnwell &w = *m.w;
    for (int tab : {0, 1}) {
        QVERIFY(w.tabs[tab].cmdProtocols->isEnabled());
        w.tabs[tab].cmdProtocols->click();
        QVERIFY(w.protocolsWindow() && w.protocolsWindow()->isVisible());
        w.protocolsWindow()->cmdClose->click(); // closing only hides
        QVERIFY(!w.protocolsWindow()->isVisible());
    }
    frmSend *send = frmSend::OpenNewWindow();
    send->cmdPreferences->click();
    QVERIFY(frmOptions::instance() && frmOptions::instance()->isVisible());
    // A separator's details button shows its own viewer, as characters.
    frmOptions::instance()->cmdMessageDetails->click();
    auto *viewer = frmOptions::instance()->findChild<frmDetails *>();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->representation(), DetailsLayout::Chr);
    QCOMPARE(viewer->currentText(), QByteArray("\r\n"));
    frmOptions::instance()->cmdOK->click();
    QVERIFY(!viewer->isVisible());
    w.protocolsWindow()->cmdPreferences->click();
    QVERIFY(frmOptions::instance()->isVisible());
    delete send;
}

// A font chosen in the options window reaches every data window open at
// that moment, and every data window opened afterwards.
void TestCompanions::fontReachesEveryDataWindow()
{
    MainWindow m;
    frmTarnwell &w = *m.w;
    frmSend *before = frmSend::OpenNewWindow();
    w.eventHistory()->show();
    frmProtocol *protocols = w.protocols();
    protocols->show();

    // The Options entry opens the window; the label names the font in use.
    auto *entry = w.findChild<QAction *>(QStringLiteral("mnuOptions"));
    QVERIFY(entry->isEnabled());
    entry->trigger();
    frmOptions *options = frmOptions::instance();
    QVERIFY(options && options->isVisible());
    QCOMPARE(options->lblFont->text(), UserFont::describe(w.tabs[0].txtReceived->font()));

    QFont chosen(QStringLiteral("DejaVu Serif"), 13);
    chosen.setItalic(true);
    m.ui.fontAnswers.enqueue(chosen);
    options->cmdOpenFont->click();
    QCOMPARE(options->lblFont->text(), QFontInfo(chosen).family() + QStringLiteral(", 13pt, Italic"));

    frmSend *after = frmSend::OpenNewWindow();
    after->cmdDetails->click(); // its viewer, opened later still
    QList<std::pair<QString, QFont>> fonts;
    for (int i = 0; i < 3; ++i) {
        fonts.append({QStringLiteral("list %1").arg(i), w.tabs[i].lvwReceived->font()});
        fonts.append({QStringLiteral("text view %1").arg(i), w.tabs[i].txtReceived->font()});
    }
    fonts.append({QStringLiteral("send window open before"), before->txtSend->font()});
    fonts.append({QStringLiteral("send window opened after"), after->txtSend->font()});
    fonts.append({QStringLiteral("event history"), w.eventHistory()->list()->font()});
    fonts.append({QStringLiteral("hidden state history"), w.clientStateHistory()->list()->font()});
    fonts.append({QStringLiteral("protocol message"), protocols->txtMessage->font()});
    fonts.append({QStringLiteral("received details"), w.receivedDetails()->txtDetails->font()});
    fonts.append({QStringLiteral("send window's details"), after->details()->txtDetails->font()});
    fonts.append({QStringLiteral("protocols' details"), protocols->details()->txtDetails->font()});
    for (const auto &[where, font] : fonts)
        QVERIFY2(font == chosen, qPrintable(where));
    delete before;
    delete after;
}

void TestCompanions::detailsOpenAndFollowTheData()
{
    MainWindow m;
    QTcpServer server;
    const auto peer = m.connectClient(server);
    QVERIFY(peer);
    ModeControls &t = m.w->tabs[0];
    frmDetails *received = m.w->receivedDetails();
    frmDetails *sent = m.w->sentDetails();

    // The tab's button and a double click open the received viewer on what the tab shows.
    peer->write("one\r\ntwo\r\n");
    QTRY_COMPARE(t.model->rowCount(), 2);
    t.txtReceived->setCaretOffset(5);
    t.cmdReceivedDetails->click();
    QCOMPARE(received->currentText(), QByteArray("two\r\n"));
    t.chkReceivedFields->click();
    t.lvwReceived->setCurrentIndex(t.model->index(0, 0));
    Q_EMIT t.lvwReceived->doubleClicked(t.model->index(0, 0));
    QCOMPARE(received->currentText(), QByteArray("one\r\n"));

    // Auto-display: the newest row, on each viewer its own direction.
    received->chkTrackLatestData->setChecked(true);
    sent->chkTrackLatestData->setChecked(true);
    peer->write("three\r\n");
    QTRY_COMPARE(received->currentText(), QByteArray("three\r\n"));
    m.w->objSupport->SendDataDownSocket("out\r\n");
    QCOMPARE(sent->currentText(), QByteArray("out\r\n"));
    QCOMPARE(received->currentText(), QByteArray("three\r\n"));
}

void TestCompanions::filterHidesRowsAndShowsInTheStatusLine()
{
    MainWindow m;
    QTcpServer server;
    const auto peer = m.connectClient(server);
    QVERIFY(peer);
    ModeControls &t = m.w->tabs[0];
    // The filter serves the list, and is offered with it.
    QVERIFY(!t.cmdFilter->isEnabled());
    t.chkReceivedFields->click();
    t.cmdFilter->click();
    frmFilter *filter = m.w->filter();
    QVERIFY(filter->isVisible());
    filter->txtFilter[0]->setText(QStringLiteral("KEEP"));
    QVERIFY(m.w->statusPanel(3).isEmpty());
    filter->chkFilterOn->click();
    QCOMPARE(m.w->statusPanel(3), QStringLiteral("Filtering On "));

    // Received rows are filtered, sent rows never.
    m.opts.caseSensitive = false;
    peer->write("drop\r\nkeep me\r\n");
    QTRY_COMPARE(t.model->rowCount(), 1);
    m.w->objSupport->SendDataDownSocket("sent\r\n");
    QCOMPARE(t.model->rowCount(), 2);
    QCOMPARE(t.model->rawTag(0), QByteArray("keep me\r\n"));

    // The title bar only hides the window; shutting down closes it.
    QVERIFY(!filter->close());
    QVERIFY(!filter->isVisible());
    QVERIFY(m.w->filter());
    m.w->close();
    QVERIFY(m.w->blnAllowUnload);
}

void TestCompanions::mergeWithReconnection_data()
{
    QTest::addColumn<QString>("course");
    QTest::addColumn<int>("delivered"); // records that reach the server
    QTest::addColumn<QString>("event");

    QTest::newRow("every record, window hidden") << "all" << 5 << "every record has been sent";
    QTest::newRow("Stop Sending") << "stop" << 1 << "stopped by the user";
    QTest::newRow("connection refused") << "refused" << 0 << "the connection failed";
    QTest::newRow("user disconnects") << "user" << 1 << "the client was disconnected";
    QTest::newRow("mode changes") << "mode" << 1 << "the mode was changed";
}

// Against a real server on this machine: each record goes out on a
// connection of its own, exactly once and in order, and however the merge
// ends, it ends cleanly.
void TestCompanions::mergeWithReconnection()
{
    QFETCH(QString, course);
    QFETCH(int, delivered);
    QFETCH(QString, event);

    MainWindow m;
    m.opts.autoDisconnect = true;
    m.opts.autoReconnect = true;
    m.opts.reconnectPeriod = 1;
    frmTarnwell &w = *m.w;

    OneMessageServer server;
    quint16 port = server.port();
    if (course == QLatin1String("refused")) {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost, 0));
        port = gone.serverPort();
    }
    m.target(port);

    const QList<QByteArray> records{"RECORD 1 alpha\r\n", "RECORD 2 beta\r\n", "RECORD 3 gamma\r\n",
                                    "RECORD 4 delta\r\n", "RECORD 5 epsilon\r\n"};
    const QString list = putFile(m.settings.path(QStringLiteral("list.txt")),
                                 "1,alpha\r\n2, beta\n\r\n3,gamma\r4,delta\r\n5,epsilon");

    frmProtocol *p = w.protocols();
    p->txtMessage->setData("RECORD %1 %2\r\n");
    p->txtReplaceFileName->setText(list);
    p->chkReplaceEscapedChars->click();
    p->chkDisconnectAfterMsgTx->click();
    QCOMPARE(p->cmdSend->text(), QStringLiteral("&Start Sending"));

    if (course == QLatin1String("user") || course == QLatin1String("stop")) {
        // Connected first: Send puts out the first record at once, and the
        // user disconnects, or stops, before the send is even reported.
        m.w->tabs[0].cmdConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.intLastClientState, qint16(7), 10000);
        p->cmdSend->click();
        QVERIFY(p->MergeActive);
        (course == QLatin1String("user") ? static_cast<QAbstractButton *>(w.tabs[0].cmdConnect) : p->cmdSend)
            ->click();
    } else {
        p->show();
        p->cmdSend->click();
        QVERIFY(p->MergeActive);
        QCOMPARE(p->cmdSend->text(), QStringLiteral("Stop Sending"));
        p->close(); // hiding the window does not end the merge
    }
    if (course == QLatin1String("mode")) {
        // Without automatic reconnection the merge waits after its first
        // record; the user then leaves Client mode.
        m.opts.autoReconnect = false;
        QTRY_COMPARE_WITH_TIMEOUT(server.messages().size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.IsConnectionBusy() && w.intLastClientState == 0, 10000);
        w.tabMode->setCurrentIndex(1);
        QCOMPARE(w.intCurrentMode, 1);
    }

    QTRY_VERIFY_WITH_TIMEOUT(!p->MergeActive, 20000);
    QCOMPARE(p->cmdSend->text(), QStringLiteral("&Start Sending"));
    QCOMPARE(
        m.events().filter(QStringLiteral("The merge with reconnection has ended")),
        QStringList{QStringLiteral("The merge with reconnection has ended: ") + event + QLatin1Char('.')});
    // The connection is left closed, with no reconnection pending.
    QTRY_COMPARE_WITH_TIMEOUT(w.sckClient->State(), 0, 10000);
    QVERIFY(!w.blnClientOpen);
    QVERIFY(!w.tmrReconnectTimer->isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(server.messages().size(), delivered, 10000);
    QCOMPARE(server.messages(), records.first(delivered));
    QVERIFY(m.ui.messages().isEmpty());
}

void TestCompanions::almanacChoiceFillsItsBox_data()
{
    // The "..." button, the box it fills, the answer ("ok", "cancel" or "close") and the box afterwards.
    for (const char *column : {"button", "box", "answer", "expected"})
        QTest::addColumn<QString>(column);
    for (const char *row : {"cmdServer_0 txtServer_0 ok a.example", "cmdServer_2 txtServer_2 ok a.example",
                            "cmdServer_0 txtServer_0 close before", "cmdPort_0 txtPortConnectTo_0 ok 110",
                            "cmdPort_1 txtPort_1 ok 110", "cmdPort_2 txtPortConnectTo_2 ok 110",
                            "cmdPort_3 txtPort_2 ok 110", "cmdPort_3 txtPort_2 cancel before"}) {
        const QStringList f = QString::fromLatin1(row).split(QLatin1Char(' '));
        QTest::newRow(row) << f[0] << f[1] << f[2] << f[3];
    }
}

// The "..." buttons show an almanac over the main window; the choice goes
// into the box beside the button, Cancel and the close box leave it alone.
void TestCompanions::almanacChoiceFillsItsBox()
{
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, answer);
    QFETCH(QString, expected);

    MainWindow m;
    putFile(m.settings.path(QStringLiteral("Servers.txt")),
            "b.example,Web,B\na.example,Web,A\n"); // the user's copies
    putFile(m.settings.path(QStringLiteral("Ports.txt")), "110,POP3\n21,FTP\n");
    auto *target = m.w->findChild<QLineEdit *>(box);
    target->setText(QStringLiteral("before"));
    m.w->findChild<QPushButton *>(button)->click();
    frmAlmanac *almanac = button.startsWith(QLatin1String("cmdServer"))
                              ? static_cast<frmAlmanac *>(m.w->findChild<frmServer *>())
                              : m.w->findChild<frmPort *>();
    QVERIFY(almanac && almanac->isVisible() && almanac->isModal());
    almanac->lstDetails->setCurrentItem(almanac->lstDetails->topLevelItem(0));
    if (answer == QLatin1String("ok"))
        almanac->cmdOK->click();
    else if (answer == QLatin1String("cancel"))
        almanac->cmdCancel->click();
    else
        almanac->close();
    QCOMPARE(target->text(), expected);
}

QTEST_MAIN(TestCompanions)
#include "tst_companions.moc"
