#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendenv.h"
#include "ui/frmwait.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace {
const QString kAsciiOnly =
    QStringLiteral("This file only contains ASCII characters. The 'Binary data preceded by "
                   "'\\' ' check box has been turned off.");
const QString kUnprintable =
    QStringLiteral("This file contains unprintable characters. They will be represented "
                   "as a two digit hexadecimal number preceded by a backslash ('\\').");
const QString kLinkQuestion = QStringLiteral(
    "Should Tarnwell link to this file?\r\n\r\nThis means that if the file were to change then it will be "
    "automatically re-read before transmission but it means that the data cannot be edited on the screen.");
} // namespace

class tst_SendFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void loadingRules_data();
    void loadingRules();
    void everyByteComesBackWhenConverted();
    void unreadableFiles_data();
    void unreadableFiles();
    void linkMakesBoxReadOnly();
    void cancelKeepsPartAndAsksNothing();
    void largeFileLetsEventsRun();

private:
    std::unique_ptr<SendEnv> m_env;
    frmSend *m_w = nullptr;
};

void tst_SendFile::init()
{
    m_env = std::make_unique<SendEnv>();
    m_w = frmSend::OpenNewWindow();
}

void tst_SendFile::cleanup()
{
    m_env.reset();
}

void tst_SendFile::loadingRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("binaryBefore");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<bool>("binaryAfter");
    QTest::addColumn<QString>("notice");
    QTest::newRow("text, option off")
        << QByteArray("ab\r\ncd\n\re\\f") << false << QByteArray("ab\r\ncd\n\re\\f") << false << QString();
    QTest::newRow("text, option on") << QByteArray("GET /\r\n") << true << QByteArray("GET /\r\n") << false
                                     << kAsciiOnly;
    QTest::newRow("binary, option off")
        << QByteArray("\\\t\x7F\xC8\r\n") << false << QByteArray("\\5C\\09\\7F\\C8\r\n") << true << kUnprintable;
    QTest::newRow("binary, option on")
        << QByteArray("\0\xFF", 2) << true << QByteArray("\\00\\FF") << true << QString();
    QTest::newRow("empty, option on") << QByteArray() << true << QByteArray() << false << kAsciiOnly;
}

void tst_SendFile::loadingRules()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, binaryBefore);
    QFETCH(QByteArray, shown);
    QFETCH(bool, binaryAfter);
    QFETCH(QString, notice);
    m_w->chkBinary->setChecked(binaryBefore);
    const QString path = m_env->writeFile(QStringLiteral("f.dat"), file);
    m_env->ui.fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    QCOMPARE(m_w->txtSend->data(), shown);
    QCOMPARE(m_w->chkBinary->isChecked(), binaryAfter);
    QCOMPARE(m_env->ui.messages(), notice.isEmpty() ? QStringList() : QStringList{notice});
    if (!notice.isEmpty())
        QVERIFY(m_w->timingShown()); // the option is shown when it is changed
    // A whole file read brings the link question; No leaves it unlinked.
    QCOMPARE(m_env->ui.prompts.last().text, kLinkQuestion);
    QVERIFY(!m_w->IsLinked);
    QVERIFY(!m_w->txtSend->isReadOnly());
    QCOMPARE(m_w->LinkedFileDate, QFileInfo(path).lastModified());
}

void tst_SendFile::everyByteComesBackWhenConverted()
{
    QByteArray all;
    for (int b = 0; b < 256 * 8; ++b)
        all.append(char(b));
    m_env->ui.fileAnswers.enqueue(m_env->writeFile(QStringLiteral("all.bin"), all));
    m_w->cmdOpen_Click();
    QVERIFY(m_w->chkBinary->isChecked());
    // Prepared right after opening: the escapes convert back to the file.
    QCOMPARE(m_w->RawData, all);
    QVERIFY(!m_w->DataChanged);
}

void tst_SendFile::unreadableFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reported");
    QTest::newRow("vanished") << QStringLiteral("missing") << QStringLiteral("2, ");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("21, ");
    QTest::newRow("too large") << QStringLiteral("huge") << QStringLiteral("27, ");
}

void tst_SendFile::unreadableFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, reported);
    const QString path = m_env->dir.filePath(QStringLiteral("target"));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("huge")) {
        // A sparse file: large on paper, nothing on the disk.
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(300) * 1024 * 1024));
    }
    m_w->txtSend->setData("previous");
    m_w->IsLinked = true;
    m_w->LinkedFileName = QStringLiteral("/elsewhere");
    m_env->ui.fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(
        QStringLiteral("An error occurred while attempting to load the file.  The operating system reports: ") +
        reported));
    // No question, nothing lost, the link kept but due for a fresh read.
    QCOMPARE(m_w->txtSend->data(), QByteArray("previous"));
    QVERIFY(m_w->IsLinked);
    QVERIFY(!m_w->LinkedFileDate.isValid());
    QVERIFY(!m_w->IsLoading);
    QVERIFY(!m_w->isBusy());
}

void tst_SendFile::linkMakesBoxReadOnly()
{
    // Opening stops a running transmission first.
    m_w->setSendHook([](const QByteArray &) {});
    m_w->txtSend->setData("tick");
    m_w->chkPeriodically->setChecked(true);
    m_w->cmdSend_Click();
    QVERIFY(m_w->IsSending);
    const QString path = m_env->writeFile(QStringLiteral("linked.txt"), "PING\r\n");
    m_env->ui.fileAnswers.enqueue(path);
    m_env->ui.yesNoAnswers.enqueue(true);
    m_w->cmdOpen_Click();
    QVERIFY(!m_w->IsSending);
    QVERIFY(m_w->chkBinary->isEnabled());
    QVERIFY(m_w->IsLinked);
    QVERIFY(m_w->txtSend->isReadOnly());
    QCOMPARE(m_w->txtSend->toolTip(), path);
    QTest::keyClicks(m_w->txtSend, QStringLiteral("typed"));
    QCOMPARE(m_w->txtSend->data(), QByteArray("PING\r\n"));

    // Opening again and answering No unlinks.
    m_env->ui.fileAnswers.enqueue(path);
    m_env->ui.yesNoAnswers.enqueue(false);
    m_w->cmdOpen_Click();
    QVERIFY(!m_w->IsLinked);
    QVERIFY(!m_w->txtSend->isReadOnly());
}

void tst_SendFile::cancelKeepsPartAndAsksNothing()
{
    const QByteArray big = QByteArray("0123456789").repeated(400000);
    // Presses Cancel as soon as the progress window shows.
    QTimer canceller;
    canceller.setInterval(0);
    connect(&canceller, &QTimer::timeout, this, [this] {
        if (m_w->IsLoading && m_w->frmLoadWait->isVisible())
            QTest::mouseClick(m_w->frmLoadWait->findChild<QPushButton *>(QStringLiteral("cmdCancel")),
                              Qt::LeftButton);
    });
    canceller.start();
    m_env->ui.fileAnswers.enqueue(m_env->writeFile(QStringLiteral("big.txt"), big));
    m_w->cmdOpen_Click();
    canceller.stop();
    // The notice only: no link question after a partial read.
    QCOMPARE(m_env->ui.messages(),
             QStringList{QStringLiteral("You have cancelled the operation. Only part of the file will be displayed.")});
    QCOMPARE(m_env->ui.prompts.size(), 2);
    const QByteArray shown = m_w->txtSend->data();
    QVERIFY(!shown.isEmpty());
    QVERIFY(shown.size() < big.size());
    QVERIFY(big.startsWith(shown));
    QVERIFY(!m_w->frmLoadWait->isVisible());
}

void tst_SendFile::largeFileLetsEventsRun()
{
    QByteArray big;
    while (big.size() < 20 * 1024 * 1024)
        big += "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
    int ticksWhileLoading = 0;
    QTimer ticker;
    ticker.setInterval(1);
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (m_w->IsLoading) {
            ++ticksWhileLoading;
            // Keys pressed meanwhile must not land among the file's bytes.
            QTest::keyClick(m_w->txtSend, Qt::Key_Z);
        }
    });
    ticker.start();
    m_env->ui.fileAnswers.enqueue(m_env->writeFile(QStringLiteral("large.txt"), big));
    m_w->cmdOpen_Click();
    ticker.stop();
    QVERIFY(ticksWhileLoading > 0);
    QVERIFY(m_w->txtSend->data() == big);
    // Still an ordinary box to edit.
    m_w->txtSend->setCaretPosition(0);
    QTest::keyClicks(m_w->txtSend, QStringLiteral(">"));
    QCOMPARE(m_w->txtSend->data().left(4), QByteArray(">The"));
}

QTEST_MAIN(tst_SendFile)
#include "tst_sendfile.moc"
