#include "controller/mainwindowfixture.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"

#include <QCheckBox>
#include <QTabWidget>

namespace {
// A server that takes one message per connection: it closes a connection as
// soon as a whole message (ending in CR LF) has arrived, and keeps what each
// connection brought.
class OneMessageServer : public QObject
{
public:
    OneMessageServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                const qsizetype index = perConnection.size();
                perConnection.append(QByteArray());
                connect(s, &QTcpSocket::readyRead, this, [this, s, index] {
                    perConnection[index] += s->readAll();
                    if (perConnection[index].endsWith("\r\n"))
                        s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    /// The messages, in order of their connections.
    QList<QByteArray> messages() const
    {
        QList<QByteArray> out;
        for (const QByteArray &m : perConnection) {
            if (!m.isEmpty())
                out << m;
        }
        return out;
    }
    QList<QByteArray> perConnection;

private:
    QTcpServer m_server;
};
} // namespace

class TestProtocolMerge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mergeWithReconnection_data();
    void mergeWithReconnection();
};

void TestProtocolMerge::mergeWithReconnection_data()
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
void TestProtocolMerge::mergeWithReconnection()
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
    QFile list(m.settings.dir() + QStringLiteral("/list.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("1,alpha\r\n2, beta\n\r\n3,gamma\r4,delta\r\n5,epsilon");
    list.close();

    frmProtocol *p = w.protocols();
    p->txtMessage->setData("RECORD %1 %2\r\n");
    p->txtReplaceFileName->setText(list.fileName());
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

QTEST_MAIN(TestProtocolMerge)
#include "tst_protocolmerge.moc"
