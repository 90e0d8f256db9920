#include "core/programfolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestProgramFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void userCopyReadFirst_data();
    void userCopyReadFirst();

private:
    QTemporaryDir m_shipped;
    QTemporaryDir m_home;
};

void TestProgramFolder::initTestCase()
{
    qputenv("TARNWELL_DATA_DIR", m_shipped.path().toLocal8Bit());
    qputenv("TARNWELL_HOME", m_home.path().toLocal8Bit());
    for (const char *name : {"Servers.txt", "Ports.txt"}) {
        QFile f(m_shipped.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
}

void TestProgramFolder::userCopyReadFirst_data()
{
    QTest::addColumn<bool>("userCopy");
    QTest::addColumn<bool>("expectUserCopy");
    QTest::newRow("shipped only") << false << false;
    QTest::newRow("user's copy beside it") << true << true;
}

void TestProgramFolder::userCopyReadFirst()
{
    QFETCH(bool, userCopy);
    QFETCH(bool, expectUserCopy);
    const QString name = QStringLiteral("Servers.txt");
    const QString own = m_home.filePath(name);
    QFile::remove(own);
    if (userCopy) {
        QFile f(own);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(ProgramFolder::dataFileUserFirst(name), expectUserCopy ? own : m_shipped.filePath(name));
    // A copy of one list leaves the others shipped.
    QCOMPARE(ProgramFolder::dataFileUserFirst(QStringLiteral("Ports.txt")),
             m_shipped.filePath(QStringLiteral("Ports.txt")));
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
