#include "display/frmdetails.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendcontrols.h"
#include "sending/sendenv.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

namespace {
const QString kSend = QStringLiteral("Send");
QString section(int n)
{
    return QStringLiteral("Send\\") + QString::number(n);
}
} // namespace

class tst_SendWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void timingPanelAndOptionBoxes();
    void intervalTextIsKeptSound_data();
    void intervalTextIsKeptSound();
    void detailsFollowCaret();
    void copyAndClear();
    void stateSavedAndReopened();
    void tooMuchDataToKeep_data();
    void tooMuchDataToKeep();
    void refusedCloseKeepsItsNumber();
    void linkedStates();

private:
    std::unique_ptr<SendEnv> m_env;
    frmSend *m_w = nullptr;
    int m_refreshes = 0;
};

void tst_SendWindow::init()
{
    m_env = std::make_unique<SendEnv>();
    m_w = frmSend::OpenNewWindow();
    m_refreshes = 0;
    frmSend::setRefreshSendListHook([this] { ++m_refreshes; });
}

void tst_SendWindow::cleanup()
{
    frmSend::setRefreshSendListHook({});
    m_env.reset();
}

void tst_SendWindow::timingPanelAndOptionBoxes()
{
    // The panel grows the window by its own height only, and back.
    frmSend *w = m_w;
    const int h0 = w->height();
    w->cmdTiming_Click();
    QCOMPARE(w->height(), h0 + Twips::toPixelsY(1500));
    QCOMPARE(w->minimumSize(), Twips::toPixels(5730, 5520));
    QTest::mouseClick(w->cmdTiming, Qt::LeftButton);
    QCOMPARE(w->height(), h0);
    QCOMPARE(w->minimumSize(), Twips::toPixels(5730, 4020));
    QVERIFY(!w->IsModified);

    // A label toggles its box, whose controls follow it; a disabled box's label does nothing.
    w->cmdTiming_Click();
    QTest::mouseClick(w->lblPause2, Qt::LeftButton);
    QVERIFY(w->chkPause->isChecked() && w->IsModified);
    QVERIFY(w->txtPause->isEnabled() && w->udPause->isEnabled() && !w->txtOnceEvery->isEnabled());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QTest::mouseClick(w->lblPause2, Qt::LeftButton);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Send"));
    QTest::mouseClick(w->lblPeriodically, Qt::LeftButton);
    QVERIFY(!w->txtPause->isEnabled() && w->txtOnceEvery->isEnabled() && w->cboSecs->isEnabled());
    w->chkBinary->setEnabled(false);
    QTest::mouseClick(w->lblBinary, Qt::LeftButton);
    QVERIFY(!w->chkBinary->isChecked());

    // A duration chosen from the list is no edit; a typed one is.
    w->IsModified = false;
    w->cboSecs->setCurrentIndex(2);
    QVERIFY(!w->IsModified);
    QCOMPARE(w->durationSeconds().value_or(-1), 10.0);
    w->cboSecs->setEditText(QStringLiteral("45"));
    QVERIFY(w->IsModified);
}

void tst_SendWindow::intervalTextIsKeptSound_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("empty") << QString() << QStringLiteral("1");
    QTest::newRow("blank zeros") << QStringLiteral(" 000 ") << QStringLiteral("1");
    QTest::newRow("leading zero") << QStringLiteral("0200") << QStringLiteral("0200");
    QTest::newRow("largest") << QStringLiteral("2147483647") << QStringLiteral("2147483647");
    QTest::newRow("one beyond") << QStringLiteral("2147483648") << QStringLiteral("2147483647");
    QTest::newRow("far beyond") << QStringLiteral("99999999999999999999999") << QStringLiteral("2147483647");
    QTest::newRow("letters") << QStringLiteral("abc") << QStringLiteral("1");
    QTest::newRow("mixed, negative") << QStringLiteral("-5x0") << QStringLiteral("50");
}

void tst_SendWindow::intervalTextIsKeptSound()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    for (QLineEdit *box : {m_w->txtPause, m_w->txtOnceEvery}) {
        box->setText(typed);
        QCOMPARE(box->text(), kept);
    }
    QCOMPARE(m_w->pauseInterval(), kept.toInt());
    QCOMPARE(m_w->periodInterval(), kept.toInt());
}

void tst_SendWindow::detailsFollowCaret()
{
    frmSend *w = m_w;
    QByteArray longer;
    for (int i = 0; i < 500; ++i)
        longer.append(char('A' + i % 26));
    QTest::keyClicks(w->txtSend, QString::fromLatin1(longer.left(150)));
    QTRY_COMPARE(w->details()->currentText(), longer.left(150));
    w->txtSend->setData(longer);
    w->txtSend->setCaretPosition(400);
    QTest::keyClick(w->txtSend, Qt::Key_Right);
    QTRY_COMPARE(w->details()->currentText(), longer.mid(250, 300));
    // Turning on escapes shows the converted bytes at once.
    w->txtSend->setData("\\41\\0D\\0A");
    w->chkBinary->setChecked(true);
    QCOMPARE(w->details()->currentText(), QByteArray("A\r\n"));
}

void tst_SendWindow::copyAndClear()
{
    const QByteArray data("line\r\n\x01\xE9\xFF", 9);
    m_w->txtSend->setData(data);
    m_w->cmdCopyAll_Click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(data));
    m_w->cmdClear_Click(); // unscripted: answered No
    QCOMPARE(m_env->ui.prompts.last().text,
             QStringLiteral("Are you sure you wish to clear the send text box?"));
    QCOMPARE(m_w->txtSend->data(), data);
    m_w->IsLinked = true;
    m_w->LinkedFileName = QStringLiteral("/somewhere/file");
    m_w->ShowLinkState();
    m_w->IsModified = false;
    m_env->ui.yesNoAnswers.enqueue(true);
    m_w->cmdClear_Click();
    QVERIFY(m_w->txtSend->isEmpty() && !m_w->IsLinked && !m_w->txtSend->isReadOnly());
    QVERIFY(m_w->IsModified && m_w->DataChanged);
}

void tst_SendWindow::stateSavedAndReopened()
{
    // A window never edited writes nothing.
    QVERIFY(SendEnv::closeAndWait(m_w));
    QVERIFY(m_env->settings.store().ReadAll(kSend).isEmpty());
    QCOMPARE(m_refreshes, 0);

    const QByteArray data("GET / HTTP/1.0\r\n\0\xFF", 18);
    frmSend *w = frmSend::OpenNewWindow();
    w->txtTitle->setText(QStringLiteral("HTTP probe"));
    w->txtSend->setData(data);
    w->cmdTiming_Click();
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("350"));
    w->cboSecs->setEditText(QStringLiteral("30"));
    w->move(Twips::toPixelsX(1500), Twips::toPixelsY(900));
    w->resize(Twips::toPixelsX(7000), w->height());
    const QRect shown(w->pos(), w->size());
    QVERIFY(SendEnv::closeAndWait(w));
    QCOMPARE(m_refreshes, 1);
    // The height is stored without the options panel.
    QCOMPARE(m_env->settings.store().Read(section(0), QStringLiteral("Height")),
             QString::number(Twips::fromPixelsY(shown.height()) - 1500));

    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(!r->IsNewWindow);
    QCOMPARE(r->windowTitle(), QStringLiteral("Send - HTTP probe"));
    QCOMPARE(r->txtSend->data(), data);
    QVERIFY(r->chkPause->isChecked() && !r->chkBinary->isChecked() && r->timingShown());
    QCOMPARE((QStringList{r->txtPause->text(), r->cboSecs->currentText()}),
             (QStringList{QStringLiteral("350"), QStringLiteral("30")}));
    QCOMPARE(r->pos(), shown.topLeft());
    QVERIFY(qAbs(r->width() - shown.width()) <= 1 && qAbs(r->height() - shown.height()) <= 2);
    // Restored values differ from a fresh window's, so the state is saved again, in place.
    QVERIFY(r->IsModified);
    QVERIFY(SendEnv::closeAndWait(r));
    QCOMPARE(m_env->settings.store().ReadAll(kSend).size(), 1);
    QCOMPARE(m_refreshes, 2);
}

void tst_SendWindow::tooMuchDataToKeep_data()
{
    // The limit is on bytes: a typed euro sign is three of them.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closed");
    QTest::newRow("5000 stored") << QString(5000, QLatin1Char('d')) << false << false << true;
    QTest::newRow("5001 yes") << QString(5001, QLatin1Char('d')) << true << true << true;
    QTest::newRow("5001 bytes as euros, no") << QString(1667, QChar(0x20AC)) << false << true << false;
}

void tst_SendWindow::tooMuchDataToKeep()
{
    QFETCH(QString, typed);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, closed);
    QPointer<frmSend> p(m_w);
    m_w->txtSend->insertText(typed);
    m_env->ui.yesNoAnswers.enqueue(answer);
    m_w->close();
    QTest::qWait(0);
    QCOMPARE(p.isNull(), closed);
    QCOMPARE(m_env->ui.prompts.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(m_env->ui.prompts[0].text,
                 QStringLiteral(
                     "There is too much data in this window to allow its state to be recorded in the "
                     "registry.  The data will not be recorded.  It may be wise to save the information "
                     "to a file before proceeding.\r\n\r\nDo you wish to continue closing this window?"));
    QCOMPARE(m_refreshes, closed ? 1 : 0);
}

void tst_SendWindow::refusedCloseKeepsItsNumber()
{
    SettingsStore &s = m_env->settings.store();
    for (int i = 0; i < 10; ++i) {
        s.Save(kSend, QString::number(i), QStringLiteral("state %1").arg(i));
        s.Save(section(i), QStringLiteral("Modified"),
               QStringLiteral("0%1 Jan 2020 10:00:00").arg(i == 3 ? 1 : 5));
    }
    QPointer<frmSend> a(m_w);
    a->txtTitle->setText(QStringLiteral("big"));
    a->txtSend->setData(QByteArray(6000, 'b'));
    m_env->ui.yesNoAnswers.enqueue(false);
    a->close();
    QVERIFY(a);
    QCOMPARE(a->StateNumber, qint16(3));

    // Another window saves meanwhile; it takes the next oldest state.
    frmSend *b = frmSend::OpenNewWindow();
    b->txtTitle->setText(QStringLiteral("small"));
    QVERIFY(SendEnv::closeAndWait(b));
    QCOMPARE(s.Read(kSend, QStringLiteral("0")), QStringLiteral("small"));

    m_env->ui.yesNoAnswers.enqueue(true);
    QVERIFY(SendEnv::closeAndWait(a));
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.ReadAll(kSend).size(), 10);
}

void tst_SendWindow::linkedStates()
{
    SettingsStore &s = m_env->settings.store();
    const QString path = m_env->writeFile(QStringLiteral("script.txt"), "HELO x\r\nQUIT\r\n");
    s.Save(kSend, QStringLiteral("0"), QStringLiteral("mail"));
    s.Save(section(0), QStringLiteral("LinkedFile"), path);
    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(r->IsLinked && r->txtSend->isReadOnly());
    QCOMPARE(r->txtSend->data(), QByteArray("HELO x\r\nQUIT\r\n"));
    QVERIFY(SendEnv::closeAndWait(r));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), path);

    // A linked file gone meanwhile: told, opened empty and unlinked, and
    // closing it untouched leaves the saved link for another day.
    m_refreshes = 0;
    const QString gone = m_env->dir.filePath(QStringLiteral("gone.txt"));
    s.Save(section(0), QStringLiteral("Modified"), QStringLiteral("01 Jan 2024 10:00:00"));
    s.Save(section(0), QStringLiteral("LinkedFile"), gone);
    frmSend *g = frmSend::ReopenState(0);
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(QStringLiteral(
        "An error occurred while attempting to load the file.  The operating system reports: 2, ")));
    QVERIFY(!g->IsLinked && g->txtSend->isEmpty() && !g->txtSend->isReadOnly());
    QVERIFY(SendEnv::closeAndWait(g));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), gone);
    QCOMPARE(s.Read(section(0), QStringLiteral("Modified")), QStringLiteral("01 Jan 2024 10:00:00"));
    QCOMPARE(m_refreshes, 0);
}

QTEST_MAIN(tst_SendWindow)
#include "tst_sendwindow.moc"
