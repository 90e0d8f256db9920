#include "setup/frmalmanac.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {
// The shipped folder and the user's folder, both private to the test.
struct Folders
{
    QTemporaryDir dir;
    Folders()
    {
        QDir(dir.path()).mkpath(QStringLiteral("shipped"));
        QDir(dir.path()).mkpath(QStringLiteral("user"));
        qputenv("TARNWELL_DATA_DIR", shipped().toLocal8Bit());
        qputenv("TARNWELL_HOME", user().toLocal8Bit());
    }
    QString shipped() const { return dir.path() + QStringLiteral("/shipped"); }
    QString user() const { return dir.path() + QStringLiteral("/user"); }
    // Both lists as shipped, for the tests of a window's answers.
    void shipBoth(const QByteArray &servers, const QByteArray &ports) const
    {
        putFile(shipped() + QStringLiteral("/Servers.txt"), servers);
        putFile(shipped() + QStringLiteral("/Ports.txt"), ports);
    }
};

frmAlmanac *shared(const QString &which)
{
    return which == QLatin1String("server") ? static_cast<frmAlmanac *>(frmServer::shared(nullptr))
                                            : frmPort::shared(nullptr);
}

QStringList rows(const frmAlmanac *w)
{
    QStringList out;
    for (int i = 0; i < w->lstDetails->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = w->lstDetails->topLevelItem(i);
        QStringList row;
        for (int c = 0; c < item->columnCount(); ++c)
            row << item->text(c);
        out << row.join(QLatin1Char('|'));
    }
    return out;
}
} // namespace

class TestAlmanacs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        // Every test starts without a window, so the next use reads its file.
        delete frmServer::shared(nullptr);
        delete frmPort::shared(nullptr);
    }
    void loading_data()
    {
        // where: "shipped", "both" (the user's copy and a shipped file that differs) or "none";
        // rows: "|" between columns; problem: the end of the failure message, empty when there is none.
        for (const char *column : {"which", "where", "problem"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QList<int>>("clicks"); // the headers clicked after loading

        const auto row = [](const char *name, const char *which, const char *where, const char *problem,
                            const QByteArray &file, std::initializer_list<const char *> rows,
                            const QList<int> &clicks = {}) {
            QTest::newRow(name) << QString::fromLatin1(which) << QString::fromLatin1(where)
                                << QString::fromLatin1(problem) << file << texts(rows) << clicks;
        };
        row("servers sorted by name, quoted comma kept", "server", "shipped", "",
            "zeta.example, Web ,Last\r\nAlpha.example,Mail,\"Mail, and more\"\r\nbeta.example,Time,B\r\n",
            {"Alpha.example|Mail|Mail, and more", "beta.example|Time|B", "zeta.example|Web|Last"});
        row("ports keep the file's order", "port", "shipped", "", "110,POP3\n21,FTP\n7,Echo",
            {"110|POP3", "21|FTP", "7|Echo"});
        row("a user's copy wins over the shipped file", "port", "both", "", "8080,Mine\n", {"8080|Mine"});
        row("record cut short", "server", "shipped",
            "61, The record that begins on line 2 is cut short by the end of the file.",
            "b.example,Web,B\r\na.example,Web\r\n", {"b.example|Web|B"});
        row("quote never closed", "port", "shipped",
            "84, The quoted item that begins on line 2 is never closed.", "7,Echo\n9,\"Discard\n13,Daytime\n",
            {"7|Echo"});
        row("missing file", "port", "none", "2, No such file or directory", "", {});
        // A header clicked sorts by its column as text, clicked again the other way.
        const QByteArray servers = "c,Mail,1\nB,Web,2\na,Time,3\n", ports = "21,FTP\n7,Echo\n110,POP3\n";
        row("server name clicked: reversed", "server", "shipped", "", servers,
            {"c|Mail|1", "B|Web|2", "a|Time|3"}, {0});
        row("server name clicked twice", "server", "shipped", "", servers,
            {"a|Time|3", "B|Web|2", "c|Mail|1"}, {0, 0});
        row("another column: ascending", "server", "shipped", "", servers,
            {"c|Mail|1", "a|Time|3", "B|Web|2"}, {0, 1});
        row("port number clicked: by text", "port", "shipped", "", ports, {"110|POP3", "21|FTP", "7|Echo"},
            {0});
        row("description clicked twice", "port", "shipped", "", ports, {"110|POP3", "21|FTP", "7|Echo"},
            {1, 1});

        const QByteArray longText(300000, 'x');
        QTest::newRow("very long field")
            << "port"
            << "shipped" << QString() << QByteArray("1,") + longText + "\n2,Two\n"
            << QStringList{QStringLiteral("1|") + QString::fromLatin1(longText), QStringLiteral("2|Two")}
            << QList<int>{};
        // A file past the limit shows the whole lines of its first part.
        const QByteArray line = QByteArray("12345,") + QByteArray(58, 'd') + '\n'; // 65 bytes
        QByteArray huge;
        while (huge.size() <= frmAlmanac::kMaxFileBytes)
            huge += line;
        QTest::newRow("file too large")
            << "port"
            << "shipped"
            << QStringLiteral("27, The file is larger than 1024 KB; the rows of its first 1024 KB are shown.")
            << huge
            << QStringList(frmAlmanac::kMaxFileBytes / line.size(),
                           QStringLiteral("12345|") + QString(58, QLatin1Char('d')))
            << QList<int>{};
    }

    void loading()
    {
        QFETCH(QString, which);
        QFETCH(QString, where);
        QFETCH(QString, problem);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, rows);
        QFETCH(QList<int>, clicks);
        Folders folders;
        ScriptedUi ui;
        const QString name =
            which == QLatin1String("server") ? QStringLiteral("Servers.txt") : QStringLiteral("Ports.txt");
        const bool both = where == QLatin1String("both");
        const QString shipped = folders.shipped() + QLatin1Char('/') + name;
        const QString read = both ? folders.user() + QLatin1Char('/') + name : shipped;
        if (where != QLatin1String("none"))
            putFile(read, file);
        if (both)
            putFile(shipped, "1,Shipped\n");

        frmAlmanac *w = shared(which);
        w->Load();
        for (int column : clicks)
            Q_EMIT w->lstDetails->header()->sectionClicked(column);
        QCOMPARE(::rows(w), rows);
        const QStringList expected =
            problem.isEmpty()
                ? QStringList{}
                : QStringList{QStringLiteral("An error occurred while attempting to retrieve the ") + which +
                              QStringLiteral(" information from the file located at ") +
                              QDir::toNativeSeparators(read) +
                              QStringLiteral(". The operating system reports: ") + problem};
        QCOMPARE(ui.messages(), expected);

        // The list is read once: a later showing keeps it, whatever the file says now.
        putFile(read, "9,Later\n");
        w->Choose({});
        QCOMPARE(::rows(w), rows);
        QCOMPARE(ui.prompts.size(), expected.size());
    }

    void answers_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QStringList>("actions"); // one showing each: "ok 1" (row 1 selected), "ok", "double
                                                  // 0", "cancel", "escape", "close"
        QTest::addColumn<QStringList>("results"); // what the caller was given after each showing

        QTest::newRow("a double click is OK") << "port" << texts({"double 2"}) << texts({"110"});
        QTest::newRow("OK with no row chosen gives nothing") << "port" << texts({"ok"}) << texts({""});
        QTest::newRow("Cancel after an earlier OK")
            << "port" << texts({"ok 0", "cancel"}) << texts({"21", "CANCEL"});
        QTest::newRow("Esc is Cancel") << "server" << texts({"escape"}) << texts({"CANCEL"});
        QTest::newRow("the close box discards, the next use reads again")
            << "server" << texts({"close", "ok 0"}) << texts({"", "z.example"});
    }

    void answers()
    {
        QFETCH(QString, which);
        QFETCH(QStringList, actions);

        Folders folders;
        ScriptedUi ui;
        folders.shipBoth("c,Mail,1\nB,Web,2\na,Time,3\n", "21,FTP\n7,Echo\n110,POP3\n");

        QStringList given;
        QPointer<frmAlmanac> previous;
        for (const QString &action : actions) {
            frmAlmanac *w = shared(which);
            previous = w;
            int calls = 0;
            w->Choose([&](const QString &result) {
                ++calls;
                given << result;
            });
            QVERIFY(w->isVisible() && w->isModal());
            QCOMPARE(w->result(), QString());
            const QString at = action.section(QLatin1Char(' '), 1);
            const int row = at.isEmpty() ? -1 : at.toInt();
            if (row >= 0)
                w->lstDetails->setCurrentItem(w->lstDetails->topLevelItem(row));
            if (action.startsWith(QLatin1String("ok")))
                w->cmdOK->click();
            else if (action.startsWith(QLatin1String("double")))
                Q_EMIT w->lstDetails->itemDoubleClicked(w->lstDetails->topLevelItem(row), 0);
            else if (action == QLatin1String("cancel"))
                w->cmdCancel->click();
            else if (action == QLatin1String("escape"))
                QTest::keyClick(w, Qt::Key_Escape);
            else
                w->close();
            QCOMPARE(calls, 1);
            QVERIFY(!w->isVisible());
            if (action == QLatin1String("close"))
                QTRY_VERIFY(previous.isNull()); // discarded
            else
                QCOMPARE(w->result(), given.last());
            // Only a window made anew reads the files again.
            folders.shipBoth("z.example,Web,Z\n", "9,Discard\n");
        }
        QTEST(given, "results");
        QVERIFY(ui.prompts.isEmpty());
    }
};

QTEST_MAIN(TestAlmanacs)
#include "tst_almanacs.moc"
