#include "core/frmtimer.h"
#include "core/optionssource.h"
#include "display/supportclass.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/loopbackpeer.h"
#include "support/testenv.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
const QString kCancelled = QStringLiteral("You have cancelled the operation.  No data will be sent.");
const QString kDateFailure = QStringLiteral("An error occurred while attempting to read the date stamp of "
                                            "the linked file. The operating system reports: ");

// Presses Cancel in the conversion's progress window as soon as one exists.
class ConversionCanceller : public QObject
{
public:
    ConversionCanceller()
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->objectName() == QLatin1String("frmWait")) {
                    if (auto *b = w->findChild<QPushButton *>(QStringLiteral("cmdCancel"))) {
                        b->click();
                        ++presses;
                    }
                }
            }
        });
        m_timer.start();
    }
    int presses = 0;

private:
    QTimer m_timer;
};

QByteArray manyEscapes(qsizetype bytes)
{
    QByteArray text;
    text.reserve(bytes * 3);
    for (qsizetype i = 0; i < bytes; ++i)
        text += "\\41";
    return text;
}

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

void rewrite(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}
} // namespace

class tst_Transmission : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void singleSendReachesPeer();
    void singleSendReusesPreparedBytes();
    void messageByMessageWithPauses();
    void messageWithoutSeparatorIsSentWhole();
    void periodicForDurationStopsByItself();
    void periodicMessagesWithZeroDurationSendOnePass();
    void periodicMessagesRepeatPasses();
    void stopDuringTransmission();
    void closingStopsTransmission();
    void linkedFileChangeIsPickedUp();
    void deletedLinkedFileStopsAndTells();
    void cancelledConversionSendsNothing();
    void stopWhilePassConvertsSendsNothing();
    void refreshRawDataReportsCancel();
    void closeDuringConversionWaitsForIt();
    void hugeIntervalIsNoBusyLoop();
    void twentyWindowsKeepTheirOwnTimers();

private:
    frmSend *newWindow(LoopbackPeer &peer, const QByteArray &data);
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<DefaultOptions> m_options;
};

void tst_Transmission::init()
{
    m_settings = std::make_unique<TempSettings>();
    m_ui = std::make_unique<ScriptedUi>();
    m_options = std::make_unique<DefaultOptions>();
    m_options->concat = false;
    tw::setOptions(m_options.get());
}

void tst_Transmission::cleanup()
{
    const auto open = frmSend::openWindows();
    for (frmSend *w : open)
        delete w;
    tw::setOptions(nullptr);
    m_options.reset();
    m_ui.reset();
    m_settings.reset();
}

frmSend *tst_Transmission::newWindow(LoopbackPeer &peer, const QByteArray &data)
{
    frmSend *w = frmSend::OpenNewWindow();
    w->setSendHook(peer.hook());
    w->txtSend->setData(data);
    return w;
}

void tst_Transmission::singleSendReachesPeer()
{
    LoopbackPeer peer;
    const QByteArray data("GET / HTTP/1.0\r\n\r\n\0\xFF", 20);
    frmSend *w = newWindow(peer, data);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver, QList<QByteArray>{data});
    QCOMPARE(w->panSending->palette().color(QPalette::Window), QColor(0, 0, 255));
    QVERIFY(w->tmrDataTransmission->isRunning());
    QTRY_COMPARE(peer.received, data);
    QTRY_COMPARE(w->panSending->palette().color(QPalette::Window), w->palette().color(QPalette::Window));
    QVERIFY(!w->IsSending);
    QVERIFY(w->cmdSend->isEnabled());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Send"));
}

void tst_Transmission::singleSendReusesPreparedBytes()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "\\41\\0D\\0A");
    w->chkBinary->setChecked(true);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("A\r\n"));
    QVERIFY(!w->DataChanged);
    // The text is unchanged: the prepared bytes go out again as they are.
    w->chkBinary->setChecked(false);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("A\r\n"));
    // An edit makes the next send convert the new text.
    w->txtSend->setCaretPosition(w->txtSend->size());
    w->txtSend->insertText(QStringLiteral("!"));
    QVERIFY(w->DataChanged);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("\\41\\0D\\0A!"));
    QTRY_COMPARE(peer.received, QByteArray("A\r\nA\r\n\\41\\0D\\0A!"));
}

void tst_Transmission::messageByMessageWithPauses()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "A\r\nB\r\nC");
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("150"));
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    w->cmdSend_Click();
    // The first message goes at once; the next waits for the pause.
    QCOMPARE(peer.handedOver, QList<QByteArray>{QByteArray("A\r\n")});
    QVERIFY(w->IsSending);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Stop"));
    QVERIFY(w->tmrPauseAfterMessage->isRunning());
    QCOMPARE(w->tmrPauseAfterMessage->interval(), 150);
    for (QWidget *c : {static_cast<QWidget *>(w->chkPause), static_cast<QWidget *>(w->chkPeriodically),
                       static_cast<QWidget *>(w->chkBinary), static_cast<QWidget *>(w->cboSecs)})
        QVERIFY(!c->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 10000);
    QCOMPARE(peer.handedOver, (QList<QByteArray>{QByteArray("A\r\n"), QByteArray("B\r\n"), QByteArray("C")}));
    QTRY_COMPARE(peer.received, QByteArray("A\r\nB\r\nC"));
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QCOMPARE(w->MessagePosition, 0);
    QVERIFY(w->chkPause->isEnabled());
    QVERIFY(!w->tmrPauseAfterMessage->isRunning());
}

void tst_Transmission::messageWithoutSeparatorIsSentWhole()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "no separator here");
    w->chkPause->setChecked(true);
    w->cmdSend_Click();
    QVERIFY(!w->IsSending);
    QCOMPARE(peer.handedOver, QList<QByteArray>{QByteArray("no separator here")});
    QTRY_COMPARE(peer.received, QByteArray("no separator here"));
}

void tst_Transmission::periodicForDurationStopsByItself()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "tick\r\n");
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("300"));
    w->cboSecs->setEditText(QStringLiteral("1"));
    w->cmdSend_Click();
    QVERIFY(w->IsSending);
    QVERIFY(w->tmrPauseAfterData->isRunning());
    QCOMPARE(w->tmrPauseAfterData->interval(), 300);
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 20000);
    // Sends are at least 300 ms apart and stop at the first one that finds
    // more than one whole second gone, which cannot be later than 2.3 s.
    const qsizetype sent = peer.handedOver.size();
    QVERIFY2(sent >= 2 && sent <= 8, qPrintable(QString::number(sent)));
    for (const QByteArray &b : std::as_const(peer.handedOver))
        QCOMPARE(b, QByteArray("tick\r\n"));
    QTest::qWait(700);
    QCOMPARE(peer.handedOver.size(), sent);
    QTRY_COMPARE(peer.received.size(), sent * 6);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
}

void tst_Transmission::periodicMessagesWithZeroDurationSendOnePass()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "A\r\nB\r\n");
    w->chkPause->setChecked(true);
    w->chkPeriodically->setChecked(true);
    w->txtPause->setText(QStringLiteral("40"));
    w->txtOnceEvery->setText(QStringLiteral("80"));
    w->cboSecs->setEditText(QStringLiteral("0"));
    w->cmdSend_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 10000);
    QCOMPARE(peer.handedOver, (QList<QByteArray>{QByteArray("A\r\n"), QByteArray("B\r\n")}));
    QTRY_COMPARE(peer.received, QByteArray("A\r\nB\r\n"));
}

void tst_Transmission::periodicMessagesRepeatPasses()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "A\r\nB\r\n");
    w->chkPause->setChecked(true);
    w->chkPeriodically->setChecked(true);
    w->txtPause->setText(QStringLiteral("20"));
    w->txtOnceEvery->setText(QStringLiteral("40"));
    w->cmdSend_Click();
    QTRY_VERIFY_WITH_TIMEOUT(peer.handedOver.size() >= 7, 20000);
    w->cmdSend_Click();
    QVERIFY(!w->IsSending);
    const qsizetype sent = peer.handedOver.size();
    for (qsizetype i = 0; i < sent; ++i)
        QCOMPARE(peer.handedOver[i], i % 2 == 0 ? QByteArray("A\r\n") : QByteArray("B\r\n"));
    QByteArray expected;
    for (const QByteArray &b : std::as_const(peer.handedOver))
        expected += b;
    QTRY_COMPARE(peer.received, expected);
}

void tst_Transmission::stopDuringTransmission()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "ping");
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("50"));
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(peer.handedOver.size() >= 3, 10000);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QVERIFY(!w->IsSending);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QVERIFY(!w->tmrPauseAfterData->isRunning());
    QVERIFY(w->chkPeriodically->isEnabled());
    QVERIFY(w->cboSecs->isEnabled());
    const qsizetype sent = peer.handedOver.size();
    QTest::qWait(300);
    QCOMPARE(peer.handedOver.size(), sent);
    QTRY_COMPARE(peer.received, QByteArray("ping").repeated(sent));
}

void tst_Transmission::closingStopsTransmission()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "x");
    w->IsModified = false;
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("30"));
    w->IsModified = false;
    w->cmdSend_Click();
    QPointer<frmSend> p(w);
    w->close();
    QTRY_VERIFY(p.isNull());
    const qsizetype sent = peer.handedOver.size();
    QTest::qWait(200);
    QCOMPARE(peer.handedOver.size(), sent);
}

void tst_Transmission::linkedFileChangeIsPickedUp()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("linked.txt"));
    rewrite(path, "one\r\n");
    const QDateTime t1 = QDateTime::currentDateTime().addSecs(-100);
    setModified(path, t1);
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, QByteArray());
    m_ui->fileAnswers.enqueue(path);
    m_ui->yesNoAnswers.enqueue(true);
    w->cmdOpen_Click();
    QVERIFY(w->IsLinked);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("one\r\n"));

    // New bytes under the old stamp: not read again.
    rewrite(path, "two\r\n");
    setModified(path, t1);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("one\r\n"));

    // A new stamp: re-read into the window first, then sent.
    setModified(path, t1.addSecs(50));
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("two\r\n"));
    QCOMPARE(w->txtSend->data(), QByteArray("two\r\n"));
    QCOMPARE(w->LinkedFileDate, QFileInfo(path).lastModified());
    QTRY_COMPARE(peer.received, QByteArray("one\r\none\r\ntwo\r\n"));
    QVERIFY(m_ui->messages().isEmpty());
}

void tst_Transmission::deletedLinkedFileStopsAndTells()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("soon-gone.txt"));
    rewrite(path, "data");
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, QByteArray());
    m_ui->fileAnswers.enqueue(path);
    m_ui->yesNoAnswers.enqueue(true);
    w->cmdOpen_Click();
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("50"));
    w->cmdSend_Click();
    QVERIFY(w->IsSending);
    const qsizetype before = peer.handedOver.size();
    QVERIFY(QFile::remove(path));
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 10000);
    QCOMPARE(peer.handedOver.size(), before);
    QCOMPARE(m_ui->messages().size(), 1);
    QCOMPARE(m_ui->messages()[0].left(kDateFailure.size() + 3), kDateFailure + QStringLiteral("2, "));
    QVERIFY(w->cmdSend->isEnabled());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
}

void tst_Transmission::cancelledConversionSendsNothing()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "\\41\\0D\\0A");
    w->chkBinary->setChecked(true);
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("100"));
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver, QList<QByteArray>{QByteArray("A\r\n")});
    // Edited while running: the next pass converts, and that is cancelled.
    w->txtSend->setData(manyEscapes(3 * 1024 * 1024));
    ConversionCanceller canceller;
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 30000);
    QVERIFY(canceller.presses > 0);
    QCOMPARE(m_ui->messages(), QStringList{kCancelled});
    QCOMPARE(peer.handedOver, QList<QByteArray>{QByteArray("A\r\n")});
    QVERIFY(w->RawData.isEmpty());
    QVERIFY(w->DataChanged);
    QTest::qWait(300);
    QCOMPARE(peer.handedOver.size(), 1);
}

void tst_Transmission::stopWhilePassConvertsSendsNothing()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "\\41");
    w->chkBinary->setChecked(true);
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("50"));
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.size(), 1);
    w->txtSend->setData(manyEscapes(3 * 1024 * 1024));
    // Stop is pressed while the next pass converts the new text.
    int stops = 0;
    QTimer stopper;
    stopper.setInterval(0);
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (w->isBusy() && w->IsSending && stops == 0) {
            ++stops;
            QTest::mouseClick(w->cmdSend, Qt::LeftButton);
        }
    });
    stopper.start();
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 30000);
    QTRY_VERIFY(!w->isBusy());
    stopper.stop();
    QCOMPARE(stops, 1);
    QCOMPARE(peer.handedOver.size(), 1);
    QVERIFY(m_ui->messages().isEmpty()); // stopped, not cancelled: no notice
    QVERIFY(w->RawData.isEmpty());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QTest::qWait(200);
    QCOMPARE(peer.handedOver.size(), 1);
}

void tst_Transmission::refreshRawDataReportsCancel()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, manyEscapes(3 * 1024 * 1024));
    w->chkBinary->setChecked(true);
    QVERIFY(w->DataChanged);
    {
        ConversionCanceller canceller;
        QVERIFY(!w->RefreshRawData());
    }
    QVERIFY(w->RawData.isEmpty());
    QVERIFY(w->DataChanged);
    // A single send whose conversion is cancelled sends nothing either.
    {
        ConversionCanceller canceller;
        w->cmdSend_Click();
    }
    QVERIFY(peer.handedOver.isEmpty());
    QVERIFY(w->cmdSend->isEnabled());
    // Left alone, the conversion completes and the bytes go out whole.
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.size(), 1);
    QCOMPARE(peer.handedOver[0], QByteArray(3 * 1024 * 1024, 'A'));
}

void tst_Transmission::closeDuringConversionWaitsForIt()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, manyEscapes(3 * 1024 * 1024));
    w->chkBinary->setChecked(true);
    w->chkPeriodically->setChecked(true);
    QPointer<frmSend> p(w);
    bool asked = false;
    QTimer closer;
    closer.setInterval(0);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (p && p->isBusy() && !asked) {
            asked = true;
            p->close();
        }
    });
    closer.start();
    m_ui->yesNoAnswers.enqueue(true); // the data is too long to keep with the state
    w->cmdSend_Click();
    QVERIFY(asked);
    QTRY_VERIFY(p.isNull());
    QVERIFY(peer.handedOver.isEmpty());
}

void tst_Transmission::hugeIntervalIsNoBusyLoop()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "once");
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("99999999999"));
    QCOMPARE(w->txtOnceEvery->text(), QStringLiteral("2147483647"));
    w->cmdSend_Click();
    QCOMPARE(w->tmrPauseAfterData->interval(), 2147483647);
    QTest::qWait(200);
    QCOMPARE(peer.handedOver.size(), 1);
    w->cmdSend_Click();
    QVERIFY(!w->IsSending);
    w->txtOnceEvery->setText(QString());
    QCOMPARE(w->periodInterval(), 1);
}

void tst_Transmission::twentyWindowsKeepTheirOwnTimers()
{
    LoopbackPeer peer;
    QList<QPointer<frmSend>> windows;
    for (int i = 0; i < 20; ++i) {
        frmSend *w =
            newWindow(peer, QStringLiteral("W%1:payload\r\n").arg(i, 2, 10, QLatin1Char('0')).toLatin1());
        w->chkPeriodically->setChecked(true);
        w->txtOnceEvery->setText(QStringLiteral("100"));
        w->cmdSend_Click();
        windows << w;
    }
    auto countOf = [&](int i) {
        const QByteArray label = QStringLiteral("W%1:").arg(i, 2, 10, QLatin1Char('0')).toLatin1();
        return std::count_if(peer.handedOver.cbegin(), peer.handedOver.cend(),
                             [&](const QByteArray &b) { return b.startsWith(label); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (int i = 0; i < 20; ++i) {
                if (countOf(i) < 4)
                    return false;
            }
            return true;
        }(),
        60000);
    for (const QPointer<frmSend> &w : std::as_const(windows)) {
        QVERIFY(w->IsSending);
        w->cmdSend_Click();
        QVERIFY(!w->IsSending);
    }
    qsizetype total = 0;
    for (const QByteArray &b : std::as_const(peer.handedOver))
        total += b.size();
    QTRY_COMPARE_WITH_TIMEOUT(peer.received.size(), total, 20000);
    // Every message arrived whole, and in each window's own order.
    const QList<QByteArray> pieces = peer.received.split('\n');
    QCOMPARE(pieces.size(), peer.handedOver.size() + 1);
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
        QCOMPARE(pieces[i] + '\n', peer.handedOver[i]);
}

QTEST_MAIN(tst_Transmission)
#include "tst_transmission.moc"
