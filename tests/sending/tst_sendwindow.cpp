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
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <optional>

namespace {
const QString kSend = QStringLiteral("Send");
const QString kLoadFailure =
    QStringLiteral("An error occurred while attempting to load the file.  The operating system reports: ");
const QString kCancelled = QStringLiteral("You have cancelled the operation.  No data will be sent.");
const QString kLinkQuestion = QStringLiteral("Should Tarnwell link to this file?");

QString section(int n)
{
    return SendStateStore::stateSection(n);
}

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

    std::optional<TempSettings> m_settings;
    std::optional<ScriptedUi> m_ui;
    frmSend *m_w = nullptr;
    int m_refreshes = 0;
    QByteArrayList m_sent;

    QString lastPrompt() const { return m_ui->prompts.last().text; }
    QStringList told() const { return m_ui->messages(); }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        return putFile(m_settings->path(name), bytes);
    }
    // Opens a file through the Open button; `link` answers the link question.
    void open(const QString &path, bool link = false)
    {
        m_ui->fileAnswers.enqueue(path);
        m_ui->yesNoAnswers.enqueue(link);
        m_w->cmdOpen_Click();
        m_ui->yesNoAnswers.clear();
    }
    // The window with this text; a period turns on periodic sending. Tests fire
    // its pass timer themselves, at the step they mean.
    frmSend *sending(const QByteArray &data, int period = 0)
    {
        m_w->txtSend->setData(data);
        if (period > 0) {
            m_w->chkPeriodically->setChecked(true);
            m_w->txtOnceEvery->setText(QString::number(period));
        }
        return m_w;
    }

private Q_SLOTS:
    void init()
    {
        m_settings.emplace();
        m_ui.emplace();
        m_w = frmSend::OpenNewWindow();
        // Events run after every block of 1000 characters loaded: a test's timer acts at the first.
        m_w->setLoadSliceMs(0);
        m_w->setSendHook([this](const QByteArray &bytes) { m_sent << bytes; });
        m_sent.clear();
        m_refreshes = 0;
        frmSend::setRefreshSendListHook([this] { ++m_refreshes; });
    }

    void cleanup()
    {
        frmSend::setRefreshSendListHook({});
        for (frmSend *w : frmSend::openWindows()) {
            w->IsModified = false;
            delete w;
        }
        m_ui.reset();
        m_settings.reset();
    }

    void timingPanelAndOptionBoxes()
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

    void intervalTextIsKeptSound_data()
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

    void intervalTextIsKeptSound()
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

    void detailsAndClear()
    {
        // The details viewer shows up to 300 bytes around the caret, converted when escapes are on.
        frmSend *w = m_w;
        const QByteArray longer = QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ").repeated(20).left(500);
        QTest::keyClicks(w->txtSend, QString::fromLatin1(longer.left(150)));
        QTRY_COMPARE(w->details()->currentText(), longer.left(150));
        w->txtSend->setData(longer);
        w->txtSend->setCaretPosition(400);
        QTest::keyClick(w->txtSend, Qt::Key_Right);
        QTRY_COMPARE(w->details()->currentText(), longer.mid(250, 300));
        w->txtSend->setData("\\41\\0D\\0A");
        w->chkBinary->setChecked(true);
        QCOMPARE(w->details()->currentText(), QByteArray("A\r\n"));

        // Clear asks: No keeps the data; Yes also ends a link.
        w->cmdClear_Click(); // unscripted: answered No
        QCOMPARE(w->txtSend->data(), QByteArray("\\41\\0D\\0A"));
        w->IsLinked = true;
        w->LinkedFileName = QStringLiteral("/somewhere/file");
        w->ShowLinkState();
        w->IsModified = false;
        m_ui->yesNoAnswers.enqueue(true);
        w->cmdClear_Click();
        QVERIFY(w->txtSend->isEmpty() && !w->IsLinked && !w->txtSend->isReadOnly());
        QVERIFY(w->IsModified && w->DataChanged);
    }

    // Opening a file over "previous". A whole file read brings the link
    // question (No: unlinked); a file that cannot be read is told, nothing is
    // lost, no question, and a link is kept but due for a fresh read.
    // Every window shows the same icons: icons made per window would leave
    // their pictures in the pixmap cache after the window goes.
    void iconsAreSharedAcrossWindows()
    {
        frmSend *other = frmSend::OpenNewWindow();
        QCOMPARE(other->cmdClear->icon().cacheKey(), m_w->cmdClear->icon().cacheKey());
    }

    void opening_data()
    {
        QTest::addColumn<QString>("kind"); // "file", or one that cannot be read
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("binaryBefore");
        QTest::addColumn<QByteArray>("shown");
        QTest::addColumn<bool>("binaryAfter");
        QTest::addColumn<QString>("notice"); // a part of the one notice, or empty for none
        const auto row = [](const char *name, const char *kind, const QByteArray &file, bool before,
                            const QByteArray &shown, bool after, const char *notice) {
            QTest::newRow(name) << QString::fromLatin1(kind) << file << before << shown << after
                                << QString::fromLatin1(notice);
        };
        row("text, option off", "file", "ab\r\ncd\n\re\\f", false, "ab\r\ncd\n\re\\f", false, "");
        row("text, option on", "file", "GET /\r\n", true, "GET /\r\n", false, "ASCII");
        row("binary, option off", "file", "\\\t\x7F\xC8\r\n", false, "\\5C\\09\\7F\\C8\r\n", true,
            "unprintable");
        row("DEL alone, option off", "file", "a\x7F", false, "a\\7F", true, "unprintable");
        // Line ends stay as they are, every other unprintable byte is escaped.
        row("every byte, option on", "file", everyByte(), true, Bytes::GetChar2(everyByte()), true, "");
        row("empty, option on", "file", "", true, "", false, "ASCII");
        row("vanished", "missing", "", true, "previous", true,
            "load the file.  The operating system reports: 2, ");
        row("folder", "folder", "", false, "previous", false,
            "load the file.  The operating system reports: 21, ");
        row("too large", "huge", "", false, "previous", false,
            "load the file.  The operating system reports: 27, ");
    }

    void opening()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, file);
        QFETCH(bool, binaryBefore);
        QFETCH(QString, notice);
        const QString path = m_settings->path(QStringLiteral("f.dat"));
        const bool readable = kind == QLatin1String("file");
        if (readable) {
            putFile(path, file);
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == QLatin1String("huge")) {
            // A sparse file: large on paper, nothing on the disk.
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(300) * 1024 * 1024));
        }
        m_w->chkBinary->setChecked(binaryBefore);
        m_w->txtSend->setData("previous");
        m_w->IsLinked = !readable;
        m_w->LinkedFileName = QStringLiteral("/elsewhere");
        open(path);
        QTEST(m_w->txtSend->data(), "shown");
        QTEST(m_w->chkBinary->isChecked(), "binaryAfter");
        QCOMPARE(told().size(), notice.isEmpty() ? 0 : 1);
        QVERIFY(notice.isEmpty() || told()[0].contains(notice));
        QVERIFY(!m_w->isBusy());
        QCOMPARE(m_w->IsLinked && m_w->txtSend->isReadOnly(), !readable);
        QCOMPARE(m_w->LinkedFileDate, readable ? QFileInfo(path).lastModified() : QDateTime());
        QCOMPARE(lastPrompt().startsWith(kLinkQuestion), readable);
        if (readable) {
            QCOMPARE(m_w->timingShown(), !notice.isEmpty()); // the option is shown when it is changed
            // Prepared right after opening: the escapes give the file back.
            QCOMPARE(m_w->RawData, file);
        }
    }

    void linkAndSaveAs()
    {
        // Opening stops a running transmission first.
        sending("tick", 60000)->cmdSend_Click();
        QVERIFY(m_w->isSending());
        const QString path = writeFile(QStringLiteral("linked.txt"), "PING\r\n");
        open(path, true);
        QCOMPARE(m_ui->prompts.first().text, ProgramFolder::writableDir());
        QVERIFY(!m_w->isSending() && m_w->chkBinary->isEnabled());
        QVERIFY(m_w->IsLinked && m_w->txtSend->isReadOnly());
        QCOMPARE(m_w->txtSend->toolTip(), path);
        QTest::keyClicks(m_w->txtSend, QStringLiteral("typed"));
        QCOMPARE(m_w->txtSend->data(), QByteArray("PING\r\n"));
        // Opening again (the dialog starts at the last file) and answering No unlinks.
        open(path);
        QCOMPARE(m_ui->prompts.at(m_ui->prompts.size() - 2).text, path);
        QVERIFY(!m_w->IsLinked && !m_w->txtSend->isReadOnly());

        // Saved byte for byte, escapes as typed; a failed save is told and moves nothing.
        const QByteArray data("HELO a\r\nb\rc\n\0\xFF\xA0\\41", 19);
        m_w->txtSend->setData(data);
        const QString out = m_settings->path(QStringLiteral("out.bin"));
        m_ui->fileAnswers.enqueue(out);
        m_w->cmdSaveAs_Click();
        QCOMPARE(fileBytes(out), data);
        m_ui->fileAnswers.enqueue(m_settings->path(QStringLiteral("no/such/folder/out.txt")));
        m_w->cmdSaveAs_Click();
        QCOMPARE(m_ui->prompts.at(m_ui->prompts.size() - 2).text, out);
        QVERIFY(lastPrompt().startsWith(QStringLiteral(
            "An error occurred while attempting to save the file.  The operating system reports: ")));
        QCOMPARE(m_settings->store().Read(kSend, QStringLiteral("InitSaveDir")), out);
    }

    // A large file loads in slices, with events let run between them: Cancel
    // keeps the part read and asks nothing more; keys typed meanwhile stay out.
    void duringALoad_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << true;
        QTest::newRow("typed into") << false;
    }

    void duringALoad()
    {
        QFETCH(bool, cancel);
        const QByteArray big =
            QByteArray("The quick brown fox jumps over the lazy dog. 0123456789\r\n").repeated(20000);
        int acts = 0;
        QTimer actor;
        actor.setInterval(0);
        connect(&actor, &QTimer::timeout, this, [&] {
            if (!m_w->IsLoading || acts == (cancel ? 1 : 3))
                return;
            if (!cancel)
                QTest::keyClick(m_w->txtSend, Qt::Key_Z);
            else if (m_w->frmLoadWait->isVisible())
                QTest::mouseClick(m_w->frmLoadWait->findChild<QPushButton *>(QStringLiteral("cmdCancel")),
                                  Qt::LeftButton);
            else
                return;
            ++acts;
        });
        actor.start();
        open(writeFile(QStringLiteral("big.txt"), big));
        actor.stop();
        QCOMPARE(acts, cancel ? 1 : 3);
        QCOMPARE(m_w->txtSend->data(), cancel ? big.left(1000) : big);
        // The open dialog, then the notice alone or the link question.
        QCOMPARE(m_ui->prompts.size(), 2);
        QCOMPARE(told(), cancel ? QStringList{QStringLiteral("You have cancelled the operation. Only part of "
                                                             "the file will be displayed.")}
                                : QStringList());
        QVERIFY(cancel || lastPrompt().startsWith(kLinkQuestion));
        QVERIFY(!m_w->frmLoadWait->isVisible());
        // Still an ordinary box to edit.
        m_w->txtSend->setCaretPosition(0);
        QTest::keyClicks(m_w->txtSend, QStringLiteral(">"));
        QCOMPARE(m_w->txtSend->data().left(4), QByteArray(">The"));
    }

    void stateSavedAndReopened()
    {
        // A window never edited writes nothing.
        QVERIFY(closeAndWait(m_w));
        QVERIFY(m_settings->store().ReadAll(kSend).isEmpty());
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
        const int writes = m_settings->store().writeCount();
        QVERIFY(closeAndWait(w));
        QCOMPARE(m_refreshes, 1);
        QCOMPARE(m_settings->store().writeCount(), writes + 1); // the whole state in one write
        // The height is stored without the options panel.
        QCOMPARE(m_settings->store().Read(section(0), QStringLiteral("Height")),
                 QString::number(Twips::fromPixelsY(shown.height()) - 1500));

        frmSend *r = frmSend::ReopenState(0);
        QVERIFY(!r->IsNewWindow);
        QCOMPARE(r->windowTitle(), QStringLiteral("Send - HTTP probe"));
        QCOMPARE(r->txtSend->data(), data);
        QVERIFY(r->chkPause->isChecked() && !r->chkBinary->isChecked() && r->timingShown());
        QCOMPARE((QStringList{r->txtPause->text(), r->cboSecs->currentText()}), texts({"350", "30"}));
        QCOMPARE(r->pos(), shown.topLeft());
        QVERIFY(qAbs(r->width() - shown.width()) <= 1 && qAbs(r->height() - shown.height()) <= 2);
        // Restored values differ from a fresh window's, so the state is saved again, in place.
        QVERIFY(closeAndWait(r));
        QCOMPARE(m_settings->store().ReadAll(kSend).size(), 1);
        QCOMPARE(m_refreshes, 2);
    }

    // Too much data to keep (the limit is on bytes: a typed euro sign is
    // three). No keeps the window open under its number with the rest
    // written; Yes closes it there. A new window may have taken over an older
    // state's number, whose data it must not lend; a reopened one keeps its own.
    void refusedCloseKeepsItsNumber_data()
    {
        QTest::addColumn<int>("reopened"); // the state reopened, or -1 for a new window
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("dataOnNo");
        QTest::newRow("new window") << -1 << 3 << QString();
        QTest::newRow("reopened state") << 5 << 5 << QStringLiteral("data 5");
    }

    void refusedCloseKeepsItsNumber()
    {
        QFETCH(int, reopened);
        QFETCH(int, number);
        SettingsStore &s = m_settings->store();
        for (int i = 0; i < 10; ++i) {
            s.SaveMany({{kSend, QString::number(i), QStringLiteral("state %1").arg(i)},
                        {section(i), QStringLiteral("Modified"),
                         QStringLiteral("0%1 Jan 2020 10:00:00").arg(i == 3 ? 1 : 5)},
                        {section(i), QStringLiteral("Data"), QStringLiteral("data %1").arg(i)}});
        }
        QPointer<frmSend> a(reopened < 0 ? m_w : frmSend::ReopenState(reopened));
        a->txtTitle->setText(QStringLiteral("big"));
        a->txtSend->setData({});
        a->txtSend->insertText(QString(1667, QChar(0x20AC)));
        m_ui->yesNoAnswers.enqueue(false);
        a->close();
        QVERIFY(a);
        QCOMPARE(s.Read(kSend, QString::number(number)), QStringLiteral("big"));
        QTEST(s.Read(section(number), QStringLiteral("Data")), "dataOnNo");
        QCOMPARE(m_refreshes, 1);

        m_ui->yesNoAnswers.enqueue(true);
        QVERIFY(closeAndWait(a));
        QCOMPARE(s.Read(section(number), QStringLiteral("Data")), QString());
        // In its place, not under a second number.
        const auto all = s.ReadAll(kSend);
        QCOMPARE(all.size(), 10);
        QCOMPARE(std::count_if(all.cbegin(), all.cend(),
                               [](const auto &kv) { return kv.second == QLatin1String("big"); }),
                 1);
        QCOMPARE(m_ui->texts().filter(QStringLiteral("There is too much data in this window")).size(), 2);
    }

    void unsavableStateIsToldOnce()
    {
        UnwritableSettings blocked(*m_settings);
        QPointer<frmSend> w(m_w);
        w->txtTitle->setText(QStringLiteral("lost?"));
        w->close();
        QVERIFY(w);
        QCOMPARE(told(), QStringList{UnwritableSettings::told()});
        QCOMPARE(m_refreshes, 0);
        // The second close closes it without saving.
        QVERIFY(closeAndWait(w));
        QCOMPARE(told().size(), 1);
    }

    void linkedStates()
    {
        SettingsStore &s = m_settings->store();
        const QString path = writeFile(QStringLiteral("script.txt"), "HELO x\r\nQUIT\r\n");
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
        const QString gone = m_settings->path(QStringLiteral("gone.txt"));
        s.SaveMany({{section(0), QStringLiteral("Modified"), QStringLiteral("01 Jan 2024 10:00:00")},
                    {section(0), QStringLiteral("LinkedFile"), gone}});
        frmSend *g = frmSend::ReopenState(0);
        QCOMPARE(told().size(), 1);
        QVERIFY(told()[0].startsWith(kLoadFailure + QStringLiteral("2, ")));
        QVERIFY(!g->IsLinked && g->txtSend->isEmpty() && !g->txtSend->isReadOnly());
        QVERIFY(closeAndWait(g));
        QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), gone);
        QCOMPARE(s.Read(section(0), QStringLiteral("Modified")), QStringLiteral("01 Jan 2024 10:00:00"));
        QCOMPARE(m_refreshes, 0);
    }

    void sendStartAndStop()
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
        QTest::mouseClick(w->cmdSend, Qt::LeftButton);
        QCOMPARE(w->cmdSend->text(), QStringLiteral("&Start Sending"));
        QVERIFY(w->chkBinary->isEnabled() && w->cboSecs->isEnabled());
    }

    void linkedFileChangeIsPickedUp()
    {
        const QString path = writeFile(QStringLiteral("linked.txt"), "one\r\n");
        const QDateTime t1 = QDateTime::currentDateTime().addSecs(-100);
        setModified(path, t1);
        open(path, true);
        m_w->cmdSend_Click();
        QCOMPARE(m_sent.last(), QByteArray("one\r\n"));

        // New bytes under the old stamp: not read again.
        writeFile(QStringLiteral("linked.txt"), "two\r\n");
        setModified(path, t1);
        m_w->cmdSend_Click();
        QCOMPARE(m_sent.last(), QByteArray("one\r\n"));

        // A new stamp: re-read into the window first, then sent.
        setModified(path, t1.addSecs(50));
        m_w->cmdSend_Click();
        QCOMPARE(m_sent.last(), QByteArray("two\r\n"));
        QCOMPARE(m_w->txtSend->data(), QByteArray("two\r\n"));
        QVERIFY(told().isEmpty());

        // The file deleted while sending periodically: the next pass stops and tells.
        m_w->chkPeriodically->setChecked(true);
        m_w->txtOnceEvery->setText(QStringLiteral("60000"));
        m_w->cmdSend_Click();
        QCOMPARE(m_sent.size(), 4);
        QVERIFY(QFile::remove(path));
        Q_EMIT m_w->tmrPauseAfterData->TimerFired(QVariant());
        QVERIFY(!m_w->isSending() && m_w->cmdSend->isEnabled());
        QCOMPARE(m_sent.size(), 4);
        QCOMPARE(told().size(), 1);
        QVERIFY(told()[0].startsWith(
            QStringLiteral("An error occurred while attempting to read the date stamp of the linked file. "
                           "The operating system reports: 2, ")));
    }

    // What happens while a long text is converted: in a periodic pass after a
    // first pass of "A", or at the start. (Cancelling a single send and a
    // conversion left alone are the escape conversion's own test.)
    void interruptedConversion_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("pass, cancelled") << QStringLiteral("cancel");
        QTest::newRow("pass, stopped") << QStringLiteral("stop");
        // The close waits for the conversion to end; the data is too long to keep: Yes.
        QTest::newRow("start, closed") << QStringLiteral("close");
    }

    void interruptedConversion()
    {
        QFETCH(QString, action);
        const bool closing = action == QLatin1String("close");
        frmSend *w = sending("\\41", 60000);
        w->chkBinary->setChecked(true);
        if (!closing)
            w->cmdSend_Click();
        // Three megabytes once converted: long enough that converting lets events run.
        w->txtSend->setData(QByteArray("\\41").repeated(3 * 1024 * 1024));
        QPointer<frmSend> p(w);
        int acts = 0;
        QTimer actor;
        actor.setInterval(0);
        connect(&actor, &QTimer::timeout, this, [&] {
            if (!p || !p->isBusy() || acts++ > 0)
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
        m_ui->yesNoAnswers.enqueue(true);
        if (!closing)
            Q_EMIT w->tmrPauseAfterData->TimerFired(QVariant());
        else
            w->cmdSend_Click();
        QTRY_COMPARE(p.isNull(), closing);
        actor.stop();
        QVERIFY(acts > 0);
        QCOMPARE(m_sent, closing ? QByteArrayList() : QByteArrayList{"A"});
        QCOMPARE(told(), action == QLatin1String("cancel") ? QStringList{kCancelled} : QStringList());
        if (!closing) {
            QVERIFY(!w->isSending() && !w->isBusy() && w->cmdSend->isEnabled());
            // Never a part of a conversion: nothing prepared is better than a fragment.
            QVERIFY(w->RawData.isEmpty());
        }
    }
};

QTEST_MAIN(tst_SendWindow)
#include "tst_sendwindow.moc"
