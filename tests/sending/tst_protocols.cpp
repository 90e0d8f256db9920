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
        return putFile(m_data->filePath(name), bytes);
    }
    frmProtocol &open()
    {
        m_w = std::make_unique<frmProtocol>(&m_host);
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
        dropOptions();
        qputenv("TARNWELL_DATA_DIR", m_previousDataDir);
        m_data.reset();
        m_log.reset();
        m_ui.reset();
        m_settings.reset();
    }

    // Groups follow the records; a group that returns after another starts a
    // second node. A damaged library is told once and keeps the records before
    // the damage. The user's own copy of the library takes the shipped one's place.
    void treeFromFile_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("file"); // none: neither copy exists
        QTest::addColumn<QStringList>("shape");
        QTest::addColumn<QString>("told"); // a part of the one failure text, or empty for none
        const auto row = [](const char *name, std::optional<QByteArray> file, const QStringList &shape,
                            const char *told) {
            QTest::newRow(name) << file << shape << QString::fromLatin1(told);
        };
        row("groups", "A,x,\"GET / HTTP/1.1\r\n\r\n\"\nA,y,\r\n\"two\"\rB,z,\"a, b\"\r\n\r\nA,w,\"\"\r\n",
            texts({"R1 A: L1=x L2=y", "R3 B: L3=z", "R4 A: L4=w"}), "");
        row("missing", std::nullopt, {}, "The operating system reports: 2, ");
        row("empty", QByteArray(), {}, "");
        row("unclosed quote", "A,x,\"1\"\r\nA,y,\"never\r\n", texts({"R1 A: L1=x"}), "begins on line 2 of");
        row("record cut short", "A,x,\"1\"\r\nA,y\r\n", texts({"R1 A: L1=x"}),
            "is cut short by the end of the file.");
    }

    void treeFromFile()
    {
        QFETCH(std::optional<QByteArray>, file);
        QFETCH(QString, told);
        if (file)
            putFile(ProgramFolder::writableDir() + QStringLiteral("/Protocols.txt"), *file);
        else
            QFile::remove(m_data->filePath(QStringLiteral("Protocols.txt")));
        QTreeWidget *tree = open().tvwProtocol;
        QStringList got;
        for (int g = 0; g < tree->topLevelItemCount(); ++g) {
            QTreeWidgetItem *group = tree->topLevelItem(g);
            QString line = group->data(0, Qt::UserRole).toString() + QLatin1Char(' ') + group->text(0) +
                           QLatin1Char(':');
            for (int m = 0; m < group->childCount(); ++m)
                line += QLatin1Char(' ') + group->child(m)->data(0, Qt::UserRole).toString() +
                        QLatin1Char('=') + group->child(m)->text(0);
            got << line;
        }
        QTEST(got, "shape");
        const QStringList shown = m_ui->messages();
        QCOMPARE(shown.size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QVERIFY2(shown[0].startsWith(
                         QStringLiteral("An error occurred while attempting to read the protocol")) &&
                         shown[0].contains(told),
                     qPrintable(shown[0]));
    }

    // A message chosen shows its text, and its viewer follows; a group shows
    // nothing. Closing keeps the merge file for the next run.
    void chooseAndClose()
    {
        frmProtocol &w = open();
        w.chooseNode(w.tvwProtocol->topLevelItem(0)->child(0));
        QCOMPARE(w.txtMessage->data(), QByteArray("text"));
        QCOMPARE(w.details()->currentText(), QByteArray("text"));
        w.chooseNode(w.tvwProtocol->topLevelItem(0));
        QCOMPARE(w.txtMessage->data(), QByteArray());
        w.txtReplaceFileName->setText(QStringLiteral("/lists/\xE9t\xE9.txt"));
        w.cmdClose->click();
        QCOMPARE(open().txtReplaceFileName->text(), QStringLiteral("/lists/\xE9t\xE9.txt"));
    }

    // The library shipped with the program: every record whole, every message
    // with the line ends its protocol needs, every declared length right.
    void shippedLibrary()
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
    void mergeAll_data()
    {
        QTest::addColumn<QByteArray>("templ");
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("told"); // the one message shown, or empty

        const auto row = [](const char *name, const QByteArray &templ, const QByteArray &records,
                            const QByteArray &sent, const char *told = "") {
            QTest::newRow(name) << templ << records << sent << QString::fromLatin1(told);
        };
        const QByteArray dear = "Dear %1, your code is %2.|", x10M(10 * 1024 * 1024, 'x');
        row("last field trimmed, earlier keep blanks", dear, "Ann, 42\r\nAnn ,42",
            "Dear Ann, your code is 42.|Dear Ann , your code is 42.|");
        row("empty field, trailing comma", dear, ",42\nAnn,",
            "Dear , your code is 42.|Dear Ann, your code is %2.|");
        row("own placeholder, %10, bytes above 127", "%1 %10|", "5%1\ra\xE9,b,c,d,e,f,g,h,i,j",
            "5%1 5%10|a\xE9 a\xE9"
            "0|");
        row("blank lines skipped with placeholder", "[%1]", "a\r\n\r\n  \r\rb\n", "[a][b]");
        row("blank lines kept without placeholder", "PING\r\n", "\n\n", "PING\r\nPING\r\n");
        row("empty file", "[%1]", "", "");
        row("10 MB line", "<%1>", x10M + "\r\ny", "<" + x10M + "><y>");
        // The file is read 64 KB at a time: a CR ending the first block and the
        // LF opening the next are one line end, not an empty line between.
        row("CR LF where read blocks meet", "PING|", QByteArray(64 * 1024 - 1, 'x') + "\r\nb", "PING|PING|");
        // Fields that hold the next field's placeholder many times multiply:
        // three short fields would make a record of gigabytes.
        row("fields filling each other past the bound", "%1",
            "%2" + QByteArray("%2").repeated(999) + ",%3" + QByteArray("%3").repeated(999) + "," +
                QByteArray(1000, 'x'),
            "",
            "An error occurred while attempting to merge the file. The operating system reports: 27, The "
            "merged text would be larger than 256 MB.");
    }

    void mergeAll()
    {
        QFETCH(QByteArray, templ);
        QFETCH(QByteArray, records);
        QFETCH(QByteArray, sent);
        QFETCH(QString, told);
        frmProtocol &w = open();
        w.txtMessage->setData(templ);
        w.txtReplaceFileName->setText(writeData(QStringLiteral("list.txt"), records));
        w.chkReplaceEscapedChars->click();
        w.cmdSend->click();
        QCOMPARE(m_host.sent, sent.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{sent});
        QCOMPARE(m_ui->messages(), told.isEmpty() ? QStringList() : QStringList{told});
    }

    // What Send and Preview do: plain text as it is, the merge of all, or the
    // merge with reconnection by the state of the connection; Preview shows the
    // merge in the window's own send window. A merge file that cannot be read is
    // told once, and nothing is sent or started. `how`: the button ("send",
    // "preview", or "unselected" for Preview with no message chosen), the
    // choice ("plain", "merge" or "reconnect"), the mode, the client's state,
    // and whether the merge file is there ("file" or "missing"). Both
    // reconnection options are on, or else ticking the reconnect box asks to
    // turn them on and opens the options window on its third tab: "yes" or "no".
    void clicks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QList<QByteArray>>("out"); // to the connection, or shown by Preview
        QTest::addColumn<QString>("caption");       // Send's, afterwards
        QTest::addColumn<QString>("told");          // the start of the one prompt, or empty
        QTest::addColumn<QStringList>("calls");
        const auto row = [](const char *name, const char *how, const QList<QByteArray> &out,
                            const char *caption, const char *told = "", const QStringList &calls = {}) {
            QTest::newRow(name) << QString::fromLatin1(how) << out << QString::fromLatin1(caption)
                                << QString::fromLatin1(told) << calls;
        };
        const char *merge =
            "An error occurred while attempting to merge the file. The operating system reports: 2, ";
        row("plain text, unchanged", "send plain 0 7 file", {"<%1>"}, "&Send");
        row("merge of all", "send merge 0 7 file", {"<a><b>"}, "&Send");
        row("reconnect in Server mode merges all", "send reconnect 1 0 file", {"<a><b>"}, "&Start Sending");
        row("reconnect, connected: first record", "send reconnect 0 7 file", {"<a>"}, "Stop Sending");
        row("reconnect, closed: connect first", "send reconnect 0 0 file", {}, "Stop Sending", "",
            texts({"connect"}));
        row("reconnect, connecting: told, nothing changes", "send reconnect 0 6 file", {}, "&Start Sending",
            "The socket is neither connected or closed.  Place the socket into one of these states");
        row("preview", "preview merge 0 7 file", {"<a><b>"}, "&Send");
        row("preview, nothing chosen", "unselected merge 0 7 file", {}, "&Send", "Please select a protocol.");
        row("preview, file missing", "preview merge 0 7 missing", {""}, "&Send", merge);
        row("send all, file missing", "send merge 0 7 missing", {}, "&Send", merge);
        const char *asked = "For this feature to work, the 'Automatically close connection";
        row("reconnect, options off, No", "send reconnect 1 0 file no", {"<a><b>"}, "&Start Sending", asked);
        row("reconnect, options off, Yes", "send reconnect 1 0 file yes", {"<a><b>"}, "&Start Sending",
            asked);
        row("reconnect, file missing", "send reconnect 0 7 missing", {}, "&Start Sending",
            "An error occurred while attempting to open the file. The operating system reports: 2, ");
    }

    void clicks()
    {
        QFETCH(QString, how);
        QFETCH(QString, caption);
        QFETCH(QString, told);
        const QStringList h = how.split(QLatin1Char(' '));
        const QString &press = h[0], &choice = h[1];
        const bool asked = h.size() > 5;
        DefaultOptions options;
        options.autoReconnect = true;
        if (asked)
            m_ui->yesNoAnswers.enqueue(h[5] == QLatin1String("yes"));
        else
            tw::setOptions(&options);
        m_host.mode = h[2].toInt();
        m_host.state = h[3].toInt();
        frmProtocol &w = open();
        if (press != QLatin1String("unselected"))
            w.tvwProtocol->setCurrentItem(w.tvwProtocol->topLevelItem(0)->child(0));
        w.txtMessage->setData("<%1>");
        w.txtReplaceFileName->setText(h[4] == QLatin1String("file")
                                          ? writeData(QStringLiteral("list.txt"), "a\r\nb\r\n")
                                          : m_data->filePath(QStringLiteral("missing.txt")));
        const bool merging = choice != QLatin1String("plain");
        if (merging)
            w.chkReplaceEscapedChars->click();
        QVERIFY(w.chkDisconnectAfterMsgTx->isEnabled() == merging && w.cmdPreview->isEnabled() == merging);
        if (choice == QLatin1String("reconnect"))
            w.chkDisconnectAfterMsgTx->click();
        (press == QLatin1String("send") ? w.cmdSend : w.cmdPreview)->click();
        if (!asked)
            tw::setOptions(nullptr);

        frmSend *preview = w.previewWindow();
        QCOMPARE(preview->isVisible(), press == QLatin1String("preview"));
        if (preview->isVisible()) {
            QVERIFY(m_host.sent.isEmpty() && preview->IsNewWindow &&
                    preview->txtTitle->text().startsWith(u"m ("));
            m_host.sent = {preview->txtSend->data()};
        }
        if (asked) {
            QVERIFY(frmOptions::instance() && frmOptions::instance()->isVisible());
            QCOMPARE(frmOptions::instance()->helpTopic(), 15);
            QCOMPARE(tw::options().AutoReconnect(), h[5] == QLatin1String("yes"));
            QVERIFY(tw::options().AutoCloseConnection());
        }
        QTEST(m_host.sent, "out");
        QTEST(m_host.calls, "calls");
        QCOMPARE(w.cmdSend->text(), caption);
        QCOMPARE(w.MergeActive, caption == QLatin1String("Stop Sending"));
        const QStringList shown = m_ui->texts();
        QCOMPARE(shown.size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QVERIFY2(shown[0].startsWith(told), qPrintable(shown[0]));
    }
};

QTEST_MAIN(TestProtocols)
#include "tst_protocols.moc"
