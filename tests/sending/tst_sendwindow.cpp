#include "core/programfolder.h"
#include "display/frmdetails.h"
#include "sending/bytetextedit.h"
#include "sending/sendcontrols.h"
#include "sending/sendenv.h"
#include "ui/frmwait.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
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
    void captionsWholeAndApart_data();
    void captionsWholeAndApart();
    void intervalTextIsKeptSound_data();
    void intervalTextIsKeptSound();
    void detailsFollowCaret();
    void copyAndClear();
    void loadingRules_data();
    void loadingRules();
    void unreadableFiles_data();
    void unreadableFiles();
    void linkAndSaveAs();
    void cancelKeepsPartAndAsksNothing();
    void keysDuringALoadStayOut();
    void stateSavedAndReopened();
    void refusedCloseKeepsItsNumber();
    void unsavableStateIsToldOnce();
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
    // Events run after every block of 1000 characters loaded: a test's timer acts at the first.
    m_w->setLoadSliceMs(0);
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

void tst_SendWindow::captionsWholeAndApart_data()
{
    QTest::addColumn<bool>("options");
    QTest::newRow("options hidden") << false;
    QTest::newRow("options shown") << true;
}

void tst_SendWindow::captionsWholeAndApart()
{
    // The window opens at its minimum size, with or without the options.
    QFETCH(bool, options);
    if (options)
        m_w->cmdTiming_Click();
    QCOMPARE(m_w->size(), m_w->minimumSize());
    QCoreApplication::processEvents();
    m_w->layout()->activate();
    const auto children = m_w->findChildren<QWidget *>();
    for (QWidget *c : children) {
        if (!c->isVisibleTo(m_w))
            continue;
        const auto *label = qobject_cast<QLabel *>(c);
        const auto *button = qobject_cast<QAbstractButton *>(c);
        const QString text = label ? label->text() : button ? button->text() : QString();
        const int needed = c->fontMetrics().horizontalAdvance(QString(text).remove(QLatin1Char('&'))) +
                           2 * (label ? label->margin() : c->style()->pixelMetric(QStyle::PM_ButtonMargin));
        const int room = label ? label->contentsRect().width() : c->width();
        QVERIFY2(text.isEmpty() || room >= needed, qPrintable(c->objectName() + QStringLiteral(" is cut")));
        for (QWidget *o : children) {
            if (o != c && o->parentWidget() == c->parentWidget() && o->isVisibleTo(m_w))
                QVERIFY2(!o->geometry().intersects(c->geometry()),
                         qPrintable(c->objectName() + QStringLiteral(" overlaps ") + o->objectName()));
        }
    }
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

void tst_SendWindow::loadingRules_data()
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

void tst_SendWindow::loadingRules()
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

void tst_SendWindow::unreadableFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reported");
    QTest::newRow("vanished") << QStringLiteral("missing") << QStringLiteral("2, ");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("21, ");
    QTest::newRow("too large") << QStringLiteral("huge") << QStringLiteral("27, ");
}

void tst_SendWindow::unreadableFiles()
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

void tst_SendWindow::linkAndSaveAs()
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

void tst_SendWindow::cancelKeepsPartAndAsksNothing()
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

void tst_SendWindow::keysDuringALoadStayOut()
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

void tst_SendWindow::stateSavedAndReopened()
{
    // A window never edited writes nothing.
    QVERIFY(SendEnv::closeAndWait(m_w));
    QVERIFY(m_env->settings.store().ReadAll(kSend).isEmpty());
    QCOMPARE(m_refreshes, 0);

    const QByteArray data("GET / HTTP/1.0\r\n\0\xFF", 18);
    frmSend *w = frmSend::OpenNewWindow();
    // Another copy of the program, started on the same file, saves a state meanwhile.
    SettingsStore other(m_env->settings.iniPath());
    QVERIFY(!other.Save(kSend, QStringLiteral("0"), QStringLiteral("from another copy")).isError());
    w->txtTitle->setText(QStringLiteral("HTTP probe"));
    w->txtSend->setData(data);
    w->cmdTiming_Click();
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("350"));
    w->cboSecs->setEditText(QStringLiteral("30"));
    w->move(Twips::toPixelsX(1500), Twips::toPixelsY(900));
    w->resize(Twips::toPixelsX(7000), w->height());
    const QRect shown(w->pos(), w->size());
    const int writes = m_env->settings.store().writeCount();
    QVERIFY(SendEnv::closeAndWait(w));
    QCOMPARE(m_refreshes, 1);
    QCOMPARE(m_env->settings.store().writeCount(), writes + 1); // the whole state in one write
    QCOMPARE(m_env->settings.store().Read(kSend, QStringLiteral("0")), QStringLiteral("from another copy"));
    // The height is stored without the options panel.
    QCOMPARE(m_env->settings.store().Read(section(1), QStringLiteral("Height")),
             QString::number(Twips::fromPixelsY(shown.height()) - 1500));

    frmSend *r = frmSend::ReopenState(1);
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
    QCOMPARE(m_env->settings.store().ReadAll(kSend).size(), 2);
    QCOMPARE(m_refreshes, 2);
}

void tst_SendWindow::refusedCloseKeepsItsNumber()
{
    SettingsStore &s = m_env->settings.store();
    for (int i = 0; i < 10; ++i) {
        s.Save(kSend, QString::number(i), QStringLiteral("state %1").arg(i));
        s.Save(section(i), QStringLiteral("Modified"),
               QStringLiteral("0%1 Jan 2020 10:00:00").arg(i == 3 ? 1 : 5));
        s.Save(section(i), QStringLiteral("Data"), QStringLiteral("data %1").arg(i));
    }
    const QString tooMuch =
        QStringLiteral("There is too much data in this window to allow its state to be recorded in the "
                       "registry.  The data will not be recorded.  It may be wise to save the information "
                       "to a file before proceeding.\r\n\r\nDo you wish to continue closing this window?");
    // Too much data to keep (the limit is on bytes: a typed euro sign is three): No keeps the window open.
    QPointer<frmSend> a(m_w);
    a->txtTitle->setText(QStringLiteral("big"));
    a->txtSend->insertText(QString(1667, QChar(0x20AC)));
    m_env->ui.yesNoAnswers.enqueue(false);
    a->close();
    QVERIFY(a);
    QCOMPARE(m_env->ui.prompts.last().text, tooMuch);
    QCOMPARE(a->StateNumber, qint16(3));
    // The rest is written; the state it took over does not lend it its data.
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.Read(section(3), QStringLiteral("Data")), QString());
    QCOMPARE(m_refreshes, 1);

    // Another window saves meanwhile; it takes the next oldest state.
    frmSend *b = frmSend::OpenNewWindow();
    b->txtTitle->setText(QStringLiteral("small"));
    QVERIFY(SendEnv::closeAndWait(b));
    QCOMPARE(s.Read(kSend, QStringLiteral("0")), QStringLiteral("small"));

    // Yes closes it, in the place it had.
    m_env->ui.yesNoAnswers.enqueue(true);
    QVERIFY(SendEnv::closeAndWait(a));
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.ReadAll(kSend).size(), 10);

    // A reopened state keeps its stored data on No, loses it on Yes.
    QPointer<frmSend> r = frmSend::ReopenState(5);
    r->txtTitle->setText(QStringLiteral("grown"));
    r->txtSend->setData(QByteArray(5001, 'x'));
    m_env->ui.yesNoAnswers.enqueue(false);
    r->close();
    QVERIFY(r);
    QCOMPARE(s.Read(kSend, QStringLiteral("5")), QStringLiteral("grown"));
    QCOMPARE(s.Read(section(5), QStringLiteral("Data")), QStringLiteral("data 5"));
    m_env->ui.yesNoAnswers.enqueue(true);
    QVERIFY(SendEnv::closeAndWait(r));
    QCOMPARE(s.Read(section(5), QStringLiteral("Data")), QString());
    QCOMPARE(m_env->ui.texts().count(tooMuch), 4);
}

void tst_SendWindow::unsavableStateIsToldOnce()
{
    // A folder that is a regular file stops root as well as any user.
    QFile blocker(m_env->dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsStore blocked(blocker.fileName() + QStringLiteral("/tarnwell.ini"));
    SettingsStore::setInstance(&blocked);
    QPointer<frmSend> w(m_w);
    w->txtTitle->setText(QStringLiteral("lost?"));
    w->close();
    const QStringList told{SettingsStore::kSaveFailure + QStringLiteral("20, Not a directory")};
    QVERIFY(w);
    QCOMPARE(m_env->ui.messages(), told);
    QCOMPARE(m_refreshes, 0);
    // The second close closes it without saving.
    QVERIFY(SendEnv::closeAndWait(w));
    QCOMPARE(m_env->ui.messages(), told);
    SettingsStore::setInstance(&m_env->settings.store());
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
