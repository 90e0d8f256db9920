#include "core/programfolder.h"
#include "sending/bytetextedit.h"
#include "sending/sendenv.h"
#include "ui/frmwait.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
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
    void unreadableFiles_data();
    void unreadableFiles();
    void linkAndSaveAs();
    void cancelKeepsPartAndAsksNothing();
    void keysDuringALoadStayOut();

private:
    std::unique_ptr<SendEnv> m_env;
    frmSend *m_w = nullptr;
};

void tst_SendFile::init()
{
    m_env = std::make_unique<SendEnv>();
    m_w = frmSend::OpenNewWindow();
    // Events run after every block of 1000 characters: a test's timer acts at the first.
    m_w->setLoadSliceMs(0);
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
    QByteArray all, escaped;
    for (int b = 0; b < 256; ++b) {
        all.append(char(b));
        const bool kept = b == '\r' || b == '\n' || (b >= 32 && b < 127 && b != '\\');
        escaped +=
            kept ? QByteArray(1, char(b)) : "\\" + QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
    }
    QTest::newRow("text, option off")
        << QByteArray("ab\r\ncd\n\re\\f") << false << QByteArray("ab\r\ncd\n\re\\f") << false << QString();
    QTest::newRow("text, option on") << QByteArray("GET /\r\n") << true << QByteArray("GET /\r\n") << false
                                     << kAsciiOnly;
    QTest::newRow("binary, option off") << QByteArray("\\\t\x7F\xC8\r\n") << false
                                        << QByteArray("\\5C\\09\\7F\\C8\r\n") << true << kUnprintable;
    QTest::newRow("every byte, option on") << all << true << escaped << true << QString();
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
    QCOMPARE(m_w->timingShown(), !notice.isEmpty()); // the option is shown when it is changed
    // Prepared right after opening: the escapes give the file back.
    QCOMPARE(m_w->RawData, file);
    // A whole file read brings the link question; No leaves it unlinked.
    QCOMPARE(m_env->ui.prompts.last().text, kLinkQuestion);
    QVERIFY(!m_w->IsLinked && !m_w->txtSend->isReadOnly());
    QCOMPARE(m_w->LinkedFileDate, QFileInfo(path).lastModified());
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
        QStringLiteral(
            "An error occurred while attempting to load the file.  The operating system reports: ") +
        reported));
    // No question, nothing lost, the link kept but due for a fresh read.
    QCOMPARE(m_w->txtSend->data(), QByteArray("previous"));
    QVERIFY(m_w->IsLinked && !m_w->LinkedFileDate.isValid());
    QVERIFY(!m_w->isBusy());
}

void tst_SendFile::linkAndSaveAs()
{
    // Opening stops a running transmission first.
    m_w->setSendHook([](const QByteArray &) {});
    m_w->txtSend->setData("tick");
    m_w->chkPeriodically->setChecked(true);
    m_w->cmdSend_Click();
    QVERIFY(m_w->isSending());
    const QString path = m_env->writeFile(QStringLiteral("linked.txt"), "PING\r\n");
    m_env->ui.fileAnswers.enqueue(path);
    m_env->ui.yesNoAnswers.enqueue(true);
    m_w->cmdOpen_Click();
    QCOMPARE(m_env->ui.prompts.first().text, ProgramFolder::writableDir());
    QVERIFY(!m_w->isSending() && m_w->chkBinary->isEnabled());
    QVERIFY(m_w->IsLinked && m_w->txtSend->isReadOnly());
    QCOMPARE(m_w->txtSend->toolTip(), path);
    QTest::keyClicks(m_w->txtSend, QStringLiteral("typed"));
    QCOMPARE(m_w->txtSend->data(), QByteArray("PING\r\n"));
    // Opening again (the dialog starts at the last file) and answering No unlinks.
    m_env->ui.fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    QCOMPARE(m_env->ui.prompts.at(m_env->ui.prompts.size() - 2).text, path);
    QVERIFY(!m_w->IsLinked && !m_w->txtSend->isReadOnly());

    // Saved byte for byte, escapes as typed; a failed save is told and moves nothing.
    const QByteArray data("HELO a\r\nb\rc\n\0\xFF\xA0\\41", 19);
    m_w->txtSend->setData(data);
    const QString out = m_env->dir.filePath(QStringLiteral("out.bin"));
    m_env->ui.fileAnswers.enqueue(out);
    m_w->cmdSaveAs_Click();
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), data);
    m_env->ui.fileAnswers.enqueue(m_env->dir.filePath(QStringLiteral("no/such/folder/out.txt")));
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_env->ui.prompts.at(m_env->ui.prompts.size() - 2).text, out);
    QVERIFY(m_env->ui.messages().last().startsWith(QStringLiteral(
        "An error occurred while attempting to save the file.  The operating system reports: ")));
    QCOMPARE(m_env->settings.store().Read(QStringLiteral("Send"), QStringLiteral("InitSaveDir")), out);
}

void tst_SendFile::cancelKeepsPartAndAsksNothing()
{
    const QByteArray big = QByteArray("0123456789").repeated(400000);
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
             QStringList{QStringLiteral(
                 "You have cancelled the operation. Only part of the file will be displayed.")});
    QCOMPARE(m_env->ui.prompts.size(), 2); // the open dialog and the notice
    QCOMPARE(m_w->txtSend->data(), big.left(1000));
    QVERIFY(!m_w->frmLoadWait->isVisible());
}

void tst_SendFile::keysDuringALoadStayOut()
{
    QByteArray big;
    while (big.size() < 1024 * 1024)
        big += "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
    int keys = 0;
    QTimer typist;
    typist.setInterval(0);
    connect(&typist, &QTimer::timeout, this, [&] {
        if (m_w->IsLoading && keys < 3) {
            QTest::keyClick(m_w->txtSend, Qt::Key_Z);
            ++keys;
        }
    });
    typist.start();
    m_env->ui.fileAnswers.enqueue(m_env->writeFile(QStringLiteral("large.txt"), big));
    m_w->cmdOpen_Click();
    typist.stop();
    QCOMPARE(keys, 3);
    QVERIFY(m_w->txtSend->data() == big);
    // Still an ordinary box to edit.
    m_w->txtSend->setCaretPosition(0);
    QTest::keyClicks(m_w->txtSend, QStringLiteral(">"));
    QCOMPARE(m_w->txtSend->data().left(4), QByteArray(">The"));
}

QTEST_MAIN(tst_SendFile)
#include "tst_sendfile.moc"
