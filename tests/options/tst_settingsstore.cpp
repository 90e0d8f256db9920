#include "options/settingsstore.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSettingsStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsDefaultsAndKeepsEmptyText();
    void sectionsAndKeysIgnoreCase();
    void nestedSectionsAreSeparate();
    void readAllKeepsOrder();
    void valuesSurviveTheFile_data();
    void valuesSurviveTheFile();
    void damagedFileIsKeptAndDefaultsUsed_data();
    void damagedFileIsKeptAndDefaultsUsed();
    void unwritableFileIsReportedOnce();
    void saveIsAtomic();
};

void TestSettingsStore::readsDefaultsAndKeepsEmptyText()
{
    TempSettings t;
    SettingsStore &s = t.store();
    QCOMPARE(s.Read(QStringLiteral("Mode"), QStringLiteral("Mode"), 0), QStringLiteral("0"));
    QCOMPARE(s.Read(QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QStringLiteral("x")), QStringLiteral("x"));
    s.Save(QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QString());
    t.reopen();
    // A stored empty text is a value, not a missing key.
    QCOMPARE(t.store().Read(QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QStringLiteral("x")), QString());
    QVERIFY(t.store().ReadAll(QStringLiteral("Nowhere")).isEmpty());
}

void TestSettingsStore::sectionsAndKeysIgnoreCase()
{
    TempSettings t;
    t.store().Save(QStringLiteral("StartUp"), QStringLiteral("Width"), QStringLiteral("6750"));
    t.store().Save(QStringLiteral("Startup"), QStringLiteral("Height"), QStringLiteral("6540"));
    t.store().Save(QStringLiteral("STARTUP"), QStringLiteral("width"), QStringLiteral("7000"));
    t.reopen();
    SettingsStore &s = t.store();
    QCOMPARE(s.Read(QStringLiteral("startup"), QStringLiteral("WIDTH")), QStringLiteral("7000"));
    QCOMPARE(s.Read(QStringLiteral("StartUp"), QStringLiteral("height")), QStringLiteral("6540"));
    const auto all = s.ReadAll(QStringLiteral("sTaRtUp"));
    QCOMPARE(all.size(), 2);
    // The first spelling of a key is the one kept.
    QCOMPARE(all.at(0).first, QStringLiteral("Width"));

    QFile f(t.iniPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().count("[StartUp]"), 1);
}

void TestSettingsStore::nestedSectionsAreSeparate()
{
    TempSettings t;
    t.store().Save(QStringLiteral("Send"), QStringLiteral("3"), QStringLiteral("three"));
    t.store().Save(QStringLiteral("Send\\3"), QStringLiteral("Data"), QStringLiteral("payload"));
    t.store().Save(QStringLiteral("Logging\\3"), QStringLiteral("LogOn"), QStringLiteral("1"));
    t.reopen();
    SettingsStore &s = t.store();
    QCOMPARE(s.Read(QStringLiteral("send\\3"), QStringLiteral("data")), QStringLiteral("payload"));
    QCOMPARE(s.ReadAll(QStringLiteral("send")).size(), 1);
    QCOMPARE(s.Read(QStringLiteral("Send"), QStringLiteral("Data"), QStringLiteral("none")), QStringLiteral("none"));
    QCOMPARE(s.Read(QStringLiteral("logging\\3"), QStringLiteral("logon")), QStringLiteral("1"));
    QVERIFY(s.ReadAll(QStringLiteral("Logging")).isEmpty());
}

void TestSettingsStore::readAllKeepsOrder()
{
    TempSettings t;
    t.store().Save(QStringLiteral("Send"), QStringLiteral("InitReadDir"), QStringLiteral("/tmp"));
    t.store().Save(QStringLiteral("Send"), QStringLiteral("1"), QStringLiteral("one"));
    t.store().Save(QStringLiteral("Send"), QStringLiteral("0"), QStringLiteral("zero"));
    t.store().Save(QStringLiteral("Send"), QStringLiteral("1"), QStringLiteral("uno"));
    t.reopen();
    const auto all = t.store().ReadAll(QStringLiteral("Send"));
    QCOMPARE(all.size(), 3);
    QCOMPARE(all.at(1), qMakePair(QStringLiteral("1"), QStringLiteral("uno")));
    QCOMPARE(all.at(2), qMakePair(QStringLiteral("0"), QStringLiteral("zero")));
}

void TestSettingsStore::valuesSurviveTheFile_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << QStringLiteral("localhost");
    QTest::newRow("CR LF") << QStringLiteral("GET / HTTP/1.0\r\n\r\n");
    QTest::newRow("lone CR and NUL") << QString::fromLatin1("a\rb\0c", 5);
    QTest::newRow("backslashes") << QStringLiteral("\\0D\\0A \\\\ \\x41");
    QTest::newRow("edge blanks") << QStringLiteral("  padded  ");
    QTest::newRow("equals and brackets") << QStringLiteral("[x]=y;#z");
    QTest::newRow("every byte") << [] {
        QString s;
        for (int i = 0; i < 256; ++i)
            s += QChar(i);
        return s;
    }();
    QTest::newRow("beyond Latin-1") << QStringLiteral("\u20AC\u00A0\u4E2D");
}

void TestSettingsStore::valuesSurviveTheFile()
{
    QFETCH(QString, value);
    TempSettings t;
    t.store().Save(QStringLiteral("Send\\1"), QStringLiteral("Data"), value);
    t.reopen();
    QCOMPARE(t.store().Read(QStringLiteral("Send\\1"), QStringLiteral("Data")), value);
    QVERIFY(t.store().problems().isEmpty());
}

void TestSettingsStore::damagedFileIsKeptAndDefaultsUsed_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe garbage", 12);
    QTest::newRow("not INI") << QByteArray("this is not a settings file\n");
    QTest::newRow("key before section") << QByteArray("Mode=1\n[Mode]\nMode=2\n");
    QTest::newRow("bad escape") << QByteArray("[Mode]\nMode=\\q\n");
}

void TestSettingsStore::damagedFileIsKeptAndDefaultsUsed()
{
    QFETCH(QByteArray, content);
    TempSettings t;
    t.writeIni(content);
    SettingsStore &s = t.store();
    QCOMPARE(s.Read(QStringLiteral("Mode"), QStringLiteral("Mode"), 0), QStringLiteral("0"));
    QCOMPARE(s.problems().size(), 1);
    QVERIFY(s.problems().first().contains(QStringLiteral("kept as")));

    // The damaged file is kept, byte for byte, under another name.
    const QStringList kept = QDir(t.dir()).entryList({QStringLiteral("tarnwell.ini.unreadable-*")});
    QCOMPARE(kept.size(), 1);
    QFile k(t.dir() + QLatin1Char('/') + kept.first());
    QVERIFY(k.open(QIODevice::ReadOnly));
    QCOMPARE(k.readAll(), content);

    // Writing afterwards creates a fresh, valid file and leaves the copy alone.
    QVERIFY(s.Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QStringLiteral("2")));
    t.reopen();
    QCOMPARE(t.store().Read(QStringLiteral("Mode"), QStringLiteral("Mode")), QStringLiteral("2"));
    QCOMPARE(QDir(t.dir()).entryList({QStringLiteral("tarnwell.ini.unreadable-*")}).size(), 1);
}

void TestSettingsStore::unwritableFileIsReportedOnce()
{
    if (geteuid() == 0)
        QSKIP("File permissions do not bind the superuser");
    TempSettings t;
    t.store().Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QStringLiteral("1"));
    QFile::setPermissions(t.dir(), QFile::ReadOwner | QFile::ExeOwner);
    QFile::setPermissions(t.iniPath(), QFile::ReadOwner);
    QVERIFY(!t.store().Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QStringLiteral("2")));
    QVERIFY(!t.store().Save(QStringLiteral("Mode"), QStringLiteral("Other"), QStringLiteral("3")));
    QCOMPARE(t.store().problems().size(), 1);
    // The value is kept for this run.
    QCOMPARE(t.store().Read(QStringLiteral("Mode"), QStringLiteral("Mode")), QStringLiteral("2"));
    QFile::setPermissions(t.dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestSettingsStore::saveIsAtomic()
{
    TempSettings t;
    for (int i = 0; i < 50; ++i)
        t.store().Save(QStringLiteral("Send"), QString::number(i), QStringLiteral("state %1").arg(i));
    // No temporary file is left behind, and the file always parses whole.
    const QStringList files = QDir(t.dir()).entryList(QDir::Files);
    QCOMPARE(files, QStringList{QStringLiteral("tarnwell.ini")});
    t.reopen();
    QCOMPARE(t.store().ReadAll(QStringLiteral("Send")).size(), 50);
    QVERIFY(t.store().problems().isEmpty());
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
