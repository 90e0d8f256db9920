#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
const QString kSend = QStringLiteral("Send");
QString section(int n)
{
    return QStringLiteral("Send\\") + QString::number(n);
}
// Closes a window the way its close box does and waits until it is gone.
bool closeAndWait(frmSend *w)
{
    QPointer<frmSend> p(w);
    w->close();
    return QTest::qWaitFor([&] { return p.isNull(); }, 5000);
}
QString englishStamp(const QDateTime &t)
{
    static const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return QStringLiteral("%1 %2 %3 %4")
        .arg(t.date().day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(kMonths[t.date().month() - 1]))
        .arg(t.date().year())
        .arg(t.time().toString(QStringLiteral("hh:mm:ss")));
}
} // namespace

class tst_SendState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void neverEditedWindowWritesNothing();
    void saveAndReopenRoundTrip();
    void placeholderDescription();
    void noDescriptionReopensBlank();
    void dataLimit_data();
    void dataLimit();
    void refusedCloseKeepsItsNumber();
    void findFreeStateNumber_data();
    void findFreeStateNumber();
    void rubbishStateRestoresSoundly();
    void missingLinkedFileReopensEmptyAndUnchanged();
    void linkedStateReopensLinked();
    void positionBeyondScreenIsPulledBack();

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<ScriptedUi> m_ui;
    int m_refreshes = 0;
};

void tst_SendState::init()
{
    m_settings = std::make_unique<TempSettings>();
    m_ui = std::make_unique<ScriptedUi>();
    m_refreshes = 0;
    frmSend::setRefreshSendListHook([this] { ++m_refreshes; });
}

void tst_SendState::cleanup()
{
    frmSend::setRefreshSendListHook({});
    const auto open = frmSend::openWindows();
    for (frmSend *w : open) {
        w->IsModified = false;
        delete w;
    }
    m_ui.reset();
    m_settings.reset();
}

void tst_SendState::neverEditedWindowWritesNothing()
{
    frmSend *w = frmSend::OpenNewWindow();
    QVERIFY(!w->IsModified);
    QVERIFY(closeAndWait(w));
    QVERIFY(m_settings->store().ReadAll(kSend).isEmpty());
    QCOMPARE(m_refreshes, 0);
    QVERIFY(m_ui->prompts.isEmpty());
}

void tst_SendState::saveAndReopenRoundTrip()
{
    const QByteArray data("GET / HTTP/1.0\r\n\0\xFF\xA0 \\41\r\n", 25);
    frmSend *w = frmSend::OpenNewWindow();
    w->txtTitle->setText(QStringLiteral("HTTP probe"));
    w->txtSend->setData(data);
    w->cmdTiming_Click();
    w->chkBinary->setChecked(true);
    w->chkPause->setChecked(true);
    w->txtPause->setText(QStringLiteral("350"));
    w->chkPeriodically->setChecked(true);
    w->txtOnceEvery->setText(QStringLiteral("1200"));
    w->cboSecs->setEditText(QStringLiteral("30"));
    w->move(Twips::toPixelsX(1500), Twips::toPixelsY(900));
    w->resize(Twips::toPixelsX(7000), w->height());
    const QSize shownSize = w->size();
    const QPoint shownPos = w->pos();
    QVERIFY(w->IsModified);
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(closeAndWait(w));
    QCOMPARE(m_refreshes, 1);

    // Through the file, as the next run of the program sees it.
    m_settings->reopen();
    SettingsStore &s = m_settings->store();
    QCOMPARE(s.Read(kSend, QStringLiteral("0")), QStringLiteral("HTTP probe"));
    const QString stamp = s.Read(section(0), QStringLiteral("Modified"));
    QVERIFY2(stamp == englishStamp(before) || stamp == englishStamp(before.addSecs(1)) ||
                 stamp == englishStamp(before.addSecs(2)),
             qPrintable(stamp));
    QCOMPARE(s.Read(section(0), QStringLiteral("Binary")), QStringLiteral("True"));
    QCOMPARE(s.Read(section(0), QStringLiteral("Pause")), QStringLiteral("True"));
    QCOMPARE(s.Read(section(0), QStringLiteral("Periodically")), QStringLiteral("True"));
    QCOMPARE(s.Read(section(0), QStringLiteral("PauseFor")), QStringLiteral("350"));
    QCOMPARE(s.Read(section(0), QStringLiteral("OnceEvery")), QStringLiteral("1200"));
    QCOMPARE(s.Read(section(0), QStringLiteral("Duration")), QStringLiteral("30"));
    QCOMPARE(s.Read(section(0), QStringLiteral("Left")), QString::number(Twips::fromPixelsX(shownPos.x())));
    QCOMPARE(s.Read(section(0), QStringLiteral("Top")), QString::number(Twips::fromPixelsY(shownPos.y())));
    QCOMPARE(s.Read(section(0), QStringLiteral("Width")),
             QString::number(Twips::fromPixelsX(shownSize.width())));
    // The height is stored without the options panel.
    QCOMPARE(s.Read(section(0), QStringLiteral("Height")),
             QString::number(Twips::fromPixelsY(shownSize.height()) - 1500));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile"), QStringLiteral("?")), QString());
    QCOMPARE(s.Read(section(0), QStringLiteral("Data")), QString::fromLatin1(data));

    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(!r->IsNewWindow);
    QCOMPARE(r->StateNumber, qint16(0));
    QCOMPARE(r->txtTitle->text(), QStringLiteral("HTTP probe"));
    QCOMPARE(r->windowTitle(), QStringLiteral("Send - HTTP probe"));
    QCOMPARE(r->txtSend->data(), data);
    QVERIFY(r->chkBinary->isChecked());
    QVERIFY(r->chkPause->isChecked());
    QVERIFY(r->chkPeriodically->isChecked());
    QCOMPARE(r->txtPause->text(), QStringLiteral("350"));
    QCOMPARE(r->txtOnceEvery->text(), QStringLiteral("1200"));
    QCOMPARE(r->cboSecs->currentText(), QStringLiteral("30"));
    QVERIFY(r->timingShown());
    QCOMPARE(r->cmdSend->text(), QStringLiteral("&Start Sending"));
    QVERIFY(qAbs(r->width() - shownSize.width()) <= 1);
    QVERIFY(qAbs(r->height() - shownSize.height()) <= 2);
    QCOMPARE(r->pos(), shownPos);
    QVERIFY(!r->IsLinked);
    // Restored values differ from a fresh window's, so the state is saved again.
    QVERIFY(r->IsModified);
    QVERIFY(closeAndWait(r));
    QCOMPARE(m_settings->store().ReadAll(kSend).size(), 1);
    QCOMPARE(m_refreshes, 2);
}

void tst_SendState::placeholderDescription()
{
    // English month names whatever the user's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(frmSend::placeholderDescription(QDate(2026, 12, 5)), QStringLiteral("<No Desc 05 Dec 26>"));
    QCOMPARE(frmSend::placeholderDescription(QDate(2031, 3, 28)), QStringLiteral("<No Desc 28 Mar 31>"));
    frmSend *w = frmSend::OpenNewWindow();
    w->txtTitle->setText(QStringLiteral("   "));
    w->txtSend->setData("x");
    QVERIFY(closeAndWait(w));
    QLocale::setDefault(QLocale::c());
    const QString stored = m_settings->store().Read(kSend, QStringLiteral("0"));
    const QString today = englishStamp(QDateTime::currentDateTime()).left(11);
    QCOMPARE(stored, QStringLiteral("<No Desc ") + today.left(7) + today.right(2) + QLatin1Char('>'));
    QVERIFY(
        !m_settings->store().Read(section(0), QStringLiteral("Modified")).contains(QStringLiteral("Dez")));

    frmSend *r = frmSend::ReopenState(0);
    QCOMPARE(r->txtTitle->text(), stored);
    QCOMPARE(r->windowTitle(), QStringLiteral("Send - ") + stored);
}

void tst_SendState::noDescriptionReopensBlank()
{
    m_settings->store().Save(kSend, QStringLiteral("4"), QStringLiteral("<No Description>"));
    m_settings->store().Save(section(4), QStringLiteral("Data"), QStringLiteral("abc"));
    frmSend *r = frmSend::ReopenState(4);
    QCOMPARE(r->txtTitle->text(), QString());
    QCOMPARE(r->windowTitle(), QStringLiteral("Send"));
    QCOMPARE(r->txtSend->data(), QByteArray("abc"));
}

void tst_SendState::dataLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("dataStored");
    QTest::newRow("5000 stored") << 5000 << false << false << true << true;
    QTest::newRow("5001 yes") << 5001 << true << true << true << false;
    QTest::newRow("5001 no") << 5001 << false << true << false << false;
}

void tst_SendState::dataLimit()
{
    QFETCH(int, length);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, closed);
    QFETCH(bool, dataStored);
    frmSend *w = frmSend::OpenNewWindow();
    QPointer<frmSend> p(w);
    const QByteArray data(length, 'd');
    w->txtSend->setData(data);
    m_ui->yesNoAnswers.enqueue(answer);
    w->close();
    QTest::qWait(50);
    QCOMPARE(p.isNull(), closed);
    QCOMPARE(m_ui->prompts.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(m_ui->prompts[0].kind, QStringLiteral("question"));
        QCOMPARE(m_ui->prompts[0].icon, UiService::Icon::Question);
        QCOMPARE(m_ui->prompts[0].text,
                 QStringLiteral(
                     "There is too much data in this window to allow its state to be recorded in the "
                     "registry.  The data will not be recorded.  It may be wise to save the information "
                     "to a file before proceeding.\r\n\r\nDo you wish to continue closing this window?"));
    }
    const QString stored =
        m_settings->store().Read(section(0), QStringLiteral("Data"), QStringLiteral("<none>"));
    QCOMPARE(stored, dataStored ? QString::fromLatin1(data) : QString());
    QCOMPARE(m_refreshes, closed ? 1 : 0);
}

void tst_SendState::refusedCloseKeepsItsNumber()
{
    // An oldest state that a new window takes over must not keep its data.
    SettingsStore &s = m_settings->store();
    for (int i = 0; i < 10; ++i) {
        s.Save(kSend, QString::number(i), QStringLiteral("state %1").arg(i));
        s.Save(section(i), QStringLiteral("Modified"),
               QStringLiteral("0%1 Jan 2020 10:00:00").arg(i == 3 ? 1 : 5));
        s.Save(section(i), QStringLiteral("Data"), QStringLiteral("old %1").arg(i));
    }
    frmSend *a = frmSend::OpenNewWindow();
    QPointer<frmSend> pa(a);
    a->txtTitle->setText(QStringLiteral("big"));
    a->txtSend->setData(QByteArray(6000, 'b'));
    m_ui->yesNoAnswers.enqueue(false);
    a->close();
    QTest::qWait(50);
    QVERIFY(pa);
    QCOMPARE(a->StateNumber, qint16(3));
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.Read(section(3), QStringLiteral("Data")), QString());

    // Another window saves meanwhile; it takes the next oldest state.
    frmSend *b = frmSend::OpenNewWindow();
    b->txtTitle->setText(QStringLiteral("small"));
    QVERIFY(closeAndWait(b));
    QCOMPARE(s.Read(kSend, QStringLiteral("0")), QStringLiteral("small"));

    m_ui->yesNoAnswers.enqueue(true);
    QVERIFY(closeAndWait(a));
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.ReadAll(kSend).size(), 10);
}

void tst_SendState::findFreeStateNumber_data()
{
    // Keys of section "Send" with the "Modified" stamp of each numeric one
    // ("-" for none, anything unreadable counts as now).
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("stamps");
    QTest::addColumn<int>("expected");
    const QStringList ten = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                             QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                             QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8"),
                             QStringLiteral("9")};
    QStringList stamps;
    for (int i = 0; i < 10; ++i)
        stamps << QStringLiteral("1%1 Mar 2024 08:00:00").arg(i);
    QStringList oldestFour = stamps;
    oldestFour[4] = QStringLiteral("28 Feb 2024 23:59:59");
    QStringList tie = stamps;
    tie[6] = QStringLiteral("01 Jan 2021 00:00:00");
    tie[2] = QStringLiteral("01 Jan 2021 00:00:00");
    QStringList missing = stamps;
    missing[0] = QStringLiteral("-");
    missing[1] = QStringLiteral("rubbish");
    QTest::newRow("empty section") << QStringList() << QStringList() << 0;
    QTest::newRow("0..9 taken: oldest") << ten << oldestFour << 4;
    QTest::newRow("equal stamps: lower") << ten << tie << 2;
    QTest::newRow("no stamp counts as now") << ten << missing << 2;
    QTest::newRow("0..9 and InitReadDir")
        << (QStringList(ten) << QStringLiteral("InitReadDir")) << (QStringList(stamps) << QString()) << 10;
    QTest::newRow("three in a row") << QStringList{QStringLiteral("0"), QStringLiteral("1"),
                                                   QStringLiteral("2")}
                                    << QStringList{stamps.mid(0, 3)} << 3;
    QTest::newRow("gap") << QStringList{QStringLiteral("0"), QStringLiteral("2")}
                         << QStringList{stamps[0], stamps[2]} << 1;
    QTest::newRow("high numbers only")
        << QStringList{QStringLiteral("5"), QStringLiteral("7")} << QStringList{stamps[5], stamps[7]} << 0;
    QTest::newRow("other keys count")
        << QStringList{QStringLiteral("InitReadDir"), QStringLiteral("InitSaveDir"), QStringLiteral("0")}
        << QStringList{QString(), QString(), stamps[0]} << 1;
}

void tst_SendState::findFreeStateNumber()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, stamps);
    QFETCH(int, expected);
    SettingsStore &s = m_settings->store();
    for (qsizetype i = 0; i < keys.size(); ++i) {
        s.Save(kSend, keys[i], QStringLiteral("desc"));
        bool numeric = false;
        const int n = keys[i].toInt(&numeric);
        if (numeric && stamps[i] != QLatin1String("-"))
            s.Save(section(n), QStringLiteral("Modified"), stamps[i]);
    }
    QCOMPARE(frmSend::FindFreeStateNumber(), expected);
}

void tst_SendState::rubbishStateRestoresSoundly()
{
    SettingsStore &s = m_settings->store();
    s.Save(kSend, QStringLiteral("2"), QStringLiteral("rubbish"));
    s.Save(section(2), QStringLiteral("Binary"), QStringLiteral("yes please"));
    s.Save(section(2), QStringLiteral("Pause"), QStringLiteral("true"));
    s.Save(section(2), QStringLiteral("PauseFor"), QStringLiteral("99999999999999"));
    s.Save(section(2), QStringLiteral("OnceEvery"), QStringLiteral("abc"));
    s.Save(section(2), QStringLiteral("Duration"), QStringLiteral("soon"));
    s.Save(section(2), QStringLiteral("Left"), QStringLiteral("left"));
    s.Save(section(2), QStringLiteral("Width"), QStringLiteral("-5"));
    s.Save(section(2), QStringLiteral("Height"), QStringLiteral("9999999999999"));
    frmSend *r = frmSend::ReopenState(2);
    QVERIFY(!r->chkBinary->isChecked());
    QVERIFY(r->chkPause->isChecked());
    QVERIFY(!r->chkPeriodically->isChecked());
    QCOMPARE(r->txtPause->text(), QStringLiteral("2147483647"));
    QCOMPARE(r->txtOnceEvery->text(), QStringLiteral("1"));
    QCOMPARE(r->cboSecs->currentText(), QStringLiteral("soon"));
    QVERIFY(!r->durationSeconds().has_value());
    QVERIFY(r->width() >= r->minimumWidth());
    // Kept within the screen, plus the options panel that "Pause" opened.
    QVERIFY(r->timingShown());
    QVERIFY(r->height() <= r->screen()->geometry().height() + Twips::toPixelsY(1500) + 1);
    QVERIFY(r->txtSend->isEmpty());
    QVERIFY(m_ui->prompts.isEmpty());

    // A state number nobody saved opens as a fresh window would.
    frmSend *none = frmSend::ReopenState(77);
    QCOMPARE(none->txtTitle->text(), QString());
    QCOMPARE(none->txtPause->text(), QStringLiteral("200"));
    QCOMPARE(none->cboSecs->currentText(), QStringLiteral("ever"));
    QVERIFY(!none->IsModified);
}

void tst_SendState::missingLinkedFileReopensEmptyAndUnchanged()
{
    QTemporaryDir dir;
    const QString gone = dir.filePath(QStringLiteral("gone.txt"));
    SettingsStore &s = m_settings->store();
    s.Save(kSend, QStringLiteral("1"), QStringLiteral("linked"));
    s.Save(section(1), QStringLiteral("Modified"), QStringLiteral("01 Jan 2024 10:00:00"));
    s.Save(section(1), QStringLiteral("LinkedFile"), gone);
    s.Save(section(1), QStringLiteral("Data"), QString());
    frmSend *r = frmSend::ReopenState(1);
    QCOMPARE(m_ui->messages().size(), 1);
    QVERIFY(m_ui->messages()[0].startsWith(QStringLiteral(
        "An error occurred while attempting to load the file.  The operating system reports: 2, ")));
    QCOMPARE(m_ui->prompts[0].icon, UiService::Icon::Exclamation);
    QVERIFY(!r->IsLinked);
    QVERIFY(r->LinkedFileName.isEmpty());
    QVERIFY(r->txtSend->isEmpty());
    QVERIFY(!r->txtSend->isReadOnly());
    QVERIFY(r->txtSend->toolTip().isEmpty());
    // Closing it untouched leaves the saved link for another day.
    QVERIFY(closeAndWait(r));
    QCOMPARE(s.Read(section(1), QStringLiteral("LinkedFile")), gone);
    QCOMPARE(s.Read(section(1), QStringLiteral("Modified")), QStringLiteral("01 Jan 2024 10:00:00"));
    QCOMPARE(m_refreshes, 0);
}

void tst_SendState::linkedStateReopensLinked()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("script.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("HELO x\r\nQUIT\r\n");
    f.close();
    SettingsStore &s = m_settings->store();
    s.Save(kSend, QStringLiteral("0"), QStringLiteral("mail"));
    s.Save(section(0), QStringLiteral("LinkedFile"), path);
    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(r->IsLinked);
    QCOMPARE(r->LinkedFileName, path);
    QCOMPARE(r->txtSend->data(), QByteArray("HELO x\r\nQUIT\r\n"));
    QVERIFY(r->txtSend->isReadOnly());
    QCOMPARE(r->txtSend->toolTip(), path);
    QVERIFY(closeAndWait(r));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), path);
    QCOMPARE(s.Read(section(0), QStringLiteral("Data"), QStringLiteral("?")), QString());
}

void tst_SendState::positionBeyondScreenIsPulledBack()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int screenW = Twips::fromPixelsX(screen.width());
    const int screenH = Twips::fromPixelsY(screen.height());
    SettingsStore &s = m_settings->store();
    s.Save(kSend, QStringLiteral("0"), QStringLiteral("far"));
    s.Save(section(0), QStringLiteral("Left"), QString::number(screenW + 5000));
    s.Save(section(0), QStringLiteral("Top"), QString::number(screenH + 1));
    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(qAbs(Twips::fromPixelsX(r->x()) - int(0.95 * screenW)) <= 20);
    QVERIFY(qAbs(Twips::fromPixelsY(r->y()) - int(0.95 * screenH)) <= 20);
}

QTEST_MAIN(tst_SendState)
#include "tst_sendstate.moc"
