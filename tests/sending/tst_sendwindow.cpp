#include "core/programfolder.h"
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
#include <QToolButton>
#include <algorithm>
#include <memory>

class tst_SendWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void timingPanelChangesHeight();
    void optionBoxesDriveTheirControls();
    void intervalTextIsKeptSound_data();
    void intervalTextIsKeptSound();
    void spinArrowsAndDuration();
    void detailsFollowCaret();
    void copyAndClear();
    void filesKeepBytesAndFolders();

private:
    std::unique_ptr<SendEnv> m_env;
    frmSend *m_w = nullptr;
};

void tst_SendWindow::init()
{
    m_env = std::make_unique<SendEnv>();
    m_w = frmSend::OpenNewWindow();
}

void tst_SendWindow::cleanup()
{
    m_env.reset();
}

void tst_SendWindow::timingPanelChangesHeight()
{
    // The panel grows the window by its own height only, and back.
    const int h0 = m_w->height();
    m_w->cmdTiming_Click();
    QCOMPARE(m_w->height(), h0 + Twips::toPixelsY(1500));
    QCOMPARE(m_w->minimumSize(), Twips::toPixels(5730, 5520));
    QTest::mouseClick(m_w->cmdTiming, Qt::LeftButton);
    QVERIFY(!m_w->panTimingDetails->isVisible());
    QCOMPARE(m_w->height(), h0);
    QCOMPARE(m_w->minimumSize(), Twips::toPixels(5730, 4020));
    QVERIFY(!m_w->IsModified);
}

void tst_SendWindow::optionBoxesDriveTheirControls()
{
    frmSend *w = m_w;
    w->cmdTiming_Click();
    const QList<QWidget *> pause{w->lblPause, w->txtPause, w->lblmSec, w->udPause};
    const QList<QWidget *> period{w->lblSendOnceEvery, w->txtOnceEvery, w->cboSecs, w->lblmSecFor, w->udOnceEvery};
    auto enabled = [](const QList<QWidget *> &l) {
        return std::all_of(l.begin(), l.end(), [](QWidget *c) { return c->isEnabled(); });
    };
    auto disabled = [](const QList<QWidget *> &l) {
        return std::none_of(l.begin(), l.end(), [](QWidget *c) { return c->isEnabled(); });
    };
    QVERIFY(disabled(pause) && disabled(period));
    QTest::mouseClick(w->lblPause2, Qt::LeftButton); // a label toggles its box
    QVERIFY(w->chkPause->isChecked());
    QVERIFY(w->IsModified);
    QVERIFY(enabled(pause) && disabled(period));
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QTest::mouseClick(w->lblPause2, Qt::LeftButton);
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Send"));
    QTest::mouseClick(w->lblPeriodically, Qt::LeftButton);
    QVERIFY(disabled(pause) && enabled(period));
    // The label of a disabled box does nothing.
    w->chkBinary->setEnabled(false);
    QTest::mouseClick(w->lblBinary, Qt::LeftButton);
    QVERIFY(!w->chkBinary->isChecked());
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

void tst_SendWindow::spinArrowsAndDuration()
{
    frmSend *w = m_w;
    w->chkPause->setChecked(true);
    w->udPause->stepBy(1);
    QCOMPARE(w->txtPause->text(), QStringLiteral("300"));
    w->udPause->stepBy(-3); // 0 is not a pause: the box makes it 1
    QCOMPARE(w->txtPause->text(), QStringLiteral("1"));
    w->txtPause->setText(QStringLiteral("123456"));
    w->udPause->stepBy(1);
    QCOMPARE(w->txtPause->text(), QStringLiteral("90000"));

    w->chkPeriodically->setChecked(true);
    QVERIFY(!w->durationSeconds().has_value());
    w->IsModified = false;
    w->cboSecs->setCurrentIndex(2); // chosen from the list: no edit
    QVERIFY(!w->IsModified);
    QCOMPARE(w->durationSeconds().value_or(-1), 10.0);
    w->cboSecs->setEditText(QStringLiteral("45"));
    QVERIFY(w->IsModified);
    QCOMPARE(w->durationSeconds().value_or(-1), 45.0);
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

    m_w->IsModified = false;
    m_env->ui.prompts.clear();
    m_w->cmdClear_Click(); // unscripted: answered No
    QCOMPARE(m_env->ui.prompts[0].text, QStringLiteral("Are you sure you wish to clear the send text box?"));
    QCOMPARE(m_w->txtSend->data(), data);
    QVERIFY(!m_w->IsModified);

    m_w->IsLinked = true;
    m_w->LinkedFileName = QStringLiteral("/somewhere/file");
    m_w->ShowLinkState();
    m_env->ui.yesNoAnswers.enqueue(true);
    m_w->cmdClear_Click();
    QVERIFY(m_w->txtSend->isEmpty());
    QVERIFY(!m_w->IsLinked);
    QVERIFY(!m_w->txtSend->isReadOnly());
    QVERIFY(m_w->IsModified && m_w->DataChanged);
}

void tst_SendWindow::filesKeepBytesAndFolders()
{
    SettingsStore &s = m_env->settings.store();
    const QString out = m_env->dir.filePath(QStringLiteral("out.bin"));
    const QByteArray data("HELO a\r\nb\rc\n\0\xFF\xA0\\41", 19);
    m_w->txtSend->setData(data);
    m_env->ui.fileAnswers.enqueue(out);
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_env->ui.prompts[0].text, ProgramFolder::writableDir());
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), data);
    QCOMPARE(s.Read(QStringLiteral("Send"), QStringLiteral("InitSaveDir")), out);

    m_env->ui.fileAnswers.enqueue(m_env->dir.filePath(QStringLiteral("no/such/folder/out.txt")));
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_env->ui.prompts[1].text, out);
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(QStringLiteral(
        "An error occurred while attempting to save the file.  The operating system reports: ")));
    QCOMPARE(s.Read(QStringLiteral("Send"), QStringLiteral("InitSaveDir")), out);

    // The open dialog starts where the last file was opened; cancelling changes nothing.
    m_env->ui.prompts.clear();
    m_w->cmdOpen_Click();
    QCOMPARE(m_env->ui.prompts[0].text, ProgramFolder::writableDir());
    QCOMPARE(m_w->txtSend->data(), data);
    const QString in = m_env->writeFile(QStringLiteral("in.txt"), "abc");
    m_env->ui.fileAnswers.enqueue(in);
    m_w->cmdOpen_Click();
    QCOMPARE(m_w->txtSend->data(), QByteArray("abc"));
    QCOMPARE(s.Read(QStringLiteral("Send"), QStringLiteral("InitReadDir")), in);
    m_w->cmdOpen_Click();
    QCOMPARE(m_env->ui.prompts.last().text, in);
}

QTEST_MAIN(tst_SendWindow)
#include "tst_sendwindow.moc"
