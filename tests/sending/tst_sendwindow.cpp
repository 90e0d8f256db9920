#include "core/programfolder.h"
#include "display/frmdetails.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendcontrols.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

class tst_SendWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void freshWindow();
    void captionFollowsDescription();
    void timingPanelChangesHeight();
    void labelsToggleEnabledBoxes();
    void optionControlsFollowTheirBoxes();
    void numberBoxesTakeDigitsOnly();
    void intervalTextIsKeptSound_data();
    void intervalTextIsKeptSound();
    void spinArrowsStepWithinRange();
    void durationEditsAndChoices();
    void detailsFollowCaret();
    void copyAllPutsBytesOnClipboard();
    void clearAsksFirst();
    void saveAsWritesBytesExactly();
    void saveAsFailureIsReported();
    void openDialogStartsWhereLastOpened();
    void typedCharactersBeyondLatin1CountAsBytes();

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<ScriptedUi> m_ui;
    frmSend *m_w = nullptr;
};

void tst_SendWindow::init()
{
    m_settings = std::make_unique<TempSettings>();
    m_ui = std::make_unique<ScriptedUi>();
    m_w = frmSend::OpenNewWindow();
}

void tst_SendWindow::cleanup()
{
    const auto open = frmSend::openWindows();
    for (frmSend *w : open)
        delete w;
    m_w = nullptr;
    m_ui.reset();
    m_settings.reset();
}

void tst_SendWindow::freshWindow()
{
    frmSend *w = m_w;
    QCOMPARE(w->windowTitle(), QStringLiteral("Send"));
    QVERIFY(w->IsNewWindow);
    QVERIFY(!w->IsModified);
    QCOMPARE(w->lblBinary->text(),
             QStringLiteral("Binary data preceded by \"\\\"  (Supply data in 2 digit hex)"));
    QCOMPARE(w->txtPause->text(), QStringLiteral("200"));
    QCOMPARE(w->txtOnceEvery->text(), QStringLiteral("5000"));
    QStringList items;
    for (int i = 0; i < w->cboSecs->count(); ++i)
        items << w->cboSecs->itemText(i);
    QCOMPARE(items, (QStringList{QStringLiteral("ever"), QStringLiteral("1"), QStringLiteral("10"),
                                 QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("100"),
                                 QStringLiteral("120"), QStringLiteral("200"), QStringLiteral("1000")}));
    QCOMPARE(w->cboSecs->currentText(), QStringLiteral("ever"));
    QVERIFY(!w->panTimingDetails->isVisible());
    QCOMPARE(w->cmdTiming->text(), QStringLiteral(">>"));
    QCOMPARE(w->cmdTiming->toolTip(), QStringLiteral("Show transmission options"));
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Send"));
    QCOMPARE(w->udPause->minimum(), 0);
    QCOMPARE(w->udPause->maximum(), 90000);
    QCOMPARE(w->udOnceEvery->singleStep(), 100);
    QCOMPARE(w->txtSend->font().family(), QStringLiteral("Courier New"));
    QCOMPARE(w->txtSend->font().pointSizeF(), 9.75);
    QCOMPARE(w->minimumSize(), Twips::toPixels(5730, 4020));
    QVERIFY(!w->txtSend->isReadOnly());
    QCOMPARE(w->txtSend->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(frmSend::openWindows(), QList<frmSend *>{w});
}

void tst_SendWindow::captionFollowsDescription()
{
    m_w->txtTitle->setText(QStringLiteral("Quote of the day"));
    QCOMPARE(m_w->windowTitle(), QStringLiteral("Send - Quote of the day"));
    QVERIFY(m_w->IsModified);
    m_w->txtTitle->clear();
    QCOMPARE(m_w->windowTitle(), QStringLiteral("Send"));
}

void tst_SendWindow::timingPanelChangesHeight()
{
    const int h0 = m_w->height();
    m_w->cmdTiming_Click();
    QCOMPARE(m_w->cmdTiming->text(), QStringLiteral("<<"));
    QVERIFY(m_w->panTimingDetails->isVisible());
    QCOMPARE(m_w->height(), h0 + Twips::toPixelsY(1500));
    QCOMPARE(m_w->minimumSize(), Twips::toPixels(5730, 5520));
    QTest::mouseClick(m_w->cmdTiming, Qt::LeftButton);
    QCOMPARE(m_w->cmdTiming->text(), QStringLiteral(">>"));
    QVERIFY(!m_w->panTimingDetails->isVisible());
    QCOMPARE(m_w->height(), h0);
    QCOMPARE(m_w->minimumSize(), Twips::toPixels(5730, 4020));
    QVERIFY(!m_w->IsModified);
}

void tst_SendWindow::labelsToggleEnabledBoxes()
{
    m_w->cmdTiming_Click();
    QTest::mouseClick(m_w->lblPause2, Qt::LeftButton);
    QVERIFY(m_w->chkPause->isChecked());
    QVERIFY(m_w->IsModified);
    QCOMPARE(m_w->cmdSend->text(), QStringLiteral("&Start Sending"));
    QTest::mouseClick(m_w->lblPause2, Qt::LeftButton);
    QVERIFY(!m_w->chkPause->isChecked());
    QCOMPARE(m_w->cmdSend->text(), QStringLiteral("&Send"));
    QTest::mouseClick(m_w->lblPeriodically, Qt::LeftButton);
    QVERIFY(m_w->chkPeriodically->isChecked());
    QTest::mouseClick(m_w->lblBinary, Qt::LeftButton);
    QVERIFY(m_w->chkBinary->isChecked());
    m_w->chkBinary->setEnabled(false);
    QTest::mouseClick(m_w->lblBinary, Qt::LeftButton);
    QVERIFY(m_w->chkBinary->isChecked());
}

void tst_SendWindow::optionControlsFollowTheirBoxes()
{
    frmSend *w = m_w;
    const QList<QWidget *> pause{w->lblPause, w->txtPause, w->lblmSec, w->udPause};
    const QList<QWidget *> period{w->lblSendOnceEvery, w->txtOnceEvery, w->cboSecs,
                                  w->lblSeconds,       w->lblmSecFor,   w->udOnceEvery};
    for (QWidget *c : pause + period)
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    w->chkPause->setChecked(true);
    for (QWidget *c : pause)
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    for (QWidget *c : period)
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    w->chkPeriodically->setChecked(true);
    for (QWidget *c : period)
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    w->chkPause->setChecked(false);
    for (QWidget *c : pause)
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
}

void tst_SendWindow::numberBoxesTakeDigitsOnly()
{
    m_w->cmdTiming_Click();
    m_w->chkPause->setChecked(true);
    m_w->chkPeriodically->setChecked(true);
    m_w->txtPause->selectAll();
    QTest::keyClicks(m_w->txtPause, QStringLiteral("4a5 -6."));
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("456"));
    QTest::keyClick(m_w->txtPause, Qt::Key_Backspace);
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("45"));
    QTest::keyClick(m_w->txtPause, Qt::Key_Return);
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("45"));
    m_w->txtOnceEvery->selectAll();
    QTest::keyClicks(m_w->txtOnceEvery, QStringLiteral("x2e5"));
    QCOMPARE(m_w->txtOnceEvery->text(), QStringLiteral("25"));
    m_w->cboSecs->lineEdit()->selectAll();
    QTest::keyClicks(m_w->cboSecs->lineEdit(), QStringLiteral("ever30"));
    QCOMPARE(m_w->cboSecs->currentText(), QStringLiteral("30"));
}

void tst_SendWindow::intervalTextIsKeptSound_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("empty") << QString() << QStringLiteral("1");
    QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("1");
    QTest::newRow("blank zero") << QStringLiteral(" 0 ") << QStringLiteral("1");
    QTest::newRow("zeros") << QStringLiteral("000") << QStringLiteral("1");
    QTest::newRow("leading zero") << QStringLiteral("0200") << QStringLiteral("0200");
    QTest::newRow("largest") << QStringLiteral("2147483647") << QStringLiteral("2147483647");
    QTest::newRow("one beyond") << QStringLiteral("2147483648") << QStringLiteral("2147483647");
    QTest::newRow("far beyond") << QStringLiteral("99999999999999999999999") << QStringLiteral("2147483647");
    QTest::newRow("letters") << QStringLiteral("abc") << QStringLiteral("1");
    QTest::newRow("mixed") << QStringLiteral("5x0") << QStringLiteral("50");
    QTest::newRow("negative") << QStringLiteral("-300") << QStringLiteral("300");
    QTest::newRow("blanks") << QStringLiteral(" 42 ") << QStringLiteral("42");
}

void tst_SendWindow::intervalTextIsKeptSound()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    for (QLineEdit *box : {m_w->txtPause, m_w->txtOnceEvery}) {
        m_w->IsModified = false;
        box->setText(typed);
        QCOMPARE(box->text(), kept);
        QVERIFY(m_w->IsModified);
    }
    QCOMPARE(m_w->pauseInterval(), kept.toInt());
    QVERIFY(m_w->periodInterval() >= 1);
}

void tst_SendWindow::spinArrowsStepWithinRange()
{
    m_w->chkPause->setChecked(true);
    m_w->udPause->stepBy(1);
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("300"));
    QTest::mouseClick(m_w->udPause->downButton(), Qt::LeftButton);
    QTest::mouseClick(m_w->udPause->downButton(), Qt::LeftButton);
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("100"));
    m_w->udPause->stepBy(-1); // 0 is not a pause: the box makes it 1
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("1"));
    m_w->txtPause->setText(QStringLiteral("123456"));
    m_w->udPause->stepBy(1);
    QCOMPARE(m_w->txtPause->text(), QStringLiteral("90000"));
}

void tst_SendWindow::durationEditsAndChoices()
{
    frmSend *w = m_w;
    w->chkPeriodically->setChecked(true);
    QVERIFY(!w->durationSeconds().has_value());
    w->IsModified = false;
    w->cboSecs->setCurrentIndex(2); // chosen from the list: no edit
    QCOMPARE(w->cboSecs->currentText(), QStringLiteral("10"));
    QVERIFY(!w->IsModified);
    QVERIFY(w->lblSeconds->isEnabled());
    QCOMPARE(w->durationSeconds().value_or(-1), 10.0);
    w->cboSecs->setCurrentIndex(0);
    QVERIFY(!w->lblSeconds->isEnabled());
    QVERIFY(!w->IsModified);
    w->cboSecs->setEditText(QStringLiteral("45"));
    QVERIFY(w->IsModified);
    QVERIFY(w->lblSeconds->isEnabled());
    QCOMPARE(w->durationSeconds().value_or(-1), 45.0);
}

void tst_SendWindow::detailsFollowCaret()
{
    frmSend *w = m_w;
    QByteArray typed;
    for (int i = 0; i < 150; ++i)
        typed.append(char('a' + i % 26));
    QTest::keyClicks(w->txtSend, QString::fromLatin1(typed));
    QCOMPARE(w->txtSend->caretPosition(), 150);
    QTRY_COMPARE(w->details()->currentText(), typed);

    QByteArray longer;
    for (int i = 0; i < 500; ++i)
        longer.append(char('A' + i % 26));
    w->txtSend->setData(longer);
    QTRY_COMPARE(w->details()->currentText(), longer.left(300));
    w->txtSend->setCaretPosition(400);
    QTest::keyClick(w->txtSend, Qt::Key_Right);
    QTRY_COMPARE(w->details()->currentText(), longer.mid(250, 300));

    // Turning on escapes shows the converted bytes at once.
    w->txtSend->setData("\\41\\0D\\0A");
    w->chkBinary->setChecked(true);
    QCOMPARE(w->details()->currentText(), QByteArray("A\r\n"));
    w->cmdDetails_Click();
    QVERIFY(w->details()->isVisible());
}

void tst_SendWindow::copyAllPutsBytesOnClipboard()
{
    const QByteArray data("line\r\n\x01\xE9\xFF", 9);
    m_w->txtSend->setData(data);
    m_w->cmdCopyAll_Click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(data));
    QCOMPARE(m_ui->messages(), QStringList{QStringLiteral("The data has been copied to the clipboard.")});
    QCOMPARE(m_ui->prompts[0].icon, UiService::Icon::Information);
}

void tst_SendWindow::clearAsksFirst()
{
    m_w->txtSend->setData("keep me");
    m_w->IsModified = false;
    m_ui->yesNoAnswers.enqueue(false);
    m_w->cmdClear_Click();
    QCOMPARE(m_ui->prompts.size(), 1);
    QCOMPARE(m_ui->prompts[0].text, QStringLiteral("Are you sure you wish to clear the send text box?"));
    QCOMPARE(m_ui->prompts[0].icon, UiService::Icon::Question);
    QCOMPARE(m_w->txtSend->data(), QByteArray("keep me"));
    QVERIFY(!m_w->IsModified);

    m_w->IsLinked = true;
    m_w->LinkedFileName = QStringLiteral("/somewhere/file");
    m_w->ShowLinkState();
    m_ui->yesNoAnswers.enqueue(true);
    m_w->cmdClear_Click();
    QVERIFY(m_w->txtSend->isEmpty());
    QVERIFY(!m_w->IsLinked);
    QVERIFY(m_w->LinkedFileName.isEmpty());
    QVERIFY(!m_w->txtSend->isReadOnly());
    QVERIFY(m_w->txtSend->toolTip().isEmpty());
    QCOMPARE(m_w->txtSend->palette().color(QPalette::Base), QColor(Qt::white));
    QVERIFY(m_w->IsModified);
    QVERIFY(m_w->DataChanged);
}

void tst_SendWindow::saveAsWritesBytesExactly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.bin"));
    const QByteArray data("HELO a\r\nb\rc\n\0\xFF\xA0\\41", 19);
    m_w->txtSend->setData(data);
    m_ui->fileAnswers.enqueue(path);
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_ui->prompts[0].kind, QStringLiteral("save"));
    QCOMPARE(m_ui->prompts[0].text, ProgramFolder::writableDir());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), data);
    QCOMPARE(m_settings->store().Read(QStringLiteral("Send"), QStringLiteral("InitSaveDir")), path);
    m_ui->fileAnswers.enqueue(QString()); // cancelled: nothing happens
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_ui->prompts[1].text, path);
    QCOMPARE(m_ui->messages().size(), 0);
}

void tst_SendWindow::saveAsFailureIsReported()
{
    QTemporaryDir dir;
    m_w->txtSend->setData("x");
    m_ui->fileAnswers.enqueue(dir.filePath(QStringLiteral("no/such/folder/out.txt")));
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_ui->messages().size(), 1);
    QVERIFY(m_ui->messages()[0].startsWith(QStringLiteral(
        "An error occurred while attempting to save the file.  The operating system reports: ")));
    QVERIFY(m_settings->store().Read(QStringLiteral("Send"), QStringLiteral("InitSaveDir")).isEmpty());
}

void tst_SendWindow::openDialogStartsWhereLastOpened()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("abc");
    f.close();
    m_ui->fileAnswers.enqueue(QString());
    m_w->cmdOpen_Click();
    QCOMPARE(m_ui->prompts.size(), 1);
    QCOMPARE(m_ui->prompts[0].kind, QStringLiteral("open"));
    QCOMPARE(m_ui->prompts[0].text, ProgramFolder::writableDir());
    QVERIFY(m_w->txtSend->isEmpty());
    QVERIFY(m_settings->store().Read(QStringLiteral("Send"), QStringLiteral("InitReadDir")).isEmpty());

    m_ui->fileAnswers.enqueue(path);
    m_ui->yesNoAnswers.enqueue(false);
    m_w->cmdOpen_Click();
    QCOMPARE(m_w->txtSend->data(), QByteArray("abc"));
    QCOMPARE(m_settings->store().Read(QStringLiteral("Send"), QStringLiteral("InitReadDir")), path);
    QCOMPARE(m_w->LinkedFileName, path);
    m_ui->fileAnswers.enqueue(QString());
    m_w->cmdOpen_Click();
    QCOMPARE(m_ui->prompts.last().text, path);
}

void tst_SendWindow::typedCharactersBeyondLatin1CountAsBytes()
{
    // 1667 euro signs are 5001 bytes: too many to keep with the state.
    QString euros(1667, QChar(0x20AC));
    m_w->txtSend->insertText(euros);
    QCOMPARE(m_w->txtSend->size(), 5001);
    QCOMPARE(m_w->txtSend->data().left(3), QByteArray("\xE2\x82\xAC"));
    m_ui->yesNoAnswers.enqueue(false);
    m_w->close();
    QCOMPARE(m_ui->prompts.size(), 1);
    QVERIFY(m_ui->prompts[0].text.startsWith(QStringLiteral("There is too much data")));
}

QTEST_MAIN(tst_SendWindow)
#include "tst_sendwindow.moc"
