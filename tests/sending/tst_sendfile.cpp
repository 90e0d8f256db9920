#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <unistd.h>

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
const QString kLoadFailure =
    QStringLiteral("An error occurred while attempting to load the file.  The operating system reports: ");
const QString kLoadCancelled =
    QStringLiteral("You have cancelled the operation. Only part of the file will be displayed.");
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
    void plainScriptSavesUnchanged();
    void unreadableFiles_data();
    void unreadableFiles();
    void linkMakesBoxReadOnly();
    void openingStopsTransmission();
    void cancelKeepsPartAndAsksNothing();
    void largeFileLetsEventsRun();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<QTemporaryDir> m_dir;
    frmSend *m_w = nullptr;
};

QString tst_SendFile::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file");
    return path;
}

void tst_SendFile::init()
{
    m_settings = std::make_unique<TempSettings>();
    m_ui = std::make_unique<ScriptedUi>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_w = frmSend::OpenNewWindow();
}

void tst_SendFile::cleanup()
{
    const auto open = frmSend::openWindows();
    for (frmSend *w : open)
        delete w;
    m_w = nullptr;
    m_dir.reset();
    m_ui.reset();
    m_settings.reset();
}

void tst_SendFile::loadingRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("binaryBefore");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<bool>("binaryAfter");
    QTest::addColumn<QString>("notice");
    QTest::newRow("text, option off")
        << QByteArray("ab\r\ncd\n\re") << false << QByteArray("ab\r\ncd\n\re") << false << QString();
    QTest::newRow("text, option on") << QByteArray("GET /\r\n") << true << QByteArray("GET /\r\n") << false
                                     << kAsciiOnly;
    QTest::newRow("backslash is text")
        << QByteArray("a\\b") << false << QByteArray("a\\b") << false << QString();
    QTest::newRow("tab") << QByteArray("a\tb") << false << QByteArray("a\\09b") << true << kUnprintable;
    QTest::newRow("byte 200") << QByteArray("x\xC8y") << false << QByteArray("x\\C8y") << true
                              << kUnprintable;
    QTest::newRow("backslash in binary")
        << QByteArray("\\\x01\r\n") << false << QByteArray("\\5C\\01\r\n") << true << kUnprintable;
    QTest::newRow("byte 127") << QByteArray("\x7F") << false << QByteArray("\\7F") << true << kUnprintable;
    QTest::newRow("binary, option on")
        << QByteArray("\0\xFF", 2) << true << QByteArray("\\00\\FF") << true << QString();
    QTest::newRow("empty, option on") << QByteArray() << true << QByteArray() << false << kAsciiOnly;
    QTest::newRow("empty, option off") << QByteArray() << false << QByteArray() << false << QString();
}

void tst_SendFile::loadingRules()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, binaryBefore);
    QFETCH(QByteArray, shown);
    QFETCH(bool, binaryAfter);
    QFETCH(QString, notice);
    m_w->chkBinary->setChecked(binaryBefore);
    const QString path = writeFile(QStringLiteral("f.dat"), file);
    m_ui->fileAnswers.enqueue(path);
    m_ui->yesNoAnswers.enqueue(false);
    m_w->cmdOpen_Click();
    QCOMPARE(m_w->txtSend->data(), shown);
    QCOMPARE(m_w->chkBinary->isChecked(), binaryAfter);
    QCOMPARE(m_ui->messages(), notice.isEmpty() ? QStringList() : QStringList{notice});
    if (!notice.isEmpty()) {
        QVERIFY(m_w->timingShown()); // the option is shown when it is changed
        QCOMPARE(m_ui->prompts[1].icon, UiService::Icon::Information); // after the open dialog
    }
    // A whole file read brings the link question; No leaves it unlinked.
    QCOMPARE(m_ui->prompts.last().text, kLinkQuestion);
    QCOMPARE(m_ui->prompts.last().icon, UiService::Icon::Question);
    QVERIFY(!m_w->IsLinked);
    QVERIFY(!m_w->IsLoading);
    QVERIFY(!m_w->txtSend->isReadOnly());
    QCOMPARE(m_w->LinkedFileDate, QFileInfo(path).lastModified());
}

void tst_SendFile::everyByteComesBackWhenConverted()
{
    QByteArray all;
    for (int round = 0; round < 8; ++round) {
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
    }
    m_ui->fileAnswers.enqueue(writeFile(QStringLiteral("all.bin"), all));
    m_w->cmdOpen_Click();
    QVERIFY(m_w->chkBinary->isChecked());
    QVERIFY(m_w->txtSend->size() > all.size());
    // Prepared right after opening: the escapes convert back to the file.
    QCOMPARE(m_w->RawData, all);
    QVERIFY(!m_w->DataChanged);
}

void tst_SendFile::plainScriptSavesUnchanged()
{
    const QByteArray script("HELO me\r\nMAIL FROM:<a@b>\r\n\r\n.\r\nQUIT\r\n");
    m_ui->fileAnswers.enqueue(writeFile(QStringLiteral("smtp.txt"), script));
    m_w->cmdOpen_Click();
    QCOMPARE(m_w->txtSend->data(), script);
    QCOMPARE(m_w->RawData, script);
    const QString out = m_dir->filePath(QStringLiteral("copy.txt"));
    m_ui->fileAnswers.enqueue(out);
    m_w->cmdSaveAs_Click();
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), script);
}

void tst_SendFile::unreadableFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reported");
    QTest::newRow("vanished") << QStringLiteral("missing") << QStringLiteral("2, ");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("21, ");
    QTest::newRow("no permission") << QStringLiteral("locked") << QStringLiteral("13, ");
    QTest::newRow("too large") << QStringLiteral("huge") << QStringLiteral("27, ");
}

void tst_SendFile::unreadableFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, reported);
    QString path = m_dir->filePath(QStringLiteral("target"));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("locked")) {
        if (::geteuid() == 0)
            QSKIP("Permissions do not stop the superuser from reading.");
        writeFile(QStringLiteral("target"), "secret");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    } else if (kind == QLatin1String("huge")) {
        // A sparse file: large on paper, nothing on the disk.
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(300) * 1024 * 1024));
    }
    m_w->txtSend->setData("previous");
    m_w->IsLinked = true;
    m_w->LinkedFileName = QStringLiteral("/elsewhere");
    m_ui->fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    QCOMPARE(m_ui->messages().size(), 1);
    QCOMPARE(m_ui->messages()[0].left(kLoadFailure.size() + reported.size()), kLoadFailure + reported);
    QCOMPARE(m_ui->prompts.last().icon, UiService::Icon::Exclamation);
    // No question, nothing lost, the link kept but due for a fresh read.
    QCOMPARE(m_w->txtSend->data(), QByteArray("previous"));
    QVERIFY(m_w->IsLinked);
    QVERIFY(!m_w->LinkedFileDate.isValid());
    QVERIFY(!m_w->IsLoading);
    QVERIFY(!m_w->isBusy());
}

void tst_SendFile::linkMakesBoxReadOnly()
{
    const QString path = writeFile(QStringLiteral("linked.txt"), "PING\r\n");
    m_ui->fileAnswers.enqueue(path);
    m_ui->yesNoAnswers.enqueue(true);
    m_w->cmdOpen_Click();
    QVERIFY(m_w->IsLinked);
    QVERIFY(m_w->txtSend->isReadOnly());
    QCOMPARE(m_w->txtSend->toolTip(), path);
    QVERIFY(m_w->txtSend->palette().color(QPalette::Base) != QColor(Qt::white));
    QTest::keyClicks(m_w->txtSend, QStringLiteral("typed"));
    QCOMPARE(m_w->txtSend->data(), QByteArray("PING\r\n"));

    // Opening again and answering No unlinks.
    m_ui->fileAnswers.enqueue(path);
    m_ui->yesNoAnswers.enqueue(false);
    m_w->cmdOpen_Click();
    QVERIFY(!m_w->IsLinked);
    QVERIFY(!m_w->txtSend->isReadOnly());
    QVERIFY(m_w->txtSend->toolTip().isEmpty());
}

void tst_SendFile::openingStopsTransmission()
{
    QList<QByteArray> sent;
    m_w->setSendHook([&](const QByteArray &b) { sent << b; });
    m_w->txtSend->setData("tick");
    m_w->chkPeriodically->setChecked(true);
    m_w->txtOnceEvery->setText(QStringLiteral("50"));
    m_w->cmdSend_Click();
    QVERIFY(m_w->IsSending);
    QVERIFY(!m_w->chkBinary->isEnabled());
    m_ui->fileAnswers.enqueue(writeFile(QStringLiteral("new.txt"), "tock"));
    m_w->cmdOpen_Click();
    QVERIFY(!m_w->IsSending);
    QVERIFY(m_w->chkBinary->isEnabled());
    QCOMPARE(m_w->cmdSend->text(), QStringLiteral("&Start Sending"));
    const qsizetype count = sent.size();
    QTest::qWait(200);
    QCOMPARE(sent.size(), count);
}

void tst_SendFile::cancelKeepsPartAndAsksNothing()
{
    QByteArray big;
    for (int i = 0; i < 400000; ++i)
        big += "0123456789";
    const QString path = writeFile(QStringLiteral("big.txt"), big);
    // Presses Cancel as soon as the progress window shows.
    QTimer canceller;
    canceller.setInterval(0);
    connect(&canceller, &QTimer::timeout, this, [this] {
        if (m_w->IsLoading && m_w->frmLoadWait->isVisible())
            QTest::mouseClick(m_w->frmLoadWait->findChild<QPushButton *>(QStringLiteral("cmdCancel")),
                              Qt::LeftButton);
    });
    canceller.start();
    m_ui->fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    canceller.stop();
    QCOMPARE(m_ui->messages(), QStringList{kLoadCancelled});
    for (const auto &p : std::as_const(m_ui->prompts))
        QVERIFY(p.text != kLinkQuestion);
    const QByteArray shown = m_w->txtSend->data();
    QVERIFY(!shown.isEmpty());
    QVERIFY(shown.size() < big.size());
    QVERIFY(big.startsWith(shown));
    QVERIFY(!m_w->LoadCancelled);
    QVERIFY(!m_w->frmLoadWait->isVisible());
}

void tst_SendFile::largeFileLetsEventsRun()
{
    QByteArray big;
    big.reserve(20 * 1024 * 1024);
    while (big.size() < 20 * 1024 * 1024)
        big += "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
    const QString path = writeFile(QStringLiteral("large.txt"), big);
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
    m_ui->fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    ticker.stop();
    QVERIFY(ticksWhileLoading > 0);
    QCOMPARE(m_w->txtSend->size(), big.size());
    QVERIFY(m_w->txtSend->data() == big);
    // Still an ordinary box to edit.
    m_w->txtSend->setCaretPosition(0);
    QTest::keyClicks(m_w->txtSend, QStringLiteral(">"));
    QCOMPARE(m_w->txtSend->data().left(4), QByteArray(">The"));
}

QTEST_MAIN(tst_SendFile)
#include "tst_sendfile.moc"
