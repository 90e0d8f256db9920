#include "core/itemreader.h"
#include "core/programfolder.h"
#include "display/frmdetails.h"
#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "support/recordingevents.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>
#include <optional>

namespace {
QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out << QString::fromUtf8(t);
    return out;
}

struct FakeHost : ProtocolHost
{
    int mode = 0;
    int state = 0;
    QList<QByteArray> sent;
    QStringList calls;
    int currentMode() const override { return mode; }
    int clientState() const override { return state; }
    void clickConnect() override { calls << QStringLiteral("connect"); }
    void disconnectClient() override { calls << QStringLiteral("disconnect"); }
    void endConnection() override { calls << QStringLiteral("end"); }
    void sendData(const QByteArray &bytes) override { sent << bytes; }
};

QByteArray repeated(char c, qsizetype n)
{
    return QByteArray(n, c);
}
} // namespace

class TestProtocols : public QObject
{
    Q_OBJECT
private:
    std::optional<TempSettings> m_settings;
    std::optional<ScriptedUi> m_ui;
    std::optional<RecordingEvents> m_log;
    std::optional<QTemporaryDir> m_data;
    QByteArray m_previousDataDir;
    FakeHost m_host;
    std::unique_ptr<frmProtocol> m_w;

    QString writeData(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_data->filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return path;
    }
    frmProtocol &open()
    {
        m_w = std::make_unique<frmProtocol>(&m_host);
        return *m_w;
    }
    // A window over a template, merging the file of these bytes.
    frmProtocol &merging(const QByteArray &templ, const QByteArray &records)
    {
        open();
        m_w->txtMessage->setData(templ);
        m_w->txtReplaceFileName->setText(writeData(QStringLiteral("list.txt"), records));
        m_w->chkReplaceEscapedChars->click();
        return *m_w;
    }

private Q_SLOTS:
    void init()
    {
        m_settings.emplace();
        m_ui.emplace();
        m_log.emplace();
        m_data.emplace();
        m_previousDataDir = qgetenv("TARNWELL_DATA_DIR");
        qputenv("TARNWELL_DATA_DIR", m_data->path().toLocal8Bit());
        writeData(QStringLiteral("Protocols.txt"), "G,m,\"text\"\r\n");
        m_host = FakeHost();
    }
    void cleanup()
    {
        m_w.reset();
        delete frmOptions::instance();
        qputenv("TARNWELL_DATA_DIR", m_previousDataDir);
        m_data.reset();
        m_log.reset();
        m_ui.reset();
        m_settings.reset();
    }

    void treeFromFile();
    void libraryProblems_data();
    void libraryProblems();
    void shippedLibrary();
    void mergeAll_data();
    void mergeAll();
    void sendChoices_data();
    void sendChoices();
    void previewAndUnreadableFile_data();
    void previewAndUnreadableFile();
    void reconnectNeedsItsOptions_data();
    void reconnectNeedsItsOptions();
};

// Groups follow the records; a group that returns after another starts a
// second node. The user's own copy of the library takes the shipped one's place.
void TestProtocols::treeFromFile()
{
    QFile own(ProgramFolder::writableDir() + QStringLiteral("/Protocols.txt"));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write("A,x,\"GET / HTTP/1.1\r\nHost: h\r\n\r\n\"\nA,y,\r\n\"two\"\rB,z,\"a, b\"\r\n\r\nA,w,\"\"\r\n");
    own.close();
    frmProtocol &w = open();
    QVERIFY(m_ui->prompts.isEmpty());
    QTreeWidget *tree = w.tvwProtocol;
    QStringList shape;
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem *group = tree->topLevelItem(g);
        QString line =
            group->data(0, Qt::UserRole).toString() + QLatin1Char(' ') + group->text(0) + QLatin1Char(':');
        for (int m = 0; m < group->childCount(); ++m)
            line += QLatin1Char(' ') + group->child(m)->data(0, Qt::UserRole).toString() + QLatin1Char('=') +
                    group->child(m)->text(0);
        shape << line;
    }
    QCOMPARE(shape, (strings({"R1 A: L1=x L2=y", "R3 B: L3=z", "R4 A: L4=w"})));

    w.chooseNode(tree->topLevelItem(0)->child(0));
    QCOMPARE(w.txtMessage->data(), QByteArray("GET / HTTP/1.1\r\nHost: h\r\n\r\n"));
    QCOMPARE(w.details()->currentText(), w.txtMessage->data()); // every change reaches the viewer
    w.chooseNode(tree->topLevelItem(1));
    QCOMPARE(w.txtMessage->data(), QByteArray());

    // Closing only hides, and keeps the merge file for the next run.
    w.show();
    w.txtReplaceFileName->setText(QStringLiteral("/lists/\xE9t\xE9.txt"));
    w.cmdClose->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(open().txtReplaceFileName->text(), QStringLiteral("/lists/\xE9t\xE9.txt"));
}

void TestProtocols::libraryProblems_data()
{
    QTest::addColumn<std::optional<QByteArray>>("file");
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("told"); // the end of the failure text, or empty for none

    const QString failure =
        QStringLiteral("An error occurred while attempting to read the protocol information from "
                       "the database.  The operating system reports: ");
    QTest::newRow("missing") << std::optional<QByteArray>() << 0 << failure + QStringLiteral("2, ");
    QTest::newRow("empty") << std::optional<QByteArray>(QByteArray()) << 0 << QString();
    QTest::newRow("unclosed quote") << std::optional<QByteArray>("A,x,\"1\"\r\nA,y,\"never\r\n") << 1
                                    << QStringLiteral("begins on line 2 of");
    QTest::newRow("record cut short") << std::optional<QByteArray>("A,x,\"1\"\r\nA,y\r\n") << 1
                                      << QStringLiteral("is cut short by the end of the file.");
}

void TestProtocols::libraryProblems()
{
    QFETCH(std::optional<QByteArray>, file);
    QFETCH(int, messages);
    QFETCH(QString, told);
    if (file)
        writeData(QStringLiteral("Protocols.txt"), *file);
    else
        QFile::remove(m_data->filePath(QStringLiteral("Protocols.txt")));
    frmProtocol &w = open();
    int count = 0;
    for (int g = 0; g < w.tvwProtocol->topLevelItemCount(); ++g)
        count += w.tvwProtocol->topLevelItem(g)->childCount();
    QCOMPARE(count, messages);
    const QStringList shown = m_ui->messages();
    QCOMPARE(shown.size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty()) {
        QVERIFY2(shown[0].contains(told), qPrintable(shown[0]));
        QVERIFY(
            shown[0].startsWith(QStringLiteral("An error occurred while attempting to read the protocol")));
    }
}

// The library shipped with the program: every record whole, every message
// with the line ends its protocol needs, every declared length right.
void TestProtocols::shippedLibrary()
{
    if (m_previousDataDir.isEmpty())
        qunsetenv("TARNWELL_DATA_DIR");
    else
        qputenv("TARNWELL_DATA_DIR", m_previousDataDir);
    QFile f(frmProtocol::libraryPath());
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
    const ItemReader::Records r = ItemReader::readRecords(f.readAll(), 3);
    QCOMPARE(r.problem, ItemReader::Records::Problem::None);
    QSet<QByteArray> groups;
    for (const QByteArrayList &rec : r.records) {
        groups << rec[0];
        const QByteArray &text = rec[2];
        const QString where = QString::fromLatin1(rec[0] + " / " + rec[1]);
        // Every line ends in CR LF; only a body of declared length ends as it likes.
        const bool body = text.contains("Content-Length: ");
        QVERIFY2(body || text.endsWith("\r\n"), qPrintable(where));
        QCOMPARE(text.count('\n'), text.count("\r\n"));
        QCOMPARE(text.count('\r'), text.count("\r\n"));
        const qsizetype headEnd = text.indexOf("\r\n\r\n");
        if (rec[0] == "HTTP")
            QVERIFY2(headEnd > 0, qPrintable(where));
        const qsizetype length = text.indexOf("Content-Length: ");
        if (length >= 0) {
            const qsizetype end = text.indexOf("\r\n", length);
            QCOMPARE(text.sliced(headEnd + 4).size(),
                     text.sliced(length + 16, end - length - 16).toLongLong());
        }
        if (rec[0] == "Memcached" && text.count("\r\n") == 2) {
            const QByteArrayList words = text.first(text.indexOf("\r\n")).split(' ');
            QCOMPARE(text.sliced(text.indexOf("\r\n") + 2).chopped(2).size(), words.last().toLongLong());
        }
    }
    for (const char *g : {"HTTP", "SMTP", "POP3", "IMAP", "FTP", "Small services", "Redis", "Memcached"})
        QVERIFY2(groups.contains(g), g);
}

// Send with the merge box ticked (no reconnection) hands every merged record
// over in one piece: the merge rules, line ends of every kind, blank lines.
void TestProtocols::mergeAll_data()
{
    QTest::addColumn<QByteArray>("templ");
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("told"); // the one message shown, or empty

    const QByteArray dear = "Dear %1, your code is %2.|";
    QTest::newRow("last field trimmed, earlier keep blanks")
        << dear << QByteArray("Ann, 42\r\nAnn ,42")
        << QByteArray("Dear Ann, your code is 42.|Dear Ann , your code is 42.|") << QString();
    QTest::newRow("empty field, trailing comma")
        << dear << QByteArray(",42\nAnn,")
        << QByteArray("Dear , your code is 42.|Dear Ann, your code is %2.|") << QString();
    QTest::newRow("own placeholder, %10, bytes above 127")
        << QByteArray("%1 %10|") << QByteArray("5%1\ra\xE9,b,c,d,e,f,g,h,i,j")
        << QByteArray("5%1 5%10|a\xE9 a\xE9"
                      "0|") << QString();
    QTest::newRow("blank lines skipped with placeholder")
        << QByteArray("[%1]") << QByteArray("a\r\n\r\n  \r\rb\n") << QByteArray("[a][b]") << QString();
    QTest::newRow("blank lines kept without placeholder")
        << QByteArray("PING\r\n") << QByteArray("\n\n") << QByteArray("PING\r\nPING\r\n") << QString();
    QTest::newRow("empty file") << QByteArray("[%1]") << QByteArray() << QByteArray() << QString();
    QTest::newRow("10 MB line") << QByteArray("<%1>") << repeated('x', 10 * 1024 * 1024) + "\r\ny"
                                << "<" + repeated('x', 10 * 1024 * 1024) + "><y>" << QString();
    // Fields that hold the next field's placeholder many times multiply:
    // three short fields would make a record of gigabytes.
    QTest::newRow("fields filling each other past the bound")
        << QByteArray("%1") << "%2" + QByteArray("%2").repeated(999) + ",%3" + QByteArray("%3").repeated(999) + "," + repeated('x', 1000)
        << QByteArray()
        << "An error occurred while attempting to merge the file. The operating system reports: 27, The "
           "merged text would be larger than 256 MB.";
}

void TestProtocols::mergeAll()
{
    QFETCH(QByteArray, templ);
    QFETCH(QByteArray, records);
    QFETCH(QByteArray, sent);
    QFETCH(QString, told);
    frmProtocol &w = merging(templ, records);
    w.cmdSend->click();
    QCOMPARE(m_host.sent, sent.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{sent});
    QCOMPARE(m_ui->messages(), told.isEmpty() ? QStringList() : QStringList{told});
}

// Which send runs: plain, merge of all, or the merge with reconnection.
void TestProtocols::sendChoices_data()
{
    QTest::addColumn<bool>("merge");
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("told");

    const QList<QByteArray> all{"<a><b>"};
    QTest::newRow("plain text, unchanged")
        << false << false << 0 << 7 << QList<QByteArray>{"<%1>"} << QStringList{} << "&Send" << false;
    QTest::newRow("merge of all") << true << false << 0 << 7 << all << QStringList{} << "&Send" << false;
    QTest::newRow("reconnect in Server mode merges all")
        << true << true << 1 << 0 << all << QStringList{} << "&Start Sending" << false;
    QTest::newRow("reconnect, connected: first record")
        << true << true << 0 << 7 << QList<QByteArray>{"<a>"} << QStringList{} << "Stop Sending" << false;
    QTest::newRow("reconnect, closed: connect first")
        << true << true << 0 << 0 << QList<QByteArray>{} << strings({"connect"}) << "Stop Sending" << false;
    QTest::newRow("reconnect, connecting: told, nothing changes")
        << true << true << 0 << 6 << QList<QByteArray>{} << QStringList{} << "&Start Sending" << true;
}

void TestProtocols::sendChoices()
{
    QFETCH(bool, merge);
    QFETCH(bool, reconnect);
    QFETCH(int, mode);
    QFETCH(int, state);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QStringList, calls);
    QFETCH(QString, caption);
    QFETCH(bool, told);

    DefaultOptions options; // both reconnection options on: no question
    options.autoReconnect = true;
    tw::setOptions(&options);
    m_host.mode = mode;
    m_host.state = state;
    frmProtocol &w = merging("<%1>", "a\r\nb\r\n");
    if (!merge)
        w.chkReplaceEscapedChars->click();
    QCOMPARE(w.chkDisconnectAfterMsgTx->isEnabled(), merge);
    QCOMPARE(w.cmdPreview->isEnabled(), merge);
    if (reconnect)
        w.chkDisconnectAfterMsgTx->click();
    w.cmdSend->click();
    tw::setOptions(nullptr);

    QCOMPARE(m_host.sent, sent);
    QCOMPARE(m_host.calls, calls);
    QCOMPARE(w.cmdSend->text(), caption);
    QCOMPARE(m_ui->prompts.size(), told ? 1 : 0);
    if (told)
        QCOMPARE(m_ui->prompts[0].text,
                 QStringLiteral("The socket is neither connected or closed.  Place the socket "
                                "into one of these states and retry this operation."));
}

// Preview shows the merge in the window's own send window; a merge file that
// cannot be read is told once, and nothing is sent or started.
void TestProtocols::previewAndUnreadableFile_data()
{
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<QString>("press");
    QTest::addColumn<QString>("told"); // the start of the one message shown, or empty
    QTest::addColumn<QByteArray>("previewed");

    const QString merge =
        QStringLiteral("An error occurred while attempting to merge the file. The operating system "
                       "reports: 2, ");
    QTest::newRow("preview") << true << "preview" << QString() << QByteArray("<a><b>");
    QTest::newRow("preview, nothing chosen") << true << "unselected"
                                             << "Please select a protocol." << QByteArray();
    QTest::newRow("preview, file missing") << false << "preview" << merge << QByteArray();
    QTest::newRow("send all, file missing") << false << "send" << merge << QByteArray();
    QTest::newRow("reconnect, file missing")
        << false << "reconnect"
        << "An error occurred while attempting to open the file. The operating system reports: 2, "
        << QByteArray();
}

void TestProtocols::previewAndUnreadableFile()
{
    QFETCH(bool, fileThere);
    QFETCH(QString, press);
    QFETCH(QString, told);
    QFETCH(QByteArray, previewed);

    DefaultOptions options;
    options.autoReconnect = true;
    tw::setOptions(&options);
    m_host.state = 7;
    frmProtocol &w = open();
    if (press != QLatin1String("unselected"))
        w.tvwProtocol->setCurrentItem(w.tvwProtocol->topLevelItem(0)->child(0));
    w.txtMessage->setData("<%1>");
    w.txtReplaceFileName->setText(fileThere ? writeData(QStringLiteral("list.txt"), "a\r\nb")
                                            : m_data->filePath(QStringLiteral("missing.txt")));
    w.chkReplaceEscapedChars->click();
    if (press == QLatin1String("reconnect"))
        w.chkDisconnectAfterMsgTx->click();
    (press == QLatin1String("send") || press == QLatin1String("reconnect") ? w.cmdSend : w.cmdPreview)
        ->click();
    tw::setOptions(nullptr);

    const QStringList shown = m_ui->messages();
    QCOMPARE(shown.size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty())
        QVERIFY2(shown[0].startsWith(told), qPrintable(shown[0]));
    QVERIFY(m_host.sent.isEmpty());
    QVERIFY(m_host.calls.isEmpty());
    QVERIFY(!w.MergeActive);
    frmSend *preview = w.previewWindow();
    QCOMPARE(preview->isVisible(), press == QLatin1String("preview"));
    if (preview->isVisible()) {
        QCOMPARE(preview->txtSend->data(), previewed);
        QVERIFY(preview->txtTitle->text().startsWith(QStringLiteral("m (")));
        QVERIFY(preview->IsNewWindow);
    }
}

// The reconnect option needs the automatic close and reconnection: the
// options window opens on its third tab and the user is asked.
void TestProtocols::reconnectNeedsItsOptions_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("No") << false;
    QTest::newRow("Yes") << true;
}

void TestProtocols::reconnectNeedsItsOptions()
{
    QFETCH(bool, yes);
    m_ui->yesNoAnswers.enqueue(yes);
    frmProtocol &w = merging("<%1>", "a\r\n");
    w.chkDisconnectAfterMsgTx->click();
    QCOMPARE(m_ui->prompts.size(), 1);
    QVERIFY(m_ui->prompts[0].text.endsWith(QStringLiteral("Enable them now?")));
    QVERIFY(frmOptions::instance() && frmOptions::instance()->isVisible());
    QCOMPARE(frmOptions::instance()->helpTopic(), 15);
    QCOMPARE(tw::options().AutoReconnect(), yes);
    QCOMPARE(tw::options().AutoCloseConnection(), true);
    QCOMPARE(w.cmdSend->text(), QStringLiteral("&Start Sending"));
    delete frmOptions::instance();
    qDeleteAll(QCoreApplication::instance()->findChildren<OptionsModel *>(Qt::FindDirectChildrenOnly));
    tw::setOptions(nullptr);
}

QTEST_MAIN(TestProtocols)
#include "tst_protocols.moc"
