#include "options/settingsstore.h"
#include "support/testenv.h"

#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QtTest>
#include <iostream>
#include <string>

namespace {
using Changes = SettingsStore::Changes;
const QString kNumbers = QStringLiteral("Numbers");

// The writer half of the two-process test: opens the store, says it is
// ready, waits for "go" on its input, then saves `count` keys of its own and
// reserves `count` numbers in one shared section, each in one locked step.
int runWriter(const QString &path, const QString &tag, int count)
{
    SettingsStore store(path);
    std::cout << "ready" << std::endl;
    std::string go;
    std::getline(std::cin, go);
    for (int i = 0; i < count; ++i) {
        const OsError e = store.Update([&](const SettingsStore &s) {
            int n = 0;
            while (s.contains(kNumbers, QString::number(n)))
                ++n;
            return Changes{{kNumbers, QString::number(n), tag + QString::number(i)},
                           {tag, QString::number(i), QStringLiteral("v")}};
        });
        if (e.isError()) {
            std::cerr << e.number << ' ' << qPrintable(e.description) << std::endl;
            return 1;
        }
    }
    return 0;
}
} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void contractOfReadAndSave();
    void filesOfEarlierVersionsRead_data();
    void filesOfEarlierVersionsRead();
    void unreadableLinesAreSkippedAndKept_data();
    void unreadableLinesAreSkippedAndKept();
    void twoStoresOnOneFileKeepEachOthersKeys();
    void twoProcessesLoseNothing();
    void failedSaveSaysWhyAndChangesNothing_data();
    void failedSaveSaysWhyAndChangesNothing();
};

void TestSettingsStore::contractOfReadAndSave()
{
    TempSettings t;
    SettingsStore &s = t.store();
    QCOMPARE(s.Read(QStringLiteral("Mode"), QStringLiteral("Mode"), 0), QStringLiteral("0"));
    QVERIFY(s.ReadAll(QStringLiteral("Nowhere")).isEmpty());
    QVERIFY(!s.SaveMany({{QStringLiteral("StartUp"), QStringLiteral("Width"), QStringLiteral("6750")},
                         {QStringLiteral("Startup"), QStringLiteral("Height"), QStringLiteral("6540")},
                         {QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QString()},
                         {QStringLiteral("Send\\3"), QStringLiteral("Data"), QStringLiteral("\\0D\\0A")}})
                 .isError());
    QCOMPARE(s.writeCount(), 1);
    // Saving what is already there writes nothing.
    QVERIFY(!s.Save(QStringLiteral("STARTUP"), QStringLiteral("width"), QStringLiteral("6750")).isError());
    QCOMPARE(s.writeCount(), 1);
    t.reopen();
    QCOMPARE(t.store().Read(QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QStringLiteral("x")),
             QString());
    QCOMPARE(t.store().ReadAll(QStringLiteral("startup")).size(), 2);
    QVERIFY(t.store().ReadAll(QStringLiteral("Send")).isEmpty());
    // Nested sections and the escapes of send data stay readable by hand.
    const QByteArray file = fileBytes(t.iniPath());
    QVERIFY(file.contains("[Send\\3]\nData=\\0D\\0A\n"));
    QCOMPARE(file.count("[StartUp]"), 1);
    QVERIFY(t.store().problems().isEmpty());
    // Nothing is left beside the file: no lock, no temporary file.
    QVERIFY(!t.store().CheckWritable().isError());
    QCOMPARE(QDir(t.dir()).entryList(QDir::Files), QStringList{QStringLiteral("tarnwell.ini")});

    // Every UTF-16 code unit, in a name and in a value.
    QString every;
    for (int c = 0; c < 0x10000; ++c)
        every += QChar(char16_t(c));
    QVERIFY(!t.store().SaveMany({{every, every, every}}).isError());
    t.reopen();
    QCOMPARE(t.store().ReadAll(every), (QList<QPair<QString, QString>>{{every, every}}));

    // Removing a key written twice by hand removes both lines.
    t.writeIni("[S]\nk=1\nK=2\n");
    QVERIFY(!t.store().SaveMany({{QStringLiteral("s"), QStringLiteral("k"), std::nullopt}}).isError());
    t.reopen();
    QVERIFY(!t.store().contains(QStringLiteral("S"), QStringLiteral("k")));
}

void TestSettingsStore::filesOfEarlierVersionsRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const auto row = [](const char *name, const QByteArray &file, const char *section, const char *key,
                        const char *value) {
        QTest::newRow(name) << file << QString::fromLatin1(section) << QString::fromLatin1(key)
                            << QString::fromUtf8(value);
    };
    row("nested section", "[Send\\3]\nData=x\n\n", "send\\3", "data", "x");
    row("escaped backslashes", "[Send\\3]\nData=\\\\0D\\\\0A\n", "Send\\3", "Data", "\\0D\\0A");
    row("escaped controls and edge blanks", "[S]\nk=\\x20a\\x0D\\x0Ab\\x20\n", "S", "k", " a\r\nb ");
    row("equals sign in a key", "[S]\na\\x3Db=c=d\n", "S", "a=b", "c=d");
    row("CR LF line ends", "[S]\r\nk=v\r\n", "S", "k", "v");
    row("UTF-8", "[S]\nk=\xe2\x82\xac\xc2\xa0\n", "S", "k", "\u20AC\u00A0");
    row("one section, two spellings", "[StartUp]\nWidth=1\n[Startup]\nHeight=2\n", "STARTUP", "height", "2");
    row("blanks around a key", "[S]\n  k  =v\n", "S", "k", "v");
    row("later line of a key holds", "[S]\nk=1\nk=2\n", "S", "k", "2");
    row("backslash typed by hand", "[S]\nk=C:\\Temp\\x\n", "S", "k", "C:\\Temp\\x");
    row("comments", "; note\n[S]\n# note\nk=v\n", "S", "k", "v");
}

void TestSettingsStore::filesOfEarlierVersionsRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    TempSettings t;
    t.writeIni(file);
    QTEST(t.store().Read(section, key), "value");
    QVERIFY(t.store().problems().isEmpty());
    // A save of another key leaves every line of the file as it was.
    QVERIFY(!t.store().Save(QStringLiteral("Other"), QStringLiteral("k"), QStringLiteral("v")).isError());
    QVERIFY(fileBytes(t.iniPath()).startsWith(file));
}

void TestSettingsStore::unreadableLinesAreSkippedAndKept_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("skipped");
    QTest::addColumn<QString>("orphanKey"); // a key under the damage, not given to [S]
    const auto row = [](const char *name, const QByteArray &file, const char *skipped, const char *orphan) {
        QTest::newRow(name) << file << QString::fromLatin1(skipped) << QString::fromLatin1(orphan);
    };
    row("not UTF-8", "[S]\nk=v\nbad=\xff\xfe\nk2=v2\n", "Line 3 ", "bad");
    row("binary", "[S]\nk=v\n" + QByteArray("\0\1\xff garbage", 11) + "\nk2=v2\n", "Line 3 ", "");
    row("no equals sign", "[S]\nk=v\nhello world\nk2=v2\n", "Line 3 ", "");
    row("key before any section", "x=1\n[S]\nk=v\nk2=v2\n", "Line 1 ", "x");
    row("heading without its bracket", "[S]\nk=v\nk2=v2\n[T\ny=1\nz=2\n", "Lines 4 to 6 ", "y");
    row("heading with a note", "[S]\nk=v\nk2=v2\n[T] ; mine\ny=1\n", "Lines 4 to 5 ", "y");
}

void TestSettingsStore::unreadableLinesAreSkippedAndKept()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, skipped);
    QFETCH(QString, orphanKey);
    TempSettings t;
    t.writeIni(file);
    SettingsStore &s = t.store();
    QCOMPARE(s.problems().size(), 1);
    QVERIFY2(s.problems().first().startsWith(skipped), qPrintable(s.problems().first()));
    QCOMPARE(s.Read(QStringLiteral("S"), QStringLiteral("k")), QStringLiteral("v"));
    QCOMPARE(s.Read(QStringLiteral("S"), QStringLiteral("k2")), QStringLiteral("v2"));
    if (!orphanKey.isEmpty())
        QVERIFY(!s.contains(QStringLiteral("S"), orphanKey));

    // The next save changes its own line; every other byte stays.
    QVERIFY(!s.Save(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("w")).isError());
    QByteArray expected = file;
    expected.replace(expected.indexOf("k=v\n"), 4, "k=w\n");
    QCOMPARE(fileBytes(t.iniPath()), expected);
    t.reopen();
    QCOMPARE(t.store().problems().size(), 1);
}

void TestSettingsStore::twoStoresOnOneFileKeepEachOthersKeys()
{
    TempSettings t;
    SettingsStore a(t.iniPath());
    SettingsStore b(t.iniPath());
    QVERIFY(
        !a.Save(QStringLiteral("Options"), QStringLiteral("AutoReconnect"), QStringLiteral("1")).isError());
    QVERIFY(!b.Save(QStringLiteral("Send"), QStringLiteral("0"), QStringLiteral("state")).isError());
    // Each save brings in what the other wrote.
    QCOMPARE(b.Read(QStringLiteral("Options"), QStringLiteral("AutoReconnect")), QStringLiteral("1"));
    // A step reads the file as it is now: the number b took is not free for a.
    int taken = -1;
    QVERIFY(!a.Update([&](const SettingsStore &s) {
                  taken = s.contains(QStringLiteral("Send"), QStringLiteral("0")) ? 1 : 0;
                  return Changes{{QStringLiteral("Send"), QString::number(taken), QStringLiteral("other")}};
              }).isError());
    QCOMPARE(taken, 1);
    // A removal takes away only its key.
    QVERIFY(!b.SaveMany({{QStringLiteral("Send"), QStringLiteral("0"), std::nullopt}}).isError());
    t.reopen();
    QCOMPARE(t.store().Read(QStringLiteral("Options"), QStringLiteral("AutoReconnect")), QStringLiteral("1"));
    QCOMPARE(t.store().ReadAll(QStringLiteral("Send")),
             (QList<QPair<QString, QString>>{{QStringLiteral("1"), QStringLiteral("other")}}));
}

void TestSettingsStore::twoProcessesLoseNothing()
{
    TempSettings t;
    constexpr int kCount = 40;
    QProcess writers[2];
    const QStringList tags = {QStringLiteral("A"), QStringLiteral("B")};
    for (int i = 0; i < 2; ++i) {
        writers[i].start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--writer"), t.iniPath(), tags[i], QString::number(kCount)});
        QVERIFY(writers[i].waitForStarted());
    }
    // Both have read the (empty) file before either writes.
    for (QProcess &w : writers) {
        while (!w.canReadLine())
            QVERIFY(w.waitForReadyRead(30000));
        QCOMPARE(w.readLine(), QByteArray("ready\n"));
    }
    for (QProcess &w : writers)
        w.write("go\n");
    for (QProcess &w : writers) {
        QVERIFY(w.waitForFinished(120000));
        QVERIFY2(w.exitCode() == 0, w.readAllStandardError().constData());
    }
    t.reopen();
    QCOMPARE(t.store().ReadAll(tags[0]).size(), kCount);
    QCOMPARE(t.store().ReadAll(tags[1]).size(), kCount);
    // No number was given out twice.
    QSet<QString> owners;
    for (int n = 0; n < 2 * kCount; ++n)
        owners.insert(t.store().Read(kNumbers, QString::number(n)));
    QCOMPARE(owners.size(), 2 * kCount);
    QVERIFY(!owners.contains(QString()));
}

void TestSettingsStore::failedSaveSaysWhyAndChangesNothing_data()
{
    QTest::addColumn<QString>("blocker"); // what stands in the way of the file
    QTest::addColumn<int>("number");
    QTest::newRow("folder is a regular file") << "file" << ENOTDIR;
    QTest::newRow("file is a folder") << "folder" << EISDIR;
    QTest::newRow("another copy holds the lock") << "lock" << EBUSY;
}

void TestSettingsStore::failedSaveSaysWhyAndChangesNothing()
{
    QFETCH(QString, blocker);
    QFETCH(int, number);
    TempSettings t;
    QString path = t.path(QStringLiteral("other.ini"));
    QLockFile lock(path + QStringLiteral(".lock"));
    if (blocker == QLatin1String("file")) {
        path = t.underAFile(QStringLiteral("tarnwell.ini"));
    } else if (blocker == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else {
        QVERIFY(lock.tryLock(0));
    }
    SettingsStore s(path);
    for (const OsError &e :
         {s.Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QStringLiteral("2")), s.CheckWritable()}) {
        QCOMPARE(e.number, number);
        QVERIFY2(e.description.startsWith(qt_error_string(number)), qPrintable(e.description));
    }
    QCOMPARE(s.Read(QStringLiteral("Mode"), QStringLiteral("Mode"), 0), QStringLiteral("0"));
    QCOMPARE(s.writeCount(), 0);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    TestSettingsStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsstore.moc"
