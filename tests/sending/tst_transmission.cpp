#include "core/frmtimer.h"
#include "sending/bytetextedit.h"
#include "sending/sendenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace {
const QString kCancelled = QStringLiteral("You have cancelled the operation.  No data will be sent.");
// Three megabytes once converted: long enough that converting lets events run.
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
    void startStopAndClose();
    void linkedFileChangeIsPickedUp();
    void interruptedConversion_data();
    void interruptedConversion();

private:
    frmSend *newWindow(const QByteArray &data, int period = 0);
    std::unique_ptr<SendEnv> m_env;
    QByteArrayList m_sent;
};

void tst_Transmission::init()
{
    m_env = std::make_unique<SendEnv>();
    m_sent.clear();
}

void tst_Transmission::cleanup()
{
    m_env.reset();
}

// A window whose hand-overs are noted; a period turns on periodic sending.
// Tests fire its pass timer themselves, at the step they mean.
frmSend *tst_Transmission::newWindow(const QByteArray &data, int period)
{
    frmSend *w = frmSend::OpenNewWindow();
    w->setSendHook([this](const QByteArray &bytes) { m_sent << bytes; });
    w->txtSend->setData(data);
    if (period > 0) {
        w->chkPeriodically->setChecked(true);
        w->txtOnceEvery->setText(QString::number(period));
    }
    return w;
}

void tst_Transmission::singleSendReusesPreparedBytes()
{
    frmSend *w = newWindow("\\41\\0D\\0A\\00\\FF");
    w->chkBinary->setChecked(true);
    w->cmdSend_Click();
    const QByteArray converted("A\r\n\0\xFF", 5);
    QCOMPARE(m_sent, QByteArrayList{converted});
    QCOMPARE(w->panSending->palette().color(QPalette::Window), QColor(0, 0, 255));
    QTRY_COMPARE(w->panSending->palette().color(QPalette::Window), w->palette().color(QPalette::Window));
    QVERIFY(!w->isSending());
    // The text is unchanged: the prepared bytes go out again as they are.
    w->chkBinary->setChecked(false);
    w->cmdSend_Click();
    QCOMPARE(m_sent.last(), converted);
    // An edit makes the next send convert the new text.
    w->txtSend->setCaretPosition(w->txtSend->size());
    w->txtSend->insertText(QStringLiteral("!"));
    w->cmdSend_Click();
    QCOMPARE(m_sent.last(), QByteArray("\\41\\0D\\0A\\00\\FF!"));
}

void tst_Transmission::startStopAndClose()
{
    frmSend *w = newWindow("A\r\nB\r\n", 60000);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QCOMPARE(m_sent, QByteArrayList{QByteArray("A\r\nB\r\n")});
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Stop"));
    QVERIFY(!w->chkBinary->isEnabled() && !w->chkPause->isEnabled() && !w->cboSecs->isEnabled());
    QVERIFY(w->tmrPauseAfterData->isRunning());
    QCOMPARE(w->tmrPauseAfterData->interval(), 60000);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QVERIFY(w->chkBinary->isEnabled() && w->cboSecs->isEnabled());
    QVERIFY(!w->tmrPauseAfterData->isRunning());

    // Message by message: the first message at once, the next after the pause.
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("150"));
    w->cmdSend_Click();
    QCOMPARE(m_sent.last(), QByteArray("A\r\n"));
    QVERIFY(w->tmrPauseAfterMessage->isRunning());
    QCOMPARE(w->tmrPauseAfterMessage->interval(), 150);
    // Closing stops it.
    w->IsModified = false;
    QVERIFY(SendEnv::closeAndWait(w));
    QCOMPARE(m_sent.size(), 2);
}

void tst_Transmission::linkedFileChangeIsPickedUp()
{
    const QString path = m_env->writeFile(QStringLiteral("linked.txt"), "one\r\n");
    const QDateTime t1 = QDateTime::currentDateTime().addSecs(-100);
    setModified(path, t1);
    frmSend *w = newWindow(QByteArray());
    m_env->ui.fileAnswers.enqueue(path);
    m_env->ui.yesNoAnswers.enqueue(true);
    w->cmdOpen_Click();
    QVERIFY(w->IsLinked);
    w->cmdSend_Click();
    QCOMPARE(m_sent.last(), QByteArray("one\r\n"));

    // New bytes under the old stamp: not read again.
    m_env->writeFile(QStringLiteral("linked.txt"), "two\r\n");
    setModified(path, t1);
    w->cmdSend_Click();
    QCOMPARE(m_sent.last(), QByteArray("one\r\n"));

    // A new stamp: re-read into the window first, then sent.
    setModified(path, t1.addSecs(50));
    w->cmdSend_Click();
    QCOMPARE(m_sent.last(), QByteArray("two\r\n"));
    QCOMPARE(w->txtSend->data(), QByteArray("two\r\n"));
    QVERIFY(m_env->ui.messages().isEmpty());

    // The file deleted while sending periodically: the next pass stops and tells.
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("60000"));
    w->cmdSend_Click();
    QCOMPARE(m_sent.size(), 4);
    QVERIFY(QFile::remove(path));
    Q_EMIT w->tmrPauseAfterData->TimerFired(QVariant());
    QVERIFY(!w->isSending());
    QCOMPARE(m_sent.size(), 4);
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(
        QStringLiteral("An error occurred while attempting to read the date stamp of the linked file. "
                       "The operating system reports: 2, ")));
    QVERIFY(w->cmdSend->isEnabled());
}

void tst_Transmission::interruptedConversion_data()
{
    // What happens while a long text is converted: at the click of Send, or
    // in a periodic pass after a first pass of "A".
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("single send, left alone")
        << QStringLiteral("click") << QString() << QByteArrayList{QByteArray(3 * 1024 * 1024, 'A')}
        << QStringList();
    QTest::newRow("single send, cancelled")
        << QStringLiteral("click") << QStringLiteral("cancel") << QByteArrayList() << QStringList{kCancelled};
    QTest::newRow("pass, cancelled") << QStringLiteral("pass") << QStringLiteral("cancel")
                                     << QByteArrayList{"A"} << QStringList{kCancelled};
    QTest::newRow("pass, stopped") << QStringLiteral("pass") << QStringLiteral("stop") << QByteArrayList{"A"}
                                   << QStringList();
    // The close waits for the conversion to end; the data is too long to keep: Yes.
    QTest::newRow("start, closed") << QStringLiteral("start") << QStringLiteral("close") << QByteArrayList()
                                   << QStringList();
}

void tst_Transmission::interruptedConversion()
{
    QFETCH(QString, when);
    QFETCH(QString, action);
    QFETCH(QByteArrayList, sent);
    QFETCH(QStringList, messages);
    frmSend *w = newWindow("\\41", when == QLatin1String("click") ? 0 : 60000);
    w->chkBinary->setChecked(true);
    if (when == QLatin1String("pass"))
        w->cmdSend_Click();
    w->txtSend->setData(kManyEscapes);
    QPointer<frmSend> p(w);
    int acts = 0;
    QTimer actor;
    actor.setInterval(0);
    connect(&actor, &QTimer::timeout, this, [&] {
        if (action.isEmpty() || !p || !p->isBusy() || acts++ > 0)
            return;
        if (action == QLatin1String("stop"))
            QTest::mouseClick(p->cmdSend, Qt::LeftButton);
        else if (action == QLatin1String("close"))
            p->close();
        for (QWidget *t : QApplication::topLevelWidgets()) {
            if (action == QLatin1String("cancel") && t->objectName() == QLatin1String("frmWait"))
                t->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
        }
    });
    actor.start();
    m_env->ui.yesNoAnswers.enqueue(true);
    if (when == QLatin1String("pass"))
        Q_EMIT w->tmrPauseAfterData->TimerFired(QVariant());
    else
        w->cmdSend_Click();
    const bool closing = action == QLatin1String("close");
    QTRY_COMPARE(p.isNull(), closing);
    actor.stop();
    QCOMPARE(acts > 0, !action.isEmpty());
    QCOMPARE(m_sent, sent);
    QCOMPARE(m_env->ui.messages(), messages);
    if (!closing) {
        QVERIFY(!w->isSending() && !w->isBusy() && w->cmdSend->isEnabled());
        // Never a part of a conversion: nothing prepared is better than a fragment.
        QCOMPARE(w->RawData.isEmpty(), !action.isEmpty());
    }
}

QTEST_MAIN(tst_Transmission)
#include "tst_transmission.moc"
