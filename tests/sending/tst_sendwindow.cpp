#include "core/bytes.h"
#include "core/frmtimer.h"
#include "core/programfolder.h"
#include "display/frmdetails.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendcontrols.h"
#include "sending/sendstatestore.h"
#include "support/testenv.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"
#include "ui/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
const QString kSend = QStringLiteral("Send");
const QString kLoadFailure =
    QStringLiteral("An error occurred while attempting to load the file.  The operating system reports: ");
const QString kCancelled = QStringLiteral("You have cancelled the operation.  No data will be sent.");
// Three megabytes once converted: long enough that converting lets events run.
const QByteArray kManyEscapes = QByteArray("\\41").repeated(3 * 1024 * 1024);

QString section(int n)
{
    return SendStateStore::stateSection(n);
}

// What every test needs: a private settings file and folder, scripted
// prompts, and no window left open afterwards.
struct SendEnv
{
    TempSettings settings;
    ScriptedUi ui;

    ~SendEnv()
    {
        const auto open = frmSend::openWindows();
        for (frmSend *w : open) {
            w->IsModified = false;
            delete w;
        }
    }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        return putFile(settings.path(name), bytes);
    }
};

// Closes a window the way its close box does and waits until it is gone.
bool closeAndWait(frmSend *w)
{
    QPointer<frmSend> p(w);
    w->close();
    return QTest::qWaitFor([&] { return p.isNull(); }, 5000);
}

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime));
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
    void detailsAndClear();
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
    void sendStartAndStop();
    void linkedFileChangeIsPickedUp();
    void interruptedConversion_data();
    void interruptedConversion();

private:
    QString lastPrompt() const { return m_env->ui.prompts.last().text; }
    frmSend *sending(const QByteArray &data, int period = 0);
    std::unique_ptr<SendEnv> m_env;
    frmSend *m_w = nullptr;
    int m_refreshes = 0;
    QByteArrayList m_sent;
};

void tst_SendWindow::init()
{
    m_env = std::make_unique<SendEnv>();
    m_w = frmSend::OpenNewWindow();
    // Events run after every block of 1000 characters loaded: a test's timer acts at the first.
    m_w->setLoadSliceMs(0);
    m_w->setSendHook([this](const QByteArray &bytes) { m_sent << bytes; });
    m_sent.clear();
    m_refreshes = 0;
    frmSend::setRefreshSendListHook([this] { ++m_refreshes; });
}

void tst_SendWindow::cleanup()
{
    frmSend::setRefreshSendListHook({});
    m_env.reset();
}

// The window with this text; a period turns on periodic sending. Tests fire
// its pass timer themselves, at the step they mean.
frmSend *tst_SendWindow::sending(const QByteArray &data, int period)
{
    m_w->txtSend->setData(data);
    if (period > 0) {
        m_w->chkPeriodically->setChecked(true);
        m_w->txtOnceEvery->setText(QString::number(period));
    }
    return m_w;
}

void tst_SendWindow::timingPanelAndOptionBoxes()
{
    // The panel grows the window and gives the height back; showing it is no edit.
    frmSend *w = m_w;
    const int h0 = w->height();
    w->cmdTiming_Click();
    QVERIFY(w->height() > h0);
    QTest::mouseClick(w->cmdTiming, Qt::LeftButton);
    QCOMPARE(w->height(), h0);
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
    const auto row = [](const char *name, const char *typed, const char *kept) {
        QTest::newRow(name) << QString::fromLatin1(typed) << QString::fromLatin1(kept);
    };
    row("empty", "", "1");
    row("blank zeros", " 000 ", "1");
    row("leading zero", "0200", "0200");
    row("largest", "2147483647", "2147483647");
    row("one beyond", "2147483648", "2147483647");
    row("far beyond", "99999999999999999999999", "2147483647");
    row("letters", "abc", "1");
    row("mixed, negative", "-5x0", "50");
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

void tst_SendWindow::detailsAndClear()
{
    // The details viewer shows up to 300 bytes around the caret, converted when escapes are on.
    frmSend *w = m_w;
    QByteArray longer(500, Qt::Uninitialized);
    for (int i = 0; i < 500; ++i)
        longer[i] = char('A' + i % 26);
    QTest::keyClicks(w->txtSend, QString::fromLatin1(longer.left(150)));
    QTRY_COMPARE(w->details()->currentText(), longer.left(150));
    w->txtSend->setData(longer);
    w->txtSend->setCaretPosition(400);
    QTest::keyClick(w->txtSend, Qt::Key_Right);
    QTRY_COMPARE(w->details()->currentText(), longer.mid(250, 300));
    w->txtSend->setData("\\41\\0D\\0A");
    w->chkBinary->setChecked(true);
    QCOMPARE(w->details()->currentText(), QByteArray("A\r\n"));

    // Clear asks: No keeps the data.
    w->cmdClear_Click(); // unscripted: answered No
    QCOMPARE(w->txtSend->data(), QByteArray("\\41\\0D\\0A"));
    // Yes also ends a link.
    w->IsLinked = true;
    w->LinkedFileName = QStringLiteral("/somewhere/file");
    w->ShowLinkState();
    w->IsModified = false;
    m_env->ui.yesNoAnswers.enqueue(true);
    w->cmdClear_Click();
    QVERIFY(w->txtSend->isEmpty() && !w->IsLinked && !w->txtSend->isReadOnly());
    QVERIFY(w->IsModified && w->DataChanged);
}

void tst_SendWindow::loadingRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("binaryBefore");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<bool>("binaryAfter");
    QTest::addColumn<QString>("notice"); // a word of the one notice, or empty for none
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        all[b] = char(b);
    const auto row = [](const char *name, const QByteArray &file, bool before, const QByteArray &shown,
                        bool after, const char *notice) {
        QTest::newRow(name) << file << before << shown << after << QString::fromLatin1(notice);
    };
    row("text, option off", "ab\r\ncd\n\re\\f", false, "ab\r\ncd\n\re\\f", false, "");
    row("text, option on", "GET /\r\n", true, "GET /\r\n", false, "ASCII");
    row("binary, option off", "\\\t\x7F\xC8\r\n", false, "\\5C\\09\\7F\\C8\r\n", true, "unprintable");
    // Line ends stay as they are, every other unprintable byte is escaped.
    row("every byte, option on", all, true, Bytes::GetChar2(all), true, "");
    row("empty, option on", "", true, "", false, "ASCII");
}

void tst_SendWindow::loadingRules()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, binaryBefore);
    QFETCH(QByteArray, shown);
    QFETCH(QString, notice);
    m_w->chkBinary->setChecked(binaryBefore);
    const QString path = m_env->writeFile(QStringLiteral("f.dat"), file);
    m_env->ui.fileAnswers.enqueue(path);
    m_w->cmdOpen_Click();
    QCOMPARE(m_w->txtSend->data(), shown);
    QTEST(m_w->chkBinary->isChecked(), "binaryAfter");
    const QStringList told = m_env->ui.messages();
    QCOMPARE(told.size(), notice.isEmpty() ? 0 : 1);
    QVERIFY(notice.isEmpty() || told[0].contains(notice));
    QCOMPARE(m_w->timingShown(), !notice.isEmpty()); // the option is shown when it is changed
    // Prepared right after opening: the escapes give the file back.
    QCOMPARE(m_w->RawData, file);
    // A whole file read brings the link question; No leaves it unlinked.
    QVERIFY(lastPrompt().startsWith(QStringLiteral("Should Tarnwell link to this file?")));
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
    const QString path = m_env->settings.path(QStringLiteral("target"));
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
    QVERIFY(m_env->ui.messages()[0].startsWith(kLoadFailure + reported));
    // No question, nothing lost, the link kept but due for a fresh read.
    QCOMPARE(m_w->txtSend->data(), QByteArray("previous"));
    QVERIFY(m_w->IsLinked && !m_w->LinkedFileDate.isValid());
    QVERIFY(!m_w->isBusy());
}

void tst_SendWindow::linkAndSaveAs()
{
    // Opening stops a running transmission first.
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
    const QString out = m_env->settings.path(QStringLiteral("out.bin"));
    m_env->ui.fileAnswers.enqueue(out);
    m_w->cmdSaveAs_Click();
    QCOMPARE(fileBytes(out), data);
    m_env->ui.fileAnswers.enqueue(m_env->settings.path(QStringLiteral("no/such/folder/out.txt")));
    m_w->cmdSaveAs_Click();
    QCOMPARE(m_env->ui.prompts.at(m_env->ui.prompts.size() - 2).text, out);
    QVERIFY(lastPrompt().startsWith(QStringLiteral(
        "An error occurred while attempting to save the file.  The operating system reports: ")));
    QCOMPARE(m_env->settings.store().Read(kSend, QStringLiteral("InitSaveDir")), out);
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
    QVERIFY(closeAndWait(m_w));
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
    const int writes = m_env->settings.store().writeCount();
    QVERIFY(closeAndWait(w));
    QCOMPARE(m_refreshes, 1);
    QCOMPARE(m_env->settings.store().writeCount(), writes + 1); // the whole state in one write
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
    QVERIFY(closeAndWait(r));
    QCOMPARE(m_env->settings.store().ReadAll(kSend).size(), 1);
    QCOMPARE(m_refreshes, 2);
}

void tst_SendWindow::refusedCloseKeepsItsNumber()
{
    SettingsStore &s = m_env->settings.store();
    for (int i = 0; i < 10; ++i) {
        s.SaveMany({{kSend, QString::number(i), QStringLiteral("state %1").arg(i)},
                    {section(i), QStringLiteral("Modified"),
                     QStringLiteral("0%1 Jan 2020 10:00:00").arg(i == 3 ? 1 : 5)},
                    {section(i), QStringLiteral("Data"), QStringLiteral("data %1").arg(i)}});
    }
    const auto tooMuchAsked = [&] {
        return m_env->ui.texts().filter(QStringLiteral("There is too much data in this window")).size();
    };
    // Too much data to keep (the limit is on bytes: a typed euro sign is three): No keeps the window open.
    QPointer<frmSend> a(m_w);
    a->txtTitle->setText(QStringLiteral("big"));
    a->txtSend->insertText(QString(1667, QChar(0x20AC)));
    m_env->ui.yesNoAnswers.enqueue(false);
    a->close();
    QVERIFY(a);
    QCOMPARE(tooMuchAsked(), 1);
    QCOMPARE(a->StateNumber, qint16(3));
    // The rest is written; the state it took over does not lend it its data.
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.Read(section(3), QStringLiteral("Data")), QString());
    QCOMPARE(m_refreshes, 1);

    // Another window saves meanwhile; it takes the next oldest state.
    frmSend *b = frmSend::OpenNewWindow();
    b->txtTitle->setText(QStringLiteral("small"));
    QVERIFY(closeAndWait(b));
    QCOMPARE(s.Read(kSend, QStringLiteral("0")), QStringLiteral("small"));

    // Yes closes it, in the place it had.
    m_env->ui.yesNoAnswers.enqueue(true);
    QVERIFY(closeAndWait(a));
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
    QVERIFY(closeAndWait(r));
    QCOMPARE(s.Read(section(5), QStringLiteral("Data")), QString());
    QCOMPARE(tooMuchAsked(), 4);
}

void tst_SendWindow::unsavableStateIsToldOnce()
{
    UnwritableSettings blocked(m_env->settings);
    QPointer<frmSend> w(m_w);
    w->txtTitle->setText(QStringLiteral("lost?"));
    w->close();
    QVERIFY(w);
    QCOMPARE(m_env->ui.messages(), QStringList{UnwritableSettings::told()});
    QCOMPARE(m_refreshes, 0);
    // The second close closes it without saving.
    QVERIFY(closeAndWait(w));
    QCOMPARE(m_env->ui.messages().size(), 1);
}

void tst_SendWindow::linkedStates()
{
    SettingsStore &s = m_env->settings.store();
    const QString path = m_env->writeFile(QStringLiteral("script.txt"), "HELO x\r\nQUIT\r\n");
    s.SaveMany({{kSend, QStringLiteral("0"), QStringLiteral("mail")},
                {section(0), QStringLiteral("LinkedFile"), path}});
    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(r->IsLinked && r->txtSend->isReadOnly());
    QCOMPARE(r->txtSend->data(), QByteArray("HELO x\r\nQUIT\r\n"));
    QVERIFY(closeAndWait(r));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), path);

    // A linked file gone meanwhile: told, opened empty and unlinked, and
    // closing it untouched leaves the saved link for another day.
    m_refreshes = 0;
    const QString gone = m_env->settings.path(QStringLiteral("gone.txt"));
    s.SaveMany({{section(0), QStringLiteral("Modified"), QStringLiteral("01 Jan 2024 10:00:00")},
                {section(0), QStringLiteral("LinkedFile"), gone}});
    frmSend *g = frmSend::ReopenState(0);
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(kLoadFailure + QStringLiteral("2, ")));
    QVERIFY(!g->IsLinked && g->txtSend->isEmpty() && !g->txtSend->isReadOnly());
    QVERIFY(closeAndWait(g));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), gone);
    QCOMPARE(s.Read(section(0), QStringLiteral("Modified")), QStringLiteral("01 Jan 2024 10:00:00"));
    QCOMPARE(m_refreshes, 0);
}

void tst_SendWindow::sendStartAndStop()
{
    frmSend *w = sending("\\41\\0D\\0A\\00\\FF");
    w->chkBinary->setChecked(true);
    w->cmdSend_Click();
    const QByteArray converted("A\r\n\0\xFF", 5);
    QCOMPARE(m_sent, QByteArrayList{converted});
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

    // Periodic: sent at once, then Send stops it; the options are locked meanwhile.
    m_sent.clear();
    sending("A\r\nB\r\n", 60000);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QCOMPARE(m_sent, QByteArrayList{QByteArray("A\r\nB\r\n")});
    QCOMPARE(w->cmdSend->text(), QStringLiteral("&Stop"));
    QVERIFY(!w->chkBinary->isEnabled() && !w->chkPause->isEnabled() && !w->cboSecs->isEnabled());
    QVERIFY(w->tmrPauseAfterData->isRunning());
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
    // Closing stops it.
    w->IsModified = false;
    QVERIFY(closeAndWait(w));
    QCOMPARE(m_sent.size(), 2);
}

void tst_SendWindow::linkedFileChangeIsPickedUp()
{
    const QString path = m_env->writeFile(QStringLiteral("linked.txt"), "one\r\n");
    const QDateTime t1 = QDateTime::currentDateTime().addSecs(-100);
    setModified(path, t1);
    frmSend *w = sending(QByteArray());
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

void tst_SendWindow::interruptedConversion_data()
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

void tst_SendWindow::interruptedConversion()
{
    QFETCH(QString, when);
    QFETCH(QString, action);
    frmSend *w = sending("\\41", when == QLatin1String("click") ? 0 : 60000);
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
    QTEST(m_sent, "sent");
    QTEST(m_env->ui.messages(), "messages");
    if (!closing) {
        QVERIFY(!w->isSending() && !w->isBusy() && w->cmdSend->isEnabled());
        // Never a part of a conversion: nothing prepared is better than a fragment.
        QCOMPARE(w->RawData.isEmpty(), !action.isEmpty());
    }
}

QTEST_MAIN(tst_SendWindow)
#include "tst_sendwindow.moc"
