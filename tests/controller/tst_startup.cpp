#include "controller/frmtarnwell.h"
#include "controller/mainwizardhost.h"
#include "core/programfolder.h"
#include "display/datalistmodel.h"
#include "logging/frmevent.h"
#include "logging/frmlogging.h"
#include "logging/frmstate.h"
#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "setup/frmalmanac.h"
#include "setup/frmconfigurations.h"
#include "support/testenv.h"
#include "ui/frmhelp.h"
#include "ui/scriptedui.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadsFromTheStore_data();
    void loadsFromTheStore();
    void closingWritesEveryKey_data();
    void closingWritesEveryKey();
    void settingsThatCannotBeSavedAreTold();
    void missingFilesAreTold();
    void configurationsDisableTheMainWindow();
    void helpShowsItsTopics();
    void newWindowSaveAndReopen();
    void exitStopsAndSavesSendWindows_data();
    void exitStopsAndSavesSendWindows();
};

void TestStartup::loadsFromTheStore_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("events"); // the mode events, in order
    QTest::addColumn<QString>("damaged");    // a key whose value falls back to its default, "key value"
    const QStringList client{QStringLiteral("Tarnwell has been started in the Client mode.")};
    QTest::newRow("first run") << QByteArray() << 0 << client << QString();
    for (const auto &[n, name] : {std::pair{1, "Server"}, std::pair{2, "Pass Through"}}) {
        const QString mode = QLatin1String(name);
        QTest::addRow("stored %s mode", name)
            << "[Mode]\nMode=" + QByteArray::number(n) + '\n'
            << n
            << QStringList{QStringLiteral("Tarnwell has been placed in the %1 mode.").arg(mode),
                           QStringLiteral("Tarnwell has been started in the %1 mode.").arg(mode)}
            << QString();
    }
    const struct
    {
        const char *name, *ini, *damaged;
    } damaged[] = {{"mode not a number", "[Mode]\nMode=server\n", "Mode server"},
                   {"mode out of range", "[Mode]\nMode=7\n", "Mode 7"},
                   {"negative mode", "[Mode]\nMode=-1\n", "Mode -1"},
                   {"show position", "[Show]\nServer=4\n", "Server 4"},
                   {"details", "[ReceiveDetails]\n1=2\n", "1 2"},
                   {"width", "[StartUp]\nWidth=wide\n", "Width wide"},
                   {"empty height", "[Startup]\nHeight=\n", "Height "}};
    for (const auto &d : damaged)
        QTest::newRow(d.name) << QByteArray(d.ini) << 0 << client << QString::fromLatin1(d.damaged);
}

void TestStartup::loadsFromTheStore()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, mode);
    QFETCH(QStringList, events);
    QFETCH(QString, damaged);
    TempSettings t;
    if (!ini.isEmpty())
        t.writeIni(ini);
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    QCOMPARE(w.tabMode->currentIndex(), mode);
    QCOMPARE(w.intCurrentMode, mode);
    const QStringList told = w.eventHistory()->eventTexts();
    QCOMPARE(told.filter(QStringLiteral("Tarnwell has been")), events);
    if (!damaged.isEmpty()) {
        // The event names the key and the value it could not use.
        const QStringList kv = damaged.split(QLatin1Char(' '));
        QVERIFY2(!told.filter(QLatin1Char('\'') + kv[0] + QLatin1Char('\''))
                      .filter(QLatin1Char('\'') + kv[1] + QLatin1Char('\''))
                      .filter(QStringLiteral("default"))
                      .isEmpty(),
                 qPrintable(told.join(QLatin1Char('\n'))));
    }
    QCOMPARE(w.tmrPollClientState->isRunning(), mode != 1);
    QCOMPARE(w.tmrPollServerState->isRunning(), mode != 0);
    QVERIFY(!w.statusPanel(6).isEmpty()); // the clock shows at once
    // Defaults of the keys the store does not hold.
    const QStringList endPoints{w.tabs[0].txtServer->text(), w.tabs[0].txtPortConnectTo->text(),
                                w.tabs[1].txtPort->text(),   w.tabs[2].txtPort->text(),
                                w.tabs[2].txtServer->text(), w.tabs[2].txtPortConnectTo->text()};
    QCOMPARE(endPoints.join(QLatin1Char(' ')), QStringLiteral("localhost 80 80 80 localhost 80"));
    QVERIFY(w.shouldShowConfigurations());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(w.tabs[i].cboShow->currentIndex(), 0);
        QVERIFY(!w.tabs[i].chkReceivedFields->isChecked());
        // The lists' columns: the client has one socket, so its Sock# is hidden.
        QStringList columns;
        for (int c = 0; c < w.tabs[i].model->columnCount(); ++c)
            columns << w.tabs[i].model->headerText(c);
        QCOMPARE(columns.join(QLatin1Char(',')),
                 QLatin1String(i == 2 ? "#,Time,Dir,Sock#,Message" : "#,Time,I/O,Sock#,Message"));
        QCOMPARE(w.tabs[i].lvwReceived->isColumnHidden(3), i == 0);
        QVERIFY(w.tabs[i].lvwReceived->columnWidth(4) > w.tabs[i].lvwReceived->columnWidth(1));
    }
    QVERIFY(ui.prompts.isEmpty());
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
    // Every key of the table, with what the window held; only the start-up switch is not the main window's.
    const QStringList keys =
        QStringLiteral(
            "Mode/Mode=2 EndPoints/ClientEP=example.test EndPoints/ClientPort=80 EndPoints/ServerPort=80 "
            "EndPoints/ServerPortPS=80 EndPoints/PassThroughEP=localhost EndPoints/PassThroughPort=8080 "
            "Show/Client=0 Show/Server=2 Show/PassThrough=0 ReceiveDetails/0=0 ReceiveDetails/1=0 "
            "ReceiveDetails/2=1")
            .split(QLatin1Char(' '));
    for (const QString &k : keys) {
        const qsizetype slash = k.indexOf(QLatin1Char('/')), eq = k.indexOf(QLatin1Char('='));
        QCOMPARE(t.store().Read(k.left(slash), k.mid(slash + 1, eq - slash - 1), QStringLiteral("missing")),
                 k.mid(eq + 1));
    }
    QVERIFY(t.store().Read(QStringLiteral("StartUp"), QStringLiteral("Width")).toInt() > 0);
    QVERIFY(t.store().Read(QStringLiteral("StartUp"), QStringLiteral("Height")).toInt() > 0);
    QVERIFY(!t.store().contains(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations")));

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
    TempSettings t;
    UnwritableSettings blocked(t);
    ScriptedUi ui;
    StartupOptions options;
    options.showSplash = false;
    options.allowConfigurations = false;
    auto w = StartUp(options);
    QVERIFY(w);
    const QString told = UnwritableSettings::told();
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
}

// Without the files beside the program: no help, told, and the program goes
// on; no animation, told, and start-up ends.
void TestStartup::missingFilesAreTold()
{
    TempSettings t;
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    QTemporaryDir empty;
    const QByteArray saved = qgetenv("TARNWELL_DATA_DIR");
    qputenv("TARNWELL_DATA_DIR", empty.path().toLocal8Bit());
    w.mnuHelpTarnwell_Click();
    StartupOptions options;
    options.showSplash = false;
    const bool started = StartUp(options) != nullptr;
    qputenv("TARNWELL_DATA_DIR", saved);
    QVERIFY(!started);
    QCOMPARE(ui.messages().size(), 2);
    QVERIFY(ui.messages()[0].startsWith(QStringLiteral(
        "An error occurred while attempting to load the help file.  The operating system reports: 2, ")));
    QVERIFY(ui.messages()[1].startsWith(QStringLiteral("An essential Tarnwell file '") + empty.path()));
    QVERIFY(ui.messages()[1].endsWith(QStringLiteral("' cannot be found. Tarnwell cannot continue.")));
    QCOMPARE(ui.prompts[1].icon, UiService::Icon::Exclamation);
    QCOMPARE(ui.prompts[1].title, QStringLiteral("Tarnwell III"));
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

void TestStartup::helpShowsItsTopics()
{
    TempSettings t;
    ScriptedUi ui;
    frmTarnwell w;
    QVERIFY(w.Load());
    w.mnuHelpTarnwell_Click();
    frmHelp *help = frmHelp::shared();
    QVERIFY(help && help->isVisible());
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
    // Every link between pages leads to a topic that has a page.
    QStringList topics;
    const QDir dir(ProgramFolder::dataFile(QStringLiteral("help")));
    const QRegularExpression link(QStringLiteral("href=[\"']topic:(\\d+)[\"']"));
    for (const QString &page : dir.entryList({QStringLiteral("*.html")})) {
        QFile f(dir.filePath(page));
        QVERIFY(f.open(QIODevice::ReadOnly));
        for (auto it = link.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();)
            topics << it.next().captured(1);
    }
    for (const QString &topic : topics) {
        QVERIFY2(frmHelp::showHelpTopic(topic.toInt()), qPrintable(topic));
        QCOMPARE(help->currentTopic(), topic.toInt());
    }
    QVERIFY(!frmHelp::showHelpTopic(999));
    help->close();
    QVERIFY(ui.prompts.isEmpty());
}

// Send... opens a new send window, an entry of a send list reopens that
// saved state, and every save refreshes both lists.
void TestStartup::newWindowSaveAndReopen()
{
    TempSettings settings;
    ScriptedUi ui;
    frmTarnwell main;
    QVERIFY(main.Load());
    QTest::mouseClick(main.tabs[1].cmdSend, Qt::LeftButton);
    QCOMPARE(frmSend::openWindows().size(), 1);
    QPointer<frmSend> w = frmSend::openWindows().first();
    QVERIFY(w->IsNewWindow && w->isVisible());
    QVERIFY(w->cmdPreferences->isEnabled()); // the main window gives it the options window
    w->txtTitle->setText(QStringLiteral("saved from the server tab"));
    w->txtSend->setData("hello\r\n");
    w->close();
    QTRY_VERIFY(w.isNull());
    for (int tab = 0; tab < 2; ++tab)
        QCOMPARE(main.tabs[tab].cboSend->itemText(0) + QString::number(main.tabs[tab].cboSend->count()),
                 QStringLiteral("saved from the server tab1"));
    Q_EMIT main.tabs[0].cboSend->activated(0);
    QCOMPARE(frmSend::openWindows().size(), 1);
    frmSend *r = frmSend::openWindows().first();
    QVERIFY(!r->IsNewWindow);
    QCOMPARE(r->txtSend->data(), QByteArray("hello\r\n"));
    delete r;
    main.Unload();
}

// At exit every send window stops its work and saves its state first.
void TestStartup::exitStopsAndSavesSendWindows_data()
{
    // What the window of saved state 0 (its "Data" was "old") is doing when
    // the program exits, and keys of its state afterwards ("%file": the
    // file it opens or restores).
    QTest::addColumn<QString>("work");
    QTest::addColumn<bool>("exitMenu");
    QTest::addColumn<QString>("stored");
    QTest::newRow("transmission, close box") << "transmission" << false << "Data=tick Periodically=True";
    QTest::newRow("file load, Exit menu") << "load" << true << "Data=old LinkedFile=";
    // The link being restored is kept.
    QTest::newRow("restoring a link, close box") << "restore" << false << "Data= LinkedFile=%file";
    // The data is too long to keep: the question is asked, No keeps the stored data, the exit goes on.
    QTest::newRow("conversion, close box") << "conversion" << false << "Data=old Binary=True";
}

void TestStartup::exitStopsAndSavesSendWindows()
{
    QFETCH(QString, work);
    QFETCH(bool, exitMenu);
    QFETCH(QString, stored);
    TempSettings settings;
    settings.writeIni("[StartUp]\nShowConfigurations=0\n[Send]\n0=before\n[Send\\0]\nData=old\n");
    ScriptedUi ui;
    QFile big(settings.dir() + QStringLiteral("/big.txt"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray("0123456789\r\n").repeated(300000));
    big.close();
    const QString state = QStringLiteral("Send\\0");
    if (work == QLatin1String("restore"))
        settings.store().Save(state, QStringLiteral("LinkedFile"), big.fileName());
    frmTarnwell main;
    QVERIFY(main.Load());
    // As the send list reopens a state, with events let run after every block loaded.
    QPointer<frmSend> w = new frmSend;
    w->IsNewWindow = false;
    w->StateNumber = 0;
    w->setLoadSliceMs(0);
    w->setSendHook([](const QByteArray &) {});
    w->show();
    bool savedFirst = false;
    frmSend::setRefreshSendListHook([&] {
        savedFirst = !main.eventHistory()->eventTexts().contains(QStringLiteral("Tarnwell terminated."));
    });
    bool exited = false;
    auto exit = [&] {
        exited = true;
        exitMenu ? main.findChild<QAction *>(QStringLiteral("mnuExit"))->trigger() : void(main.close());
    };
    // Exits at the first events the work lets run.
    QTimer atWork;
    connect(&atWork, &QTimer::timeout, this, [&] {
        if (!exited && w && w->isBusy())
            exit();
    });
    atWork.start(0);
    w->LoadWindowState(); // where a saved link is read, the exit comes
    if (work != QLatin1String("restore"))
        w->txtTitle->setText(QStringLiteral("at exit"));
    if (work == QLatin1String("transmission")) {
        w->txtSend->setData("tick");
        w->chkPeriodically->setChecked(true);
        w->cmdSend_Click();
        QVERIFY(w->isSending());
        exit();
    } else if (work == QLatin1String("load")) {
        ui.fileAnswers.enqueue(big.fileName());
        w->cmdOpen_Click();
    } else if (work == QLatin1String("conversion")) {
        w->chkBinary->setChecked(true);
        w->txtSend->setData(QByteArray("\\41").repeated(1 << 20));
        w->cmdSend_Click();
    }
    QVERIFY(exited);
    QTRY_VERIFY(w.isNull());
    QVERIFY(savedFirst);
    // Nothing but the question about the data that is too long.
    QCOMPARE(ui.messages(), QStringList());
    QCOMPARE(std::count_if(ui.prompts.cbegin(), ui.prompts.cend(),
                           [](const ScriptedUi::Prompt &p) { return p.kind == QLatin1String("question"); }),
             work == QLatin1String("conversion") ? 1 : 0);
    settings.reopen();
    QVERIFY(settings.store().contains(state, QStringLiteral("Modified")));
    for (const QString &kv : stored.split(QLatin1Char(' '))) {
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        QCOMPARE(settings.store().Read(state, kv.left(eq)),
                 kv.mid(eq + 1).replace(QStringLiteral("%file"), big.fileName()));
    }
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
