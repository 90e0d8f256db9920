#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendenv.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <memory>

namespace {
const QString kSend = QStringLiteral("Send");
QString section(int n)
{
    return QStringLiteral("Send\\") + QString::number(n);
}
QString englishStamp(const QDateTime &t)
{
    static const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return t.toString(QStringLiteral("dd ")) + QLatin1String(kMonths[t.date().month() - 1]) +
           t.toString(QStringLiteral(" yyyy hh:mm:ss"));
}
} // namespace

class tst_SendState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void saveAndReopenRoundTrip();
    void placeholderDescription();
    void dataLimit_data();
    void dataLimit();
    void refusedCloseKeepsItsNumber();
    void findFreeStateNumber_data();
    void findFreeStateNumber();
    void rubbishStateRestoresSoundly();
    void linkedStates();

private:
    std::unique_ptr<SendEnv> m_env;
    int m_refreshes = 0;
};

void tst_SendState::init()
{
    m_env = std::make_unique<SendEnv>();
    m_refreshes = 0;
    frmSend::setRefreshSendListHook([this] { ++m_refreshes; });
}

void tst_SendState::cleanup()
{
    frmSend::setRefreshSendListHook({});
    m_env.reset();
}

void tst_SendState::saveAndReopenRoundTrip()
{
    // A window never edited writes nothing.
    QVERIFY(SendEnv::closeAndWait(frmSend::OpenNewWindow()));
    QVERIFY(m_env->settings.store().ReadAll(kSend).isEmpty());
    QCOMPARE(m_refreshes, 0);

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
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(SendEnv::closeAndWait(w));
    QCOMPARE(m_refreshes, 1);

    // Through the file, as the next run of the program sees it.
    m_env->settings.reopen();
    SettingsStore &s = m_env->settings.store();
    QCOMPARE(s.Read(kSend, QStringLiteral("0")), QStringLiteral("HTTP probe"));
    const QString stamp = s.Read(section(0), QStringLiteral("Modified"));
    QVERIFY2(stamp == englishStamp(before) || stamp == englishStamp(before.addSecs(1)) ||
                 stamp == englishStamp(before.addSecs(2)),
             qPrintable(stamp));
    const QList<std::pair<const char *, QString>> stored{
        {"Binary", QStringLiteral("True")},
        {"Pause", QStringLiteral("True")},
        {"Periodically", QStringLiteral("True")},
        {"PauseFor", QStringLiteral("350")},
        {"OnceEvery", QStringLiteral("1200")},
        {"Duration", QStringLiteral("30")},
        {"Left", QString::number(Twips::fromPixelsX(shownPos.x()))},
        {"Top", QString::number(Twips::fromPixelsY(shownPos.y()))},
        {"Width", QString::number(Twips::fromPixelsX(shownSize.width()))},
        // The height is stored without the options panel.
        {"Height", QString::number(Twips::fromPixelsY(shownSize.height()) - 1500)},
        {"LinkedFile", QString()},
        {"Data", QString::fromLatin1(data)}};
    for (const auto &[key, value] : stored)
        QCOMPARE(s.Read(section(0), QLatin1String(key), QStringLiteral("?")), value);

    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(!r->IsNewWindow);
    QCOMPARE(r->windowTitle(), QStringLiteral("Send - HTTP probe"));
    QCOMPARE(r->txtSend->data(), data);
    QVERIFY(r->chkBinary->isChecked() && r->chkPause->isChecked() && r->chkPeriodically->isChecked());
    QCOMPARE(r->txtPause->text(), QStringLiteral("350"));
    QCOMPARE(r->txtOnceEvery->text(), QStringLiteral("1200"));
    QCOMPARE(r->cboSecs->currentText(), QStringLiteral("30"));
    QVERIFY(r->timingShown());
    QVERIFY(qAbs(r->width() - shownSize.width()) <= 1);
    QVERIFY(qAbs(r->height() - shownSize.height()) <= 2);
    QCOMPARE(r->pos(), shownPos);
    // Restored values differ from a fresh window's, so the state is saved again, in place.
    QVERIFY(r->IsModified);
    QVERIFY(SendEnv::closeAndWait(r));
    QCOMPARE(s.ReadAll(kSend).size(), 1);
    QCOMPARE(m_refreshes, 2);
}

void tst_SendState::placeholderDescription()
{
    // English month names whatever the user's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(frmSend::placeholderDescription(QDate(2026, 12, 5)), QStringLiteral("<No Desc 05 Dec 26>"));
    frmSend *w = frmSend::OpenNewWindow();
    w->txtTitle->setText(QStringLiteral("   "));
    w->txtSend->setData("x");
    QVERIFY(SendEnv::closeAndWait(w));
    QLocale::setDefault(QLocale::c());
    SettingsStore &s = m_env->settings.store();
    const QString stored = s.Read(kSend, QStringLiteral("0"));
    QCOMPARE(stored, frmSend::placeholderDescription(QDate::currentDate()));
    QCOMPARE(s.Read(section(0), QStringLiteral("Modified")).mid(3, 3),
             englishStamp(QDateTime::currentDateTime()).mid(3, 3));
    QCOMPARE(frmSend::ReopenState(0)->windowTitle(), QStringLiteral("Send - ") + stored);

    // "<No Description>" reopens as no description at all.
    s.Save(kSend, QStringLiteral("4"), QStringLiteral("<No Description>"));
    frmSend *r = frmSend::ReopenState(4);
    QCOMPARE(r->txtTitle->text(), QString());
    QCOMPARE(r->windowTitle(), QStringLiteral("Send"));
}

void tst_SendState::dataLimit_data()
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

void tst_SendState::dataLimit()
{
    QFETCH(QString, typed);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, closed);
    frmSend *w = frmSend::OpenNewWindow();
    QPointer<frmSend> p(w);
    w->txtSend->insertText(typed);
    const QByteArray data = w->txtSend->data();
    m_env->ui.yesNoAnswers.enqueue(answer);
    w->close();
    QTest::qWait(50);
    QCOMPARE(p.isNull(), closed);
    QCOMPARE(m_env->ui.prompts.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(m_env->ui.prompts[0].text,
                 QStringLiteral(
                     "There is too much data in this window to allow its state to be recorded in the "
                     "registry.  The data will not be recorded.  It may be wise to save the information "
                     "to a file before proceeding.\r\n\r\nDo you wish to continue closing this window?"));
    const QString stored =
        m_env->settings.store().Read(section(0), QStringLiteral("Data"), QStringLiteral("<none>"));
    QCOMPARE(stored, asked ? QString() : QString::fromLatin1(data));
    QCOMPARE(m_refreshes, closed ? 1 : 0);
}

void tst_SendState::refusedCloseKeepsItsNumber()
{
    // An oldest state that a new window takes over must not keep its data.
    SettingsStore &s = m_env->settings.store();
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
    m_env->ui.yesNoAnswers.enqueue(false);
    a->close();
    QTest::qWait(50);
    QVERIFY(pa);
    QCOMPARE(a->StateNumber, qint16(3));
    QCOMPARE(s.Read(kSend, QStringLiteral("3")), QStringLiteral("big"));
    QCOMPARE(s.Read(section(3), QStringLiteral("Data")), QString());

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

void tst_SendState::findFreeStateNumber_data()
{
    // Keys of section "Send" with the "Modified" stamp of each numeric one
    // ("-" for none, anything unreadable counts as now).
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("stamps");
    QTest::addColumn<int>("expected");
    QStringList ten, stamps;
    for (int i = 0; i < 10; ++i) {
        ten << QString::number(i);
        stamps << QStringLiteral("1%1 Mar 2024 08:00:00").arg(i);
    }
    QStringList oldest = stamps;
    oldest[6] = oldest[4] = QStringLiteral("28 Feb 2024 23:59:59"); // equal: the lower one
    QStringList missing = stamps;
    missing[0] = QStringLiteral("-");
    missing[1] = QStringLiteral("rubbish");
    QTest::newRow("empty section") << QStringList() << QStringList() << 0;
    QTest::newRow("0..9 taken: oldest") << ten << oldest << 4;
    QTest::newRow("no stamp counts as now") << ten << missing << 2;
    QTest::newRow("other keys count") << (QStringList(ten) << QStringLiteral("InitReadDir"))
                                      << (QStringList(stamps) << QString()) << 10;
    QTest::newRow("gap") << QStringList{QStringLiteral("0"), QStringLiteral("2")}
                         << QStringList{stamps[0], stamps[2]} << 1;
}

void tst_SendState::findFreeStateNumber()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, stamps);
    QFETCH(int, expected);
    SettingsStore &s = m_env->settings.store();
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
    SettingsStore &s = m_env->settings.store();
    s.Save(kSend, QStringLiteral("2"), QStringLiteral("rubbish"));
    s.Save(section(2), QStringLiteral("Binary"), QStringLiteral("yes please"));
    s.Save(section(2), QStringLiteral("Pause"), QStringLiteral("true"));
    s.Save(section(2), QStringLiteral("PauseFor"), QStringLiteral("99999999999999"));
    s.Save(section(2), QStringLiteral("OnceEvery"), QStringLiteral("abc"));
    s.Save(section(2), QStringLiteral("Duration"), QStringLiteral("soon"));
    s.Save(section(2), QStringLiteral("Width"), QStringLiteral("-5"));
    s.Save(section(2), QStringLiteral("Height"), QStringLiteral("9999999999999"));
    frmSend *r = frmSend::ReopenState(2);
    QVERIFY(!r->chkBinary->isChecked());
    QVERIFY(r->chkPause->isChecked());
    QCOMPARE(r->txtPause->text(), QStringLiteral("2147483647"));
    QCOMPARE(r->txtOnceEvery->text(), QStringLiteral("1"));
    QVERIFY(!r->durationSeconds().has_value());
    QVERIFY(r->width() >= r->minimumWidth());
    // Kept within the screen, plus the options panel that "Pause" opened.
    QVERIFY(r->height() <= r->screen()->geometry().height() + Twips::toPixelsY(1500) + 1);
    QVERIFY(m_env->ui.prompts.isEmpty());

    // A state number nobody saved opens as a fresh window would.
    frmSend *none = frmSend::ReopenState(77);
    QCOMPARE(none->txtPause->text(), QStringLiteral("200"));
    QCOMPARE(none->cboSecs->currentText(), QStringLiteral("ever"));
    QVERIFY(!none->IsModified);
}

void tst_SendState::linkedStates()
{
    SettingsStore &s = m_env->settings.store();
    const QString path = m_env->writeFile(QStringLiteral("script.txt"), "HELO x\r\nQUIT\r\n");
    s.Save(kSend, QStringLiteral("0"), QStringLiteral("mail"));
    s.Save(section(0), QStringLiteral("LinkedFile"), path);
    frmSend *r = frmSend::ReopenState(0);
    QVERIFY(r->IsLinked);
    QCOMPARE(r->txtSend->data(), QByteArray("HELO x\r\nQUIT\r\n"));
    QVERIFY(r->txtSend->isReadOnly());
    QVERIFY(SendEnv::closeAndWait(r));
    QCOMPARE(s.Read(section(0), QStringLiteral("LinkedFile")), path);
    QCOMPARE(s.Read(section(0), QStringLiteral("Data"), QStringLiteral("?")), QString());

    // A linked file gone meanwhile: told, opened empty and unlinked, and
    // closing it untouched leaves the saved link for another day.
    m_refreshes = 0;
    const QString gone = m_env->dir.filePath(QStringLiteral("gone.txt"));
    s.Save(kSend, QStringLiteral("1"), QStringLiteral("linked"));
    s.Save(section(1), QStringLiteral("Modified"), QStringLiteral("01 Jan 2024 10:00:00"));
    s.Save(section(1), QStringLiteral("LinkedFile"), gone);
    frmSend *g = frmSend::ReopenState(1);
    QCOMPARE(m_env->ui.messages().size(), 1);
    QVERIFY(m_env->ui.messages()[0].startsWith(QStringLiteral(
        "An error occurred while attempting to load the file.  The operating system reports: 2, ")));
    QVERIFY(!g->IsLinked);
    QVERIFY(g->txtSend->isEmpty());
    QVERIFY(!g->txtSend->isReadOnly());
    QVERIFY(SendEnv::closeAndWait(g));
    QCOMPARE(s.Read(section(1), QStringLiteral("LinkedFile")), gone);
    QCOMPARE(s.Read(section(1), QStringLiteral("Modified")), QStringLiteral("01 Jan 2024 10:00:00"));
    QCOMPARE(m_refreshes, 0);
}

QTEST_MAIN(tst_SendState)
#include "tst_sendstate.moc"
