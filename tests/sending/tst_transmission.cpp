#include "core/frmtimer.h"
#include "core/optionssource.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendenv.h"
#include "ui/frmwait.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {
const QString kCancelled = QStringLiteral("You have cancelled the operation.  No data will be sent.");

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

// Three megabytes once converted: long enough that converting shows progress.
const QByteArray kManyEscapes = QByteArray("\\41").repeated(3 * 1024 * 1024);

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}
} // namespace

class tst_Transmission : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void singleSendReusesPreparedBytes();
    void messageByMessageWithPauses();
    void periodicForDurationStopsByItself();
    void periodicMessagesRepeatPasses();
    void stopAndCloseEndTransmission();
    void linkedFileChangeIsPickedUp();
    void cancelledConversionSendsNothing();
    void stopWhilePassConvertsSendsNothing();
    void closeDuringConversionWaitsForIt();
    void twentyWindowsKeepTheirOwnTimers();

private:
    frmSend *newWindow(LoopbackPeer &peer, const QByteArray &data, int period = 0);
    std::unique_ptr<SendEnv> m_env;
    std::unique_ptr<DefaultOptions> m_options;
};

void tst_Transmission::init()
{
    m_env = std::make_unique<SendEnv>();
    m_options = std::make_unique<DefaultOptions>();
    m_options->concat = false;
    tw::setOptions(m_options.get());
}

void tst_Transmission::cleanup()
{
    m_env.reset();
    tw::setOptions(nullptr);
    m_options.reset();
}

// A window sending to the peer; a period turns on periodic sending.
frmSend *tst_Transmission::newWindow(LoopbackPeer &peer, const QByteArray &data, int period)
{
    frmSend *w = frmSend::OpenNewWindow();
    w->setSendHook(peer.hook());
    w->txtSend->setData(data);
    if (period > 0) {
        w->chkPeriodically->setChecked(true);
        w->txtOnceEvery->setText(QString::number(period));
    }
    return w;
}

void tst_Transmission::singleSendReusesPreparedBytes()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "\\41\\0D\\0A\\00\\FF");
    w->chkBinary->setChecked(true);
    w->cmdSend_Click();
    const QByteArray converted("A\r\n\0\xFF", 5);
    QCOMPARE(peer.handedOver, QList<QByteArray>{converted});
    QCOMPARE(w->panSending->palette().color(QPalette::Window), QColor(0, 0, 255));
    QTRY_COMPARE(w->panSending->palette().color(QPalette::Window), w->palette().color(QPalette::Window));
    QVERIFY(!w->IsSending);
    // The text is unchanged: the prepared bytes go out again as they are.
    w->chkBinary->setChecked(false);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), converted);
    // An edit makes the next send convert the new text.
    w->txtSend->setCaretPosition(w->txtSend->size());
    w->txtSend->insertText(QStringLiteral("!"));
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("\\41\\0D\\0A\\00\\FF!"));
    QTRY_COMPARE(peer.received, converted + converted + peer.handedOver.last());
}

void tst_Transmission::messageByMessageWithPauses()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "A\r\nB\r\nC");
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("150"));
    w->cmdSend_Click();
    // The first message goes at once; the next waits for the pause.
    QCOMPARE(peer.handedOver, QList<QByteArray>{QByteArray("A\r\n")});
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Stop"));
    QCOMPARE(w->tmrPauseAfterMessage->interval(), 150);
    QVERIFY(!w->chkBinary->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 10000);
    QCOMPARE(peer.handedOver, (QList<QByteArray>{QByteArray("A\r\n"), QByteArray("B\r\n"), QByteArray("C")}));
    QTRY_COMPARE(peer.received, QByteArray("A\r\nB\r\nC"));
    QCOMPARE(w->MessagePosition, 0);
    QVERIFY(w->chkBinary->isEnabled());

    // Without a separator the text is one message, sent whole.
    w->txtSend->setData("no separator here");
    w->cmdSend_Click();
    QVERIFY(!w->IsSending);
    QCOMPARE(peer.handedOver.last(), QByteArray("no separator here"));
}

void tst_Transmission::periodicForDurationStopsByItself()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "tick\r\n", 300);
    w->cboSecs->setEditText(QStringLiteral("1"));
    w->cmdSend_Click();
    QVERIFY(w->IsSending);
    QCOMPARE(w->tmrPauseAfterData->interval(), 300);
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 20000);
    // Sends are at least 300 ms apart and stop at the first one that finds
    // more than one whole second gone, which cannot be later than 2.3 s.
    const qsizetype sent = peer.handedOver.size();
    QVERIFY2(sent >= 2 && sent <= 8, qPrintable(QString::number(sent)));
    QTest::qWait(700);
    QCOMPARE(peer.handedOver.size(), sent);
    QTRY_COMPARE(peer.received, QByteArray("tick\r\n").repeated(sent));
}

void tst_Transmission::periodicMessagesRepeatPasses()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "A\r\nB\r\n", 40);
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("20"));
    w->cmdSend_Click();
    QTRY_VERIFY_WITH_TIMEOUT(peer.handedOver.size() >= 7, 20000);
    w->cmdSend_Click();
    for (qsizetype i = 0; i < peer.handedOver.size(); ++i)
        QCOMPARE(peer.handedOver[i], i % 2 == 0 ? QByteArray("A\r\n") : QByteArray("B\r\n"));

    // A duration of 0 seconds is one pass.
    peer.handedOver.clear();
    w->cboSecs->setEditText(QStringLiteral("0"));
    w->cmdSend_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 10000);
    QCOMPARE(peer.handedOver, (QList<QByteArray>{QByteArray("A\r\n"), QByteArray("B\r\n")}));
}

void tst_Transmission::stopAndCloseEndTransmission()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "ping", 50);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(peer.handedOver.size() >= 3, 10000);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QVERIFY(!w->IsSending);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QVERIFY(w->chkPeriodically->isEnabled());
    qsizetype sent = peer.handedOver.size();
    QTRY_COMPARE(peer.received, QByteArray("ping").repeated(sent));

    // A huge interval is one send and a long wait, no busy loop.
    w->txtOnceEvery->setText(QStringLiteral("99999999999"));
    w->cmdSend_Click();
    QCOMPARE(w->tmrPauseAfterData->interval(), 2147483647);
    QTest::qWait(200);
    QCOMPARE(peer.handedOver.size(), ++sent);

    // Closing the window stops it too.
    w->cmdSend_Click();
    w->txtOnceEvery->setText(QStringLiteral("30"));
    w->cmdSend_Click();
    w->IsModified = false;
    QVERIFY(SendEnv::closeAndWait(w));
    sent = peer.handedOver.size();
    QTest::qWait(200);
    QCOMPARE(peer.handedOver.size(), sent);
}

void tst_Transmission::linkedFileChangeIsPickedUp()
{
    const QString path = m_env->writeFile(QStringLiteral("linked.txt"), "one\r\n");
    const QDateTime t1 = QDateTime::currentDateTime().addSecs(-100);
    setModified(path, t1);
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, QByteArray());
    m_env->ui.fileAnswers.enqueue(path);
    m_env->ui.yesNoAnswers.enqueue(true);
    w->cmdOpen_Click();
    QVERIFY(w->IsLinked);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray("one\r\n"));

    // New bytes under the old stamp: not read again.
    m_env->writeFile(QStringLiteral("linked.txt"), "two\r\n");
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
    QVERIFY(m_env->ui.messages().isEmpty());

    // The file deleted while sending periodically: stopped and told.
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("50"));
    w->cmdSend_Click();
    const qsizetype before = peer.handedOver.size();
    QVERIFY(QFile::remove(path));
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 10000);
    QCOMPARE(peer.handedOver.size(), before);
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(
        QStringLiteral("An error occurred while attempting to read the date stamp of the linked file. "
                       "The operating system reports: 2, ")));
    QVERIFY(w->cmdSend->isEnabled());
}

void tst_Transmission::cancelledConversionSendsNothing()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, kManyEscapes);
    w->chkBinary->setChecked(true);
    {
        ConversionCanceller canceller;
        QVERIFY(!w->RefreshRawData());
        w->cmdSend_Click(); // a single send whose conversion is cancelled
    }
    QVERIFY(peer.handedOver.isEmpty());
    QVERIFY(w->RawData.isEmpty());
    QVERIFY(w->DataChanged);
    QVERIFY(w->cmdSend->isEnabled());

    // Periodic: the first pass goes, the text is edited, the next pass's conversion is cancelled.
    w->txtSend->setData("\\41\\0D\\0A");
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("100"));
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver, QList<QByteArray>{QByteArray("A\r\n")});
    w->txtSend->setData(kManyEscapes);
    m_env->ui.prompts.clear();
    ConversionCanceller canceller;
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 30000);
    QVERIFY(canceller.presses > 0);
    QCOMPARE(m_env->ui.messages(), QStringList{kCancelled});
    QTest::qWait(300);
    QCOMPARE(peer.handedOver.size(), 1);
}

void tst_Transmission::stopWhilePassConvertsSendsNothing()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, "\\41", 50);
    w->chkBinary->setChecked(true);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.size(), 1);
    w->txtSend->setData(kManyEscapes);
    // Stop is pressed while the next pass converts the new text.
    int stops = 0;
    QTimer stopper;
    stopper.setInterval(0);
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (w->isBusy() && w->IsSending && stops++ == 0)
            QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    });
    stopper.start();
    QTRY_VERIFY_WITH_TIMEOUT(!w->IsSending, 30000);
    QTRY_VERIFY(!w->isBusy());
    stopper.stop();
    QCOMPARE(stops, 1);
    QVERIFY(m_env->ui.messages().isEmpty()); // stopped, not cancelled: no notice
    QVERIFY(w->RawData.isEmpty());
    QTest::qWait(200);
    QCOMPARE(peer.handedOver.size(), 1);

    // Left alone, the conversion completes and the bytes go out whole.
    w->chkPeriodically->setChecked(false);
    w->cmdSend_Click();
    QCOMPARE(peer.handedOver.last(), QByteArray(3 * 1024 * 1024, 'A'));
}

void tst_Transmission::closeDuringConversionWaitsForIt()
{
    LoopbackPeer peer;
    frmSend *w = newWindow(peer, kManyEscapes);
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
    m_env->ui.yesNoAnswers.enqueue(true); // the data is too long to keep with the state
    w->cmdSend_Click();
    QVERIFY(asked);
    QTRY_VERIFY(p.isNull());
    QVERIFY(peer.handedOver.isEmpty());
}

void tst_Transmission::twentyWindowsKeepTheirOwnTimers()
{
    LoopbackPeer peer;
    QList<frmSend *> windows;
    for (int i = 0; i < 20; ++i) {
        windows << newWindow(peer, QStringLiteral("W%1:payload\r\n").arg(i, 2, 10, QLatin1Char('0')).toLatin1(), 100);
        windows.last()->cmdSend_Click();
    }
    auto allSentFour = [&] {
        for (frmSend *w : std::as_const(windows)) {
            const QByteArray data = w->txtSend->data();
            if (std::count(peer.handedOver.cbegin(), peer.handedOver.cend(), data) < 4)
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allSentFour(), 60000);
    for (frmSend *w : std::as_const(windows)) {
        QVERIFY(w->IsSending);
        w->cmdSend_Click();
    }
    // Every message arrived whole and in order.
    QByteArray expected;
    for (const QByteArray &b : std::as_const(peer.handedOver))
        expected += b;
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, expected, 20000);
}

QTEST_MAIN(tst_Transmission)
#include "tst_transmission.moc"
