#include "controller/frmtarnwell.h"
#include "controller/mainwizardhost.h"
#include "core/programfolder.h"
#include "logging/frmevent.h"
#include "logging/frmlogging.h"
#include "logging/frmstate.h"
#include "options/frmoptions.h"
#include "sending/frmsend.h"
#include "setup/frmalmanac.h"
#include "setup/frmconfigurations.h"
#include "ui/frmhelp.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include "display/datalistmodel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

namespace {
// True when every wanted line occurs in the list, in this order.
bool inOrder(const QStringList &lines, const QStringList &wanted)
{
    qsizetype at = 0;
    for (const QString &w : wanted) {
        at = lines.indexOf(w, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstRunUsesDefaults();
    void storedModeGivesItsEvents();
    void closingWritesEveryKey_data();
    void closingWritesEveryKey();
    void settingsThatCannotBeSavedAreTold();
    void damagedValuesAreSurvived_data();
    void damagedValuesAreSurvived();
    void missingAnimationEndsStartUp();
    void configurationsDisableTheMainWindow();
    void namedControlsExistPerMode();
    void helpShowsItsTopics();
};

void TestStartup::firstRunUsesDefaults()
{
    TempSettings t;
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    QCOMPARE(w.tabMode->currentIndex(), 0);
    QCOMPARE(w.intCurrentMode, 0);
    QCOMPARE(w.tabMode->tabText(2), QStringLiteral("Pass Through"));
    QCOMPARE(w.tabs[0].txtPortConnectTo->text(), QStringLiteral("80"));
    QCOMPARE(w.tabs[1].txtPort->text(), QStringLiteral("80"));
    QCOMPARE(w.tabs[2].txtPort->text(), QStringLiteral("80"));
    QCOMPARE(w.tabs[2].txtPortConnectTo->text(), QStringLiteral("80"));
    QVERIFY(!w.tabs[0].txtServer->text().isEmpty());
    QVERIFY(!w.tabs[2].txtServer->text().isEmpty());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(w.tabs[i].cboShow->currentIndex(), 0);
        QVERIFY(!w.tabs[i].chkReceivedFields->isChecked());
    }
    QCOMPARE(w.tabs[2].cboShow->itemText(1), QStringLiteral("Client to Server Only"));
    // The lists' columns: the client has one socket, so its Sock# is hidden.
    for (int i = 0; i < 3; ++i) {
        const QStringList want = QString::fromLatin1(i == 2 ? "#,Time,Dir,Sock#,Message" : "#,Time,I/O,Sock#,Message")
                                     .split(QLatin1Char(','));
        QStringList got;
        for (int c = 0; c < w.tabs[i].model->columnCount(); ++c)
            got << w.tabs[i].model->headerText(c);
        QCOMPARE(got, want);
        QCOMPARE(w.tabs[i].lvwReceived->isColumnHidden(3), i == 0);
        QVERIFY(w.tabs[i].lvwReceived->columnWidth(4) > w.tabs[i].lvwReceived->columnWidth(1));
    }
    QCOMPARE(w.tabs[0].cboShow->itemText(3), QStringLiteral("Nothing (Fast)!"));
    QVERIFY(!w.tabs[1].lblServer->text().isEmpty());
    QVERIFY(w.shouldShowConfigurations());
    QVERIFY(inOrder(w.eventHistory()->eventTexts(), {QStringLiteral("Tarnwell has been started in the Client mode.")}));
    QVERIFY(!w.eventHistory()->eventTexts().contains(QStringLiteral("Tarnwell has been placed in the Client mode.")));
    // The clock shows at once, and the polls of the Client mode run.
    QVERIFY(!w.statusPanel(6).isEmpty());
    QVERIFY(w.tmrPollClientState->isRunning());
    QVERIFY(!w.tmrPollServerState->isRunning());
    QVERIFY(ui.prompts.isEmpty());
}

void TestStartup::storedModeGivesItsEvents()
{
    TempSettings t;
    t.writeIni("[Mode]\nMode=1\n");
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    QCOMPARE(w.tabMode->currentIndex(), 1);
    QCOMPARE(w.intCurrentMode, 1);
    QVERIFY(inOrder(w.eventHistory()->eventTexts(), {QStringLiteral("Tarnwell has been placed in the Server mode."),
                                                     QStringLiteral("Tarnwell has been started in the Server mode.")}));
    QVERIFY(w.tmrPollServerState->isRunning());
    QVERIFY(!w.tmrPollClientState->isRunning());
}

void TestStartup::closingWritesEveryKey_data()
{
    QTest::addColumn<bool>("exitMenu");
    QTest::newRow("close box") << false;
    // The Exit menu runs the unload alone: no close request is announced.
    QTest::newRow("Exit menu") << true;
}

void TestStartup::closingWritesEveryKey()
{
    QFETCH(bool, exitMenu);
    TempSettings t;
    ScriptedUi ui;
    {
        frmTarnwell w;
        QVERIFY(w.Load());
        w.tabs[0].txtServer->setText(QStringLiteral("example.test"));
        w.tabs[2].txtPortConnectTo->setText(QStringLiteral("8080"));
        w.tabs[1].cboShow->setCurrentIndex(2);
        w.tabs[2].chkReceivedFields->setChecked(true);
        w.tabMode->setCurrentIndex(2);
        const int writes = t.store().writeCount();
        if (exitMenu)
            w.findChild<QAction *>(QStringLiteral("mnuExit"))->trigger();
        else
            w.close();
        // All keys of the exit go to disk in one write.
        QCOMPARE(t.store().writeCount(), writes + 1);
        const QStringList events = w.eventHistory()->eventTexts();
        QCOMPARE(events.contains(QStringLiteral("Tarnwell is terminating")), !exitMenu);
        QCOMPARE(events.count(QStringLiteral("Tarnwell terminated.")), 1);
    }
    t.reopen();
    SettingsStore &s = t.store();
    const QStringList endPoints = {QStringLiteral("ClientEP"), QStringLiteral("ClientPort"),
                                   QStringLiteral("ServerPort"), QStringLiteral("ServerPortPS"),
                                   QStringLiteral("PassThroughEP"), QStringLiteral("PassThroughPort")};
    for (const QString &k : endPoints)
        QVERIFY2(s.contains(QStringLiteral("EndPoints"), k), qPrintable(k));
    for (const QString &k : {QStringLiteral("Client"), QStringLiteral("Server"), QStringLiteral("PassThrough")})
        QVERIFY2(s.contains(QStringLiteral("Show"), k), qPrintable(k));
    for (const QString &k : {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")})
        QVERIFY(s.contains(QStringLiteral("ReceiveDetails"), k));
    QVERIFY(s.contains(QStringLiteral("StartUp"), QStringLiteral("Width")));
    QVERIFY(s.contains(QStringLiteral("StartUp"), QStringLiteral("Height")));
    QVERIFY(!s.contains(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations")));
    QCOMPARE(s.Read(QStringLiteral("Mode"), QStringLiteral("Mode")), QStringLiteral("2"));
    QCOMPARE(s.Read(QStringLiteral("EndPoints"), QStringLiteral("ClientEP")), QStringLiteral("example.test"));
    QCOMPARE(s.Read(QStringLiteral("EndPoints"), QStringLiteral("PassThroughPort")), QStringLiteral("8080"));
    QCOMPARE(s.Read(QStringLiteral("Show"), QStringLiteral("Server")), QStringLiteral("2"));
    QCOMPARE(s.Read(QStringLiteral("ReceiveDetails"), QStringLiteral("2")), QStringLiteral("1"));
    QVERIFY(s.Read(QStringLiteral("StartUp"), QStringLiteral("Width")).toInt() > 0);

    // The next run restores what was saved.
    frmTarnwell again;
    QVERIFY(again.Load());
    QCOMPARE(again.tabMode->currentIndex(), 2);
    QCOMPARE(again.tabs[0].txtServer->text(), QStringLiteral("example.test"));
    QCOMPARE(again.tabs[1].cboShow->currentIndex(), 2);
    QVERIFY(again.tabs[2].chkReceivedFields->isChecked());
}

void TestStartup::settingsThatCannotBeSavedAreTold()
{
    // A folder that is a regular file stops root as well as any user.
    TempSettings t;
    QFile blocker(t.dir() + QStringLiteral("/blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsStore store(blocker.fileName() + QStringLiteral("/tarnwell.ini"));
    SettingsStore::setInstance(&store);
    ScriptedUi ui;
    StartupOptions options;
    options.showSplash = false;
    options.allowConfigurations = false;
    auto w = StartUp(options);
    QVERIFY(w);
    const QString told = SettingsStore::kSaveFailure + QStringLiteral("20, Not a directory");
    QCOMPARE(ui.messages(), QStringList{told});
    QCOMPARE(ui.prompts.first().icon, UiService::Icon::Exclamation);
    // An edited send window cannot save either: the exit tells it once with its own.
    QPointer<frmSend> send = frmSend::OpenNewWindow();
    send->txtTitle->setText(QStringLiteral("edited"));
    w->close();
    QCOMPARE(ui.messages(), QStringList({told, told}));
    QVERIFY(!send || !send->isVisible()); // and it closed all the same
    w.reset();
    QCOMPARE(ui.messages().size(), 2);
    SettingsStore::setInstance(&t.store());
}

void TestStartup::damagedValuesAreSurvived_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("mode not a number") << QByteArray("[Mode]\nMode=server\n") << "Mode" << "server";
    QTest::newRow("mode out of range") << QByteArray("[Mode]\nMode=7\n") << "Mode" << "7";
    QTest::newRow("negative mode") << QByteArray("[Mode]\nMode=-1\n") << "Mode" << "-1";
    QTest::newRow("show position") << QByteArray("[Show]\nServer=4\n") << "Server" << "4";
    QTest::newRow("details") << QByteArray("[ReceiveDetails]\n1=2\n") << "1" << "2";
    QTest::newRow("width") << QByteArray("[StartUp]\nWidth=wide\n") << "Width" << "wide";
    QTest::newRow("empty height") << QByteArray("[Startup]\nHeight=\n") << "Height" << "";
}

void TestStartup::damagedValuesAreSurvived()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, key);
    QFETCH(QString, value);
    TempSettings t;
    t.writeIni(ini);
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    QCOMPARE(w.tabMode->currentIndex(), 0);
    QCOMPARE(w.tabs[1].cboShow->currentIndex(), 0);
    QVERIFY(!w.tabs[1].chkReceivedFields->isChecked());
    const QStringList events = w.eventHistory()->eventTexts();
    const auto hit = std::find_if(events.cbegin(), events.cend(), [&](const QString &e) {
        return e.contains(QLatin1Char('\'') + key + QLatin1Char('\'')) &&
               e.contains(QLatin1Char('\'') + value + QLatin1Char('\'')) && e.contains(QStringLiteral("default"));
    });
    QVERIFY2(hit != events.cend(), qPrintable(events.join(QLatin1Char('\n'))));
    QVERIFY(ui.prompts.isEmpty());
}

void TestStartup::missingAnimationEndsStartUp()
{
    TempSettings t;
    ScriptedUi ui;
    QTemporaryDir empty;
    const QByteArray saved = qgetenv("TARNWELL_DATA_DIR");
    qputenv("TARNWELL_DATA_DIR", empty.path().toLocal8Bit());
    StartupOptions options;
    options.showSplash = false;
    auto w = StartUp(options);
    qputenv("TARNWELL_DATA_DIR", saved);
    QVERIFY(!w);
    QCOMPARE(ui.messages().size(), 1);
    const QString text = ui.messages().first();
    QVERIFY(text.startsWith(QStringLiteral("An essential Tarnwell file '") + empty.path()));
    QVERIFY(text.endsWith(QStringLiteral("' cannot be found. Tarnwell cannot continue.")));
    QCOMPARE(ui.prompts.first().icon, UiService::Icon::Exclamation);
    QCOMPARE(ui.prompts.first().title, QStringLiteral("Tarnwell III"));
}

void TestStartup::configurationsDisableTheMainWindow()
{
    TempSettings t;
    ScriptedUi ui;
    StartupOptions options;
    options.showSplash = false;
    {
        auto w = StartUp(options);
        QVERIFY(w);
        QVERIFY(!w->isEnabled());
        QWidget *configs = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QLatin1String("frmConfigurations") && top->isVisible())
                configs = top;
        }
        QVERIFY(configs);
        auto *chk = configs->findChild<QCheckBox *>(QStringLiteral("chkShowAtStartup"));
        QVERIFY(chk && chk->isChecked());
        chk->setChecked(false);
        configs->close();
        QVERIFY(w->isEnabled());
        QCOMPARE(t.store().Read(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations")), QStringLiteral("0"));
        w->close();
    }
    auto again = StartUp(options);
    QVERIFY(again);
    QVERIFY(again->isEnabled());
}

void TestStartup::namedControlsExistPerMode()
{
    TempSettings t;
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    const QStringList everywhere = {QStringLiteral("lvwReceived"), QStringLiteral("txtReceived"),
                                    QStringLiteral("cboShow"), QStringLiteral("chkReceivedFields"),
                                    QStringLiteral("aniAnimation"), QStringLiteral("panAniHolder"),
                                    QStringLiteral("cmdReceivedClear"), QStringLiteral("panReceived"),
                                    QStringLiteral("panSent")};
    for (int i = 0; i < 3; ++i) {
        for (const QString &n : everywhere)
            QVERIFY2(w.findChild<QWidget *>(n + QLatin1Char('_') + QString::number(i)), qPrintable(n));
    }
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("cmdConnect_0")));
    QVERIFY(!w.findChild<QWidget *>(QStringLiteral("cmdConnect_1")));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("cmdListen_1")));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("cmdPort_3")));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("cmdStartBoth")));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("cmdFilter_1")));
    QVERIFY(!w.findChild<QWidget *>(QStringLiteral("cmdFilter_2")));
    QVERIFY(w.findChild<QAction *>(QStringLiteral("mnuHelpTarnwell")));
    // The view toggle swaps the list and the text view, and the filter follows the list.
    QVERIFY(!w.tabs[0].cmdFilter->isEnabled());
    w.tabs[0].chkReceivedFields->click();
    QVERIFY(w.tabs[0].cmdFilter->isEnabled());
}

void TestStartup::helpShowsItsTopics()
{
    TempSettings t;
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    w.mnuHelpTarnwell_Click();
    frmHelp *help = frmHelp::shared();
    QVERIFY(help && help->isVisible());
    QVERIFY(help->topicTitles().size() >= 5);
    // F1 in each window opens the window's own topic.
    frmOptions *options = frmOptions::open();
    frmConfigurations configs(std::make_unique<MainWizardHost>(&w));
    const struct
    {
        QWidget *window;
        int tab; // of the options window
        int topic;
    } windows[] = {{w.clientStateHistory(), -1, 11},
                   {w.eventHistory(), -1, 12},
                   {options, 0, 13},
                   {options, 1, 14},
                   {options, 2, 15},
                   {w.logging(), -1, 16},
                   {&configs, -1, 20},
                   {frmServer::shared(&w), -1, 21}};
    for (const auto &[window, tab, topic] : windows) {
        if (tab >= 0)
            options->tabOption->setCurrentIndex(tab);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_F1);
        QVERIFY(help->isVisible());
        QCOMPARE(help->currentTopic(), topic);
        help->hide();
    }
    options->hide();
    configs.hide();
    QVERIFY(!frmHelp::showHelpTopic(999));
    help->close();

    // Every link between pages leads to a topic that has a page.
    const QDir dir(ProgramFolder::dataFile(QStringLiteral("help")));
    const QRegularExpression link(QStringLiteral("href=[\"']topic:(\\d+)[\"']"));
    for (const QString &page : dir.entryList({QStringLiteral("*.html")})) {
        QFile f(dir.filePath(page));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const int topic = it.next().captured(1).toInt();
            QVERIFY2(frmHelp::showHelpTopic(topic), qPrintable(page + QLatin1Char(' ') + QString::number(topic)));
        }
    }
    help->close();

    // Without its pages the help reports the failure and the program goes on.
    QTemporaryDir empty;
    const QByteArray saved = qgetenv("TARNWELL_DATA_DIR");
    qputenv("TARNWELL_DATA_DIR", empty.path().toLocal8Bit());
    w.mnuHelpTarnwell_Click();
    qputenv("TARNWELL_DATA_DIR", saved);
    QCOMPARE(ui.messages().size(), 1);
    QVERIFY(ui.messages().first().startsWith(
        QStringLiteral("An error occurred while attempting to load the help file.  The operating system reports: 2, ")));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
