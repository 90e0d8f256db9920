#include "controller/frmabout.h"
#include "controller/frmnotabchange.h"
#include "controller/frmsplash.h"
#include "controller/mainwindowfixture.h"
#include "controller/mainwizardhost.h"
#include "core/programfolder.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/supportclass.h"
#include "logging/frmstate.h"
#include "logging/historymodel.h"
#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "sending/sendlist.h"
#include "setup/configurationwizards.h"
#include "setup/frmalmanac.h"
#include "setup/frmconfigurations.h"
#include "setup/frminstruction.h"
#include "ui/frmhelp.h"
#include "ui/frmwait.h"
#include "ui/userfont.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

namespace {
// A loopback server that keeps what each connection brings, and answers
// each connection once and closes it, or closes it once a whole message
// (ending in CR LF) has come.
struct Peer : QObject
{
    QTcpServer server;
    QList<QByteArray> perConnection;
    QByteArray answer;
    bool oneMessage = false;
    Peer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                perConnection.append(QByteArray());
                if (!answer.isEmpty()) {
                    s->write(answer);
                    s->disconnectFromHost();
                }
                connect(s, &QTcpSocket::readyRead, this, [this, s, i = perConnection.size() - 1] {
                    if ((perConnection[i] += s->readAll()).endsWith("\r\n") && oneMessage)
                        s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
    /// What the connections brought, in their order.
    QList<QByteArray> messages() const
    {
        QList<QByteArray> out = perConnection;
        out.removeAll(QByteArray());
        return out;
    }
};

// The width a control needs to show its caption whole, or -1 when it shows
// none (icon buttons, empty or rich-text labels, labels that wrap).
int neededWidth(QWidget *w, QString &caption)
{
    const auto *label = qobject_cast<QLabel *>(w);
    const auto *box = qobject_cast<QGroupBox *>(w);
    const auto *button = qobject_cast<QAbstractButton *>(w);
    caption = label ? label->text() : box ? box->title() : button ? button->text() : QString();
    if (caption.isEmpty() || (label && (label->wordWrap() || Qt::mightBeRichText(caption))))
        return -1;
    const int text = w->fontMetrics().horizontalAdvance(QString(caption).remove(QLatin1Char('&')));
    if (label)
        return text + 2 * label->margin() + 2 * label->frameWidth();
    if (box)
        return text + 16;
    if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w))
        return w->minimumSizeHint().width();
    if (!qobject_cast<QPushButton *>(w))
        return -1;
    // The text and the bevel around it; the style's preferred minimum width is a wish, not a need.
    const QStyle *style = w->style();
    return text +
           2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) / 2 +
                style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w)) +
           (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
}

// Every face of a window at its default size and at its smallest: each page
// of each of its tab bars, and each title it takes (a details viewer's
// representations, the help's pages). Gives "where: control 'caption' needs n,
// has m" for the title and every visible caption that is cut or covered.
QStringList checkAtSizes(QWidget *window)
{
    QList<std::pair<QString, std::function<void()>>> faces{{QString(), [] {}}};
    for (QTabBar *bar : window->findChildren<QTabBar *>()) {
        for (int i = 0; i < bar->count(); ++i)
            faces.append({bar->tabText(i), [bar, i] { bar->setCurrentIndex(i); }});
    }
    if (auto *details = qobject_cast<frmDetails *>(window)) {
        for (int r = 0; r < DetailsLayout::kRepresentationCount; ++r)
            faces.append({QString::number(r),
                          [details, r] { details->setRepresentation(frmDetails::Representation(r)); }});
    }
    if (auto *pages = window->findChild<QListWidget *>(QStringLiteral("lstContents"))) {
        for (int i = 0; i < pages->count(); ++i)
            faces.append({pages->item(i)->text(), [pages, i] { Q_EMIT pages->itemClicked(pages->item(i)); }});
    }
    QStringList cut;
    QString where;
    auto check = [&](const QString &name, const QString &caption, int need, int has) {
        if (need > has)
            cut << QStringLiteral("%1: %2 '%3' needs %4, has %5")
                       .arg(where, name, caption, QString::number(need), QString::number(has));
    };
    // A title bar shows the title beside the window's icon and its buttons
    // (minimise, maximise, close): roughly 28 pixels each, and a margin.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    window->show();
    QApplication::processEvents();
    const QSize normal = window->size();
    for (const auto &[face, show] : faces) {
        for (const QSize size : {normal, window->minimumSize()}) {
            show();
            window->resize(size);
            QApplication::processEvents();
            where = window->objectName() + QLatin1Char('/') + face +
                    (size == normal ? QString() : QStringLiteral(" (smallest)"));
            if (!(window->windowFlags() & Qt::FramelessWindowHint))
                check(QStringLiteral("title"), window->windowTitle(),
                      QFontMetrics(titleFont).horizontalAdvance(window->windowTitle()) + 4 * 28 + 16,
                      window->width());
            const QList<QWidget *> all = window->findChildren<QWidget *>();
            for (QWidget *w : all) {
                QString caption;
                if (!w->isVisibleTo(window) || w->window() != window || neededWidth(w, caption) < 0)
                    continue;
                check(w->objectName(), caption, neededWidth(w, caption), w->width());
                // A caption is covered when a neighbour lies over it.
                for (QWidget *o : all) {
                    if (o != w && o->parentWidget() == w->parentWidget() && o->isVisibleTo(window) &&
                        o->geometry().intersects(w->geometry()))
                        cut << QStringLiteral("%1: %2 overlaps %3")
                                   .arg(where, w->objectName(), o->objectName());
                }
            }
        }
    }
    window->hide();
    return cut;
}

/// A loaded main window with the real options, and every instruction step
/// recorded and answered.
struct Harness : MainWindow
{
    QStringList steps; // "title|button"
    QStringList descriptions;
    /// Runs at each step before it is answered; returns false to leave the step unanswered.
    std::function<bool(int, frmInstruction &)> atStep;

    Harness() : MainWindow(0, false)
    {
        frmInstruction::setShownHook([this](frmInstruction &step) {
            steps << step.windowTitle() + QLatin1Char('|') + step.cmdCommand->text();
            descriptions << step.description();
            if (!atStep || atStep(int(steps.size()), step))
                step.cmdCommand->click();
        });
    }
    ~Harness()
    {
        frmInstruction::setShownHook({});
        WizardTargets::current() = WizardTargets();
        qDeleteAll(frmSend::openWindows());
        w.reset();
        dropOptions(); // the next test's options come from its own store
    }
    bool run(const QString &key)
    {
        MainWizardHost host(w.get());
        return ConfigurationWizards(host).Run(key);
    }
    QString stored(const QString &key) { return settings.store().Read(QStringLiteral("Options"), key); }
    /// The data of the newest saved send state.
    QString lastSavedData()
    {
        const QList<SavedSendState> states = savedSendStates(settings.store());
        return states.isEmpty()
                   ? QString()
                   : settings.store().Read(QStringLiteral("Send\\") + QString::number(states.last().number),
                                           QStringLiteral("Data"));
    }
};

// A guided client set-up: see clientSetups_data.
struct SetupRow
{
    const char *name, *key, *answers, *asked, *steps, *mentions, *host, *timing;
    QString sendText;
};
} // namespace

Q_DECLARE_METATYPE(SetupRow)

class TestWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Opening the options window made an options model; the next test starts without it.
    void cleanup() { dropOptions(); }

    void loadsFromTheStore_data()
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
        for (const char *row :
             {"mode not a number|[Mode]\nMode=server\n|Mode server",
              "mode out of range|[Mode]\nMode=7\n|Mode 7", "negative mode|[Mode]\nMode=-1\n|Mode -1",
              "show position|[Show]\nServer=4\n|Server 4", "details|[ReceiveDetails]\n1=2\n|1 2",
              "width|[StartUp]\nWidth=wide\n|Width wide", "empty height|[Startup]\nHeight=\n|Height "}) {
            const QStringList f = QString::fromLatin1(row).split(QLatin1Char('|'));
            QTest::newRow(qPrintable(f[0])) << f[1].toLatin1() << 0 << client << f[2];
        }
    }

    void loadsFromTheStore()
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
        const QStringList told = w.eventHistory()->eventTexts();
        QCOMPARE(told.filter(QStringLiteral("Tarnwell has been")), events);
        // A damaged value's event names the key and the value it could not use.
        const QStringList kv = damaged.split(QLatin1Char(' '));
        const QRegularExpression event(
            QStringLiteral("'%1'.* holds '%2'.*default")
                .arg(QRegularExpression::escape(kv[0]), QRegularExpression::escape(kv.value(1))));
        QVERIFY2(damaged.isEmpty() || !told.filter(event).isEmpty(),
                 qPrintable(told.join(QLatin1Char('\n'))));
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

    void closingWritesEveryKey_data()
    {
        QTest::addColumn<bool>("exitMenu");
        QTest::newRow("close box") << false;
        // The Exit menu runs the unload alone: no close request is announced.
        QTest::newRow("Exit menu") << true;
    }

    void closingWritesEveryKey()
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
        // Every key of the table, with what the window held; only the start-up switch is not the main
        // window's.
        const QStringList keys =
            QStringLiteral(
                "Mode/Mode=2 EndPoints/ClientEP=example.test EndPoints/ClientPort=80 EndPoints/ServerPort=80 "
                "EndPoints/ServerPortPS=80 EndPoints/PassThroughEP=localhost EndPoints/PassThroughPort=8080 "
                "Show/Client=0 Show/Server=2 Show/PassThrough=0 ReceiveDetails/0=0 ReceiveDetails/1=0 "
                "ReceiveDetails/2=1")
                .split(QLatin1Char(' '));
        for (const QString &k : keys) {
            const qsizetype slash = k.indexOf(QLatin1Char('/')), eq = k.indexOf(QLatin1Char('='));
            QCOMPARE(
                t.store().Read(k.left(slash), k.mid(slash + 1, eq - slash - 1), QStringLiteral("missing")),
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

    // Settings that cannot be saved are told at start-up and at exit. Set-ups
    // shown at start-up hold the main window until they close. Without the
    // files beside the program: no help, told, and the program goes on; no
    // animation, told, and start-up ends.
    void startUpTellsItsFailuresAndShowsSetups()
    {
        TempSettings t;
        ScriptedUi ui;
        StartupOptions options;
        options.showSplash = false;
        options.allowConfigurations = false;
        {
            UnwritableSettings blocked(t);
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
        ui.clear();
        options.allowConfigurations = true;
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
            QCOMPARE(t.store().Read(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations")),
                     QStringLiteral("0"));
            w->close();
        }
        auto again = StartUp(options);
        QVERIFY(again);
        QVERIFY(again->isEnabled());
        QTemporaryDir empty;
        const QByteArray saved = qgetenv("TARNWELL_DATA_DIR");
        qputenv("TARNWELL_DATA_DIR", empty.path().toLocal8Bit());
        again->mnuHelpTarnwell_Click();
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

    void helpShowsItsTopics()
    {
        MainWindow m;
        frmTarnwell &w = *m.w;
        w.mnuHelpTarnwell_Click();
        frmHelp *help = frmHelp::shared();
        QVERIFY(help && help->isVisible());
        // F1 in each window opens the window's own topic.
        frmOptions *options = frmOptions::open();
        frmConfigurations configs(std::make_unique<MainWizardHost>(&w));
        // The window, the options window's tab (-1: none) and the topic.
        const std::tuple<QWidget *, int, int> windows[] = {{w.clientStateHistory(), -1, 11},
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
        QVERIFY(m.ui.prompts.isEmpty());
    }

    // At exit every send window stops its work and saves its state first.
    void exitStopsAndSavesSendWindows_data()
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

    void exitStopsAndSavesSendWindows()
    {
        QFETCH(QString, work);
        QFETCH(bool, exitMenu);
        QFETCH(QString, stored);
        TempSettings settings;
        settings.writeIni("[StartUp]\nShowConfigurations=0\n[Send]\n0=before\n[Send\\0]\nData=old\n");
        ScriptedUi ui;
        const QString big =
            putFile(settings.path(QStringLiteral("big.txt")), QByteArray("0123456789\r\n").repeated(300000));
        const QString state = QStringLiteral("Send\\0");
        if (work == QLatin1String("restore"))
            settings.store().Save(state, QStringLiteral("LinkedFile"), big);
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
            ui.fileAnswers.enqueue(big);
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
        QCOMPARE(
            std::count_if(ui.prompts.cbegin(), ui.prompts.cend(),
                          [](const ScriptedUi::Prompt &p) { return p.kind == QLatin1String("question"); }),
            work == QLatin1String("conversion") ? 1 : 0);
        settings.reopen();
        QVERIFY(settings.store().contains(state, QStringLiteral("Modified")));
        for (const QString &kv : stored.split(QLatin1Char(' '))) {
            const qsizetype eq = kv.indexOf(QLatin1Char('='));
            QCOMPARE(settings.store().Read(state, kv.left(eq)),
                     kv.mid(eq + 1).replace(QStringLiteral("%file"), big));
        }
    }

    // Send... opens a new send window, whose Options opens the options window;
    // an entry of a send list reopens that saved state, and every save
    // refreshes both lists. The entries that were greyed out before the
    // protocols and options windows existed now open them.
    void buttonsOpenTheirWindowsAndTheFontReachesThem()
    {
        MainWindow m;
        frmTarnwell &w = *m.w;
        QTest::mouseClick(w.tabs[1].cmdSend, Qt::LeftButton);
        QCOMPARE(frmSend::openWindows().size(), 1);
        QPointer<frmSend> send = frmSend::openWindows().first();
        QVERIFY(send->IsNewWindow);
        send->cmdPreferences->click();
        QVERIFY(frmOptions::instance() && frmOptions::instance()->isVisible());
        // A separator's details button shows its own viewer, as characters.
        frmOptions::instance()->cmdMessageDetails->click();
        auto *viewer = frmOptions::instance()->findChild<frmDetails *>();
        QVERIFY(viewer && viewer->isVisible());
        QCOMPARE(viewer->representation(), DetailsLayout::Chr);
        QCOMPARE(viewer->currentText(), QByteArray("\r\n"));
        frmOptions::instance()->cmdOK->click();
        send->txtTitle->setText(QStringLiteral("saved from the server tab"));
        send->txtSend->setData("hello\r\n");
        send->close();
        QTRY_VERIFY(send.isNull());
        for (int tab = 0; tab < 2; ++tab)
            QCOMPARE(w.tabs[tab].cboSend->itemText(0) + QString::number(w.tabs[tab].cboSend->count()),
                     QStringLiteral("saved from the server tab1"));
        Q_EMIT w.tabs[0].cboSend->activated(0);
        QCOMPARE(frmSend::openWindows().size(), 1);
        frmSend *again = frmSend::openWindows().first();
        QCOMPARE(again->txtSend->data(), QByteArray("hello\r\n"));
        delete again;
        for (int tab : {0, 1}) {
            w.tabs[tab].cmdProtocols->click();
            QVERIFY(w.protocolsWindow() && w.protocolsWindow()->isVisible());
            w.protocolsWindow()->cmdClose->click();
        }
        w.protocolsWindow()->cmdPreferences->click();
        QVERIFY(frmOptions::instance()->isVisible());
        frmOptions::instance()->cmdOK->click();

        // A font chosen in the options window reaches every data window open at
        // that moment, and every data window opened afterwards.
        frmSend *before = frmSend::OpenNewWindow();
        w.eventHistory()->show();
        frmProtocol *protocols = w.protocols();
        protocols->show();

        // The Options entry opens the window; the label names the font in use.
        w.findChild<QAction *>(QStringLiteral("mnuOptions"))->trigger();
        frmOptions *options = frmOptions::instance();
        QVERIFY(options->isVisible());
        QCOMPARE(options->lblFont->text(), UserFont::describe(w.tabs[0].txtReceived->font()));

        QFont chosen(QStringLiteral("DejaVu Serif"), 13);
        chosen.setItalic(true);
        m.ui.fontAnswers.enqueue(chosen);
        options->cmdOpenFont->click();
        QCOMPARE(options->lblFont->text(), QFontInfo(chosen).family() + QStringLiteral(", 13pt, Italic"));

        frmSend *after = frmSend::OpenNewWindow();
        after->cmdDetails->click(); // its viewer, opened later still
        // Every view of data, the state history hidden.
        QList<QWidget *> showing{before->txtSend, after->txtSend, protocols->txtMessage,
                                 w.eventHistory()->list(), w.clientStateHistory()->list()};
        for (int i = 0; i < 3; ++i)
            showing << w.tabs[i].lvwReceived << w.tabs[i].txtReceived;
        for (frmDetails *viewer : {w.receivedDetails(), after->details(), protocols->details()})
            showing << viewer->txtDetails;
        for (qsizetype i = 0; i < showing.size(); ++i)
            QVERIFY2(showing[i]->font() == chosen, qPrintable(QString::number(i)));
        delete before;
        delete after;
    }

    // The tab's double click opens the received viewer, each viewer follows its
    // own direction, and the filter takes received rows only. Which data a
    // viewer takes is the display's own rule.
    void viewersAndFilterFollowTheData()
    {
        MainWindow m;
        QTcpServer server;
        const auto peer = m.connectClient(server);
        QVERIFY(peer);
        ModeControls &t = m.w->tabs[0];
        frmDetails *received = m.w->receivedDetails();
        frmDetails *sent = m.w->sentDetails();
        // The filter serves the list, and is offered with it.
        QVERIFY(!t.cmdFilter->isEnabled());
        peer->write("one\r\ntwo\r\n");
        QTRY_COMPARE(t.model->rowCount(), 2);
        t.chkReceivedFields->click();
        t.lvwReceived->setCurrentIndex(t.model->index(0, 0));
        Q_EMIT t.lvwReceived->doubleClicked(t.model->index(0, 0));
        QCOMPARE(received->currentText(), QByteArray("one\r\n"));

        received->chkTrackLatestData->setChecked(true);
        sent->chkTrackLatestData->setChecked(true);
        peer->write("three\r\n");
        QTRY_COMPARE(received->currentText(), QByteArray("three\r\n"));
        m.w->objSupport->SendDataDownSocket("out\r\n");
        QCOMPARE(sent->currentText(), QByteArray("out\r\n"));
        QCOMPARE(received->currentText(), QByteArray("three\r\n"));

        t.cmdFilter->click();
        frmFilter *filter = m.w->filter();
        QVERIFY(filter->isVisible());
        filter->txtFilter[0]->setText(QStringLiteral("KEEP"));
        QVERIFY(m.w->statusPanel(3).isEmpty());
        filter->chkFilterOn->click();
        QCOMPARE(m.w->statusPanel(3), QStringLiteral("Filtering On "));
        m.opts.caseSensitive = false;
        const int rows = t.model->rowCount();
        peer->write("drop\r\nkeep me\r\n");
        QTRY_COMPARE(t.model->rowCount(), rows + 1);
        m.w->objSupport->SendDataDownSocket("sent\r\n");
        QCOMPARE(t.model->rowCount(), rows + 2);
        QCOMPARE(t.model->rawTag(rows), QByteArray("keep me\r\n"));

        // The title bar only hides the window; shutting down closes it.
        QVERIFY(!filter->close());
        QVERIFY(!filter->isVisible());
        m.w->close();
        QVERIFY(filter->close());
    }

    void mergeWithReconnection_data()
    {
        QTest::addColumn<QString>("course");
        QTest::addColumn<int>("delivered"); // records that reach the server
        QTest::addColumn<QString>("event");

        QTest::newRow("every record, window hidden") << "all" << 5 << "every record has been sent";
        QTest::newRow("Stop Sending") << "stop" << 1 << "stopped by the user";
        QTest::newRow("user disconnects") << "user" << 1 << "the client was disconnected";
        QTest::newRow("mode changes") << "mode" << 1 << "the mode was changed";
    }

    // Against a real server on this machine: each record goes out on a
    // connection of its own, exactly once and in order, and however the merge
    // ends, it ends cleanly.
    void mergeWithReconnection()
    {
        QFETCH(QString, course);
        QFETCH(int, delivered);
        QFETCH(QString, event);

        MainWindow m;
        m.opts.autoDisconnect = true;
        m.opts.autoReconnect = true;
        m.opts.reconnectPeriod = 1;
        frmTarnwell &w = *m.w;

        Peer server;
        server.oneMessage = true;
        m.target(server.server.serverPort());

        const QList<QByteArray> records{"RECORD 1 alpha\r\n", "RECORD 2 beta\r\n", "RECORD 3 gamma\r\n",
                                        "RECORD 4 delta\r\n", "RECORD 5 epsilon\r\n"};
        const QString list = putFile(m.settings.path(QStringLiteral("list.txt")),
                                     "1,alpha\r\n2, beta\n\r\n3,gamma\r4,delta\r\n5,epsilon");

        frmProtocol *p = w.protocols();
        p->txtMessage->setData("RECORD %1 %2\r\n");
        p->txtReplaceFileName->setText(list);
        p->chkReplaceEscapedChars->click();
        p->chkDisconnectAfterMsgTx->click();

        // Connected first: Send puts out the first record at once, and the
        // user disconnects, or stops, before the send is even reported.
        const bool connected = course == QLatin1String("user") || course == QLatin1String("stop");
        if (connected) {
            m.w->tabs[0].cmdConnect->click();
            QTRY_COMPARE_WITH_TIMEOUT(w.intLastClientState, qint16(7), 10000);
        }
        p->show();
        p->cmdSend->click();
        QVERIFY(p->MergeActive);
        if (connected)
            (course == QLatin1String("user") ? static_cast<QAbstractButton *>(w.tabs[0].cmdConnect)
                                             : p->cmdSend)
                ->click();
        else
            p->close(); // hiding the window does not end the merge
        if (course == QLatin1String("mode")) {
            // Without automatic reconnection the merge waits after its first
            // record; the user then leaves Client mode.
            m.opts.autoReconnect = false;
            QTRY_COMPARE_WITH_TIMEOUT(server.messages().size(), 1, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(!w.IsConnectionBusy() && w.intLastClientState == 0, 10000);
            w.tabMode->setCurrentIndex(1);
        }

        QTRY_VERIFY_WITH_TIMEOUT(!p->MergeActive, 20000);
        QCOMPARE(m.events().filter(QStringLiteral("The merge with reconnection has ended")),
                 QStringList{QStringLiteral("The merge with reconnection has ended: ") + event +
                             QLatin1Char('.')});
        // The connection is left closed, with no reconnection pending.
        QTRY_COMPARE_WITH_TIMEOUT(w.sckClient->State(), 0, 10000);
        QVERIFY(!w.blnClientOpen);
        QVERIFY(!w.tmrReconnectTimer->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(server.messages(), records.first(delivered), 10000);
        QVERIFY(m.ui.messages().isEmpty());
    }

    void almanacChoiceFillsItsBox_data()
    {
        // The "..." button, the box it fills, the answer ("ok", "cancel" or "close") and the box afterwards.
        for (const char *column : {"button", "box", "answer", "expected"})
            QTest::addColumn<QString>(column);
        for (const char *row :
             {"cmdServer_0 txtServer_0 ok a.example", "cmdServer_2 txtServer_2 ok a.example",
              "cmdServer_0 txtServer_0 close before", "cmdPort_0 txtPortConnectTo_0 ok 110",
              "cmdPort_1 txtPort_1 ok 110", "cmdPort_2 txtPortConnectTo_2 ok 110",
              "cmdPort_3 txtPort_2 ok 110", "cmdPort_3 txtPort_2 cancel before"}) {
            const QStringList f = QString::fromLatin1(row).split(QLatin1Char(' '));
            QTest::newRow(row) << f[0] << f[1] << f[2] << f[3];
        }
    }

    // The "..." buttons show an almanac over the main window; the choice goes
    // into the box beside the button, Cancel and the close box leave it alone.
    void almanacChoiceFillsItsBox()
    {
        QFETCH(QString, button);
        QFETCH(QString, box);
        QFETCH(QString, answer);
        QFETCH(QString, expected);

        MainWindow m;
        putFile(m.settings.path(QStringLiteral("Servers.txt")),
                "b.example,Web,B\na.example,Web,A\n"); // the user's copies
        putFile(m.settings.path(QStringLiteral("Ports.txt")), "110,POP3\n21,FTP\n");
        auto *target = m.w->findChild<QLineEdit *>(box);
        target->setText(QStringLiteral("before"));
        m.w->findChild<QPushButton *>(button)->click();
        auto *almanac = m.w->findChild<frmAlmanac *>(); // the one the button made
        QVERIFY(almanac && almanac->isVisible() && almanac->isModal());
        almanac->lstDetails->setCurrentItem(almanac->lstDetails->topLevelItem(0));
        if (answer == QLatin1String("ok"))
            almanac->cmdOK->click();
        else if (answer == QLatin1String("cancel"))
            almanac->cmdCancel->click();
        else
            almanac->close();
        QCOMPARE(target->text(), expected);
    }

    // A click meant for Pause must never land on Clear because the gauge's text
    // appeared in between. Minimised, the caption names the mode; a size
    // change covers the controls until it has settled.
    void mainWindowHoldsStill()
    {
        MainWindow m(1);
        m.w->show();
        QApplication::processEvents();
        ModeControls &t = m.w->tabs[1];
        const QList<QWidget *> buttons{t.cmdReceivedPause,   t.cmdEmptyReceived, t.cmdReceivedClear,
                                       t.cmdReceivedDetails, t.panReceived,      t.panSent};
        auto places = [&] {
            QList<QRect> r;
            for (QWidget *b : buttons)
                r << QRect(b->mapTo(m.w.get(), QPoint(0, 0)), b->size());
            return r;
        };
        const QList<QRect> before = places();
        for (const qsizetype length : {qsizetype(70), qsizetype(12345678)}) {
            m.w->objSupport->strReceiveBuffer = QByteArray(length, 'x');
            m.w->UpdateReceivePauseBufferIndicator();
            QApplication::processEvents();
            QVERIFY(!t.lblReceivePausePerc->text().isEmpty());
            QCOMPARE(places(), before);
        }
        m.w->objSupport->strReceiveBuffer.clear();

        m.w->showMinimized();
        QTRY_COMPARE(m.w->windowTitle(), QStringLiteral("TWL (Server)"));
        m.w->showNormal();
        QTRY_COMPARE(m.w->windowTitle(), QStringLiteral("Tarnwell"));
        auto *cover = m.w->findChild<QPushButton *>(QStringLiteral("cmdFormHide"));
        m.w->resize(m.w->width() + 40, m.w->height() + 40);
        QVERIFY(cover->isVisible());
        QTRY_VERIFY(!cover->isVisible());
    }

    void everyCaptionIsWholeAndEveryRowTold()
    {
        MainWindow m;
        frmTarnwell &w = *m.w;
        auto *step = new frmInstruction(&w);
        // The longest caption and button of the set-ups.
        step->setWindowTitle(QStringLiteral("Web Browser Setup (via Proxy) - Step 6"));
        step->lblDescription->setText(
            QStringLiteral("Tarnwell is now going to attempt to connect to the proxy."));
        step->cmdCommand->setText(QStringLiteral("Next >>"));
        auto *wait = new frmWait(&w);
        wait->setLabel(QStringLiteral("Loading and parsing the file..."));
        frmHelp::shared()->showTopics();
        frmSend *timed = frmSend::OpenNewWindow();
        timed->cmdTiming_Click(); // the send window with its options shown
        // Every window the program can open, made as the program makes it.
        const QList<QWidget *> windows{&w,
                                       new frmSplash(&w),
                                       frmSend::OpenNewWindow(),
                                       timed,
                                       frmOptions::open(),
                                       w.protocols(),
                                       w.logging(),
                                       w.filter(),
                                       w.receivedDetails(),
                                       w.eventHistory(),
                                       w.clientStateHistory(),
                                       w.serverStateHistory(),
                                       new frmAbout(&w),
                                       frmHelp::shared(),
                                       new frmConfigurations(std::make_unique<MainWizardHost>(&w), &w),
                                       step,
                                       new frmNoTabChange(&w),
                                       wait,
                                       frmServer::shared(&w),
                                       frmPort::shared(&w)};
        QStringList cut;
        for (QWidget *window : windows)
            cut += checkAtSizes(window);
        cut.removeDuplicates();
        qDeleteAll(frmSend::openWindows());
        delete frmOptions::instance();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));

        // An event row that is cut tells its whole text.
        frmEvent *history = w.eventHistory();
        const QString whole =
            QStringLiteral("An event far longer than its column: ") + QString(200, QLatin1Char('x'));
        history->AddEvent(whole);
        const QModelIndex cell =
            history->model()->index(history->rowCount() - 1, history->model()->columnCount() - 1);
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), whole);
    }

    void clientSetups_data()
    {
        // answers: the input boxes' answers, "|" between (PEER: the peer's port, CANCEL: cancelled, LONG: a
        // 300-character site name, also in sendText); asked: titles of the input and message boxes; steps:
        // the step titles, each with "Next >>" but the last with "Finish"; mentions: a text one of the steps
        // holds; host: txtServer(0) afterwards; timing of the send window: "" plain, "pause", "periodic",
        // "none": no window.
        QTest::addColumn<SetupRow>("row");

        const QString request = QStringLiteral(
            " HTTP/1.1\r\nAccept: application/vnd.ms-excel, application/msword, "
            "application/vnd.ms-powerpoint, */*\r\n"
            "Accept -Language: en -au\r\nAccept -Encoding: gzip , deflate\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)\r\nHost: localhost\r\n"
            "Connection: Keep -Alive\r\n\r\n");
        const QString mail = QStringLiteral(
            "helo\r\nMAIL From: <Senders E-mail Address>\r\nRCPT TO: <Recipients E-mail Address>\r\n"
            "Data\r\nFrom: <Senders E-mail Address>\r\nTo: <Recipients E-mail Address>\r\n"
            "Subject: <subject>\r\n\r\n<Insert body of message here. (Do not delete that blank line "
            "below the subject and be sure to keep that period ('.') on the line by itself after the "
            "message.)\r\n.\r\nQUIT\r\n");
        const QString keepAlive = QStringLiteral(
            "GET / HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; Opera/3.0; Windows 4.10) 3.50\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, */*\r\nHost: localhost\r\n\r\n");
        const char *browser =
            "Web Browser Setup - Step 1|Web Browser Setup - Step 3|Web Browser Setup - Step 4";
        const char *sendOnce = "close this window and press 'Send' to request the web page.";
        const SetupRow rows[] = {
            {"web browser", "WebBrowser", "127.0.0.1", "Web Browser Setup - Step 2", browser, sendOnce,
             "127.0.0.1", "", QStringLiteral("GET /") + request},
            {"web browser, site question cancelled", "WebBrowser", "CANCEL", "Web Browser Setup - Step 2",
             browser, sendOnce, "<Web Site Name goes here>", "", QStringLiteral("GET /") + request},
            {"proxy, port asked until numeric", "WebBrowserViaProxy", "LONG|127.0.0.1|| |eighty|99999|PEER",
             "Web Browser Setup (via Proxy) - Step 2|Web Browser Setup (via Proxy) - Step 3|P|Tarnwell III|P|"
             "Tarnwell III|P|Tarnwell III|P|Tarnwell III|P",
             "Web Browser Setup (via Proxy) - Step 1|Web Browser Setup (via Proxy) - Step 5|"
             "Web Browser Setup (via Proxy) - Step 6",
             "Change to the 'Received' tab page to view the HTML.", "127.0.0.1", "",
             QStringLiteral("GET LONG/") + request},
            {"sending email", "SendingEmail", " 127.0.0.1 ", "E-mail Setup - Step 2",
             "Email Setup - Step 1|E-mail Setup - Step 3|E-mail Setup - Step 4", "set to connect to port 25.",
             "127.0.0.1", "pause", mail},
            {"keep alive", "KeepAlive", "", "",
             "Keep Alive Requests Setup - Step 1|Keep Alive Requests Setup - Step 2",
             "sent out once a minute.\r\n\r\nPress Finish to start retrieving the Keep-Alive Requests.",
             "127.0.0.1", "periodic", keepAlive},
            {"quote", "Quote", "", "", "Quote of the Day Setup - Step 1|Quote of the Day Setup - Step 2",
             "connect to port 17 on the Quillmoor web server.", "127.0.0.1", "none", QString()},
            {"time of day", "TimeOfDay", "", "", "Time of Day Setup - Step 1|Time of Day Setup - Step 2",
             "disconnects.\r\n\r\nPress Finish to start retrieving the Time of Day.", "127.0.0.1", "none",
             QString()},
        };
        for (const SetupRow &r : rows)
            QTest::newRow(r.name) << r;
    }

    void clientSetups()
    {
        QFETCH(SetupRow, row);
        const QString key = QLatin1String(row.key), host = QLatin1String(row.host),
                      timing = QLatin1String(row.timing);
        QString sendText = row.sendText;

        Peer peer;
        const bool timeService = key == QLatin1String("Quote") || key == QLatin1String("TimeOfDay");
        if (timeService)
            peer.answer = "An answer\r\n";
        Harness h;
        WizardTargets &targets = WizardTargets::current();
        targets.quoteHost = targets.timeHost = targets.keepAliveHost = QStringLiteral("127.0.0.1");
        for (int fixed : {80, 25, 17, 13})
            targets.ports[fixed] = peer.port();
        const QString longSite = QString(300, QLatin1Char('w')) + QStringLiteral(".example");
        sendText.replace(QStringLiteral("LONG"), longSite);
        for (const QString &a :
             *row.answers ? QString::fromLatin1(row.answers).split(QLatin1Char('|')) : QStringList()) {
            if (a == QLatin1String("CANCEL"))
                h.ui.inputAnswers.enqueue(std::nullopt);
            else
                h.ui.inputAnswers.enqueue(a == QLatin1String("PEER")   ? peer.port()
                                          : a == QLatin1String("LONG") ? longSite
                                                                       : a);
        }

        QVERIFY(h.run(key));

        QStringList expected = QString::fromLatin1(row.steps).split(QLatin1Char('|'));
        for (qsizetype i = 0; i < expected.size(); ++i)
            expected[i] += i + 1 < expected.size() ? QStringLiteral("|Next >>") : QStringLiteral("|Finish");
        QCOMPARE(h.steps, expected);
        const QString described = h.descriptions.join(QLatin1Char('|'));
        QVERIFY2(described.contains(QLatin1String(row.mentions)), qPrintable(described));
        QStringList boxes;
        for (const ScriptedUi::Prompt &p : h.ui.prompts)
            boxes << p.title;
        const QString asked = QString::fromLatin1(row.asked).replace(
            QStringLiteral("|P"), QStringLiteral("|Web Browser Setup (via Proxy) - Step 4"));
        QCOMPARE(boxes.join(QLatin1Char('|')), asked);
        if (asked.contains(QStringLiteral("Tarnwell III")))
            QVERIFY(h.ui.messages().contains(QStringLiteral("The Proxy port number must be numeric.")));
        QCOMPARE(h.w->tabs[0].txtServer->text(), host);
        QCOMPARE(h.w->tabs[0].txtPortConnectTo->text(), peer.port());
        // The options went through the options window's OK into the store.
        QVERIFY(frmOptions::instance() && !frmOptions::instance()->isVisible());
        QCOMPARE(h.stored(QStringLiteral("AutoDisconnect")), QStringLiteral("1"));
        const bool reconnects = timeService || key == QLatin1String("KeepAlive");
        QCOMPARE(h.stored(QStringLiteral("AutoReconnect")),
                 reconnects ? QStringLiteral("1") : QStringLiteral("0"));
        if (reconnects)
            QCOMPARE(h.stored(QStringLiteral("AutoReconnectPeriod")), QStringLiteral("1000"));
        if (host == QLatin1String("127.0.0.1"))
            QTRY_VERIFY(!peer.perConnection.isEmpty());

        frmSend *send = frmSend::openWindows().size() == 1 ? frmSend::openWindows().first() : nullptr;
        QCOMPARE(send != nullptr, timing != QLatin1String("none"));
        if (send) {
            QCOMPARE(send->txtSend->text(), sendText);
            QCOMPARE(send->chkPause->isChecked(), timing == QLatin1String("pause"));
            QCOMPARE(send->chkPeriodically->isChecked(), timing == QLatin1String("periodic"));
            QCOMPARE(send->timingShown(), !timing.isEmpty());
            if (timing == QLatin1String("pause")) {
                QCOMPARE(send->txtPause->text(), QStringLiteral("100"));
                QVERIFY(send->txtTitle->text().startsWith(QStringLiteral("Sending Email - ")));
            } else if (timing == QLatin1String("periodic")) {
                QVERIFY(send->isSending());
                QCOMPARE(send->txtOnceEvery->text(), QStringLiteral("60000"));
            }
            // Closing it keeps its data as a saved state.
            send->close();
            QCOMPARE(h.lastSavedData(), sendText);
        }
        if (timeService) {
            // The answer arrives, the server closes, and the client connects again for the next one.
            QTRY_VERIFY(h.w->tabs[0].model->rowCount() > 0);
            QTRY_VERIFY_WITH_TIMEOUT(peer.perConnection.size() >= 2, 10000);
        }
    }

    void webServerServesThePage()
    {
        Harness h;
        WizardTargets::current().ports[80] = QStringLiteral("0"); // a port the system picks
        QTcpSocket browser;
        QByteArray page;
        h.atStep = [&](int n, frmInstruction &) {
            if (n == 2) {
                // A browser connects while step 2 is shown, and the client count follows.
                browser.connectToHost(QHostAddress::LocalHost, quint16(h.w->sckServer[0]->LocalPort()));
                if (!QTest::qWaitFor([&] { return h.w->intClientCount == 1; }, 5000))
                    qWarning("the browser was not accepted");
            }
            return true;
        };
        QObject::connect(&browser, &QTcpSocket::readyRead, [&] { page += browser.readAll(); });
        QVERIFY(h.run(QStringLiteral("WebServer")));

        const QString name = h.w->tabs[1].lblServer->text();
        QCOMPARE(h.steps, (QStringList{QStringLiteral("Web Server Setup - Step 1|Next >>"),
                                       QStringLiteral("Web Server Setup - Step 2|Next >>"),
                                       QStringLiteral("Web Server Setup - Step 3|Next >>"),
                                       QStringLiteral("Web Server Setup - Step 4|Finish")}));
        QVERIFY(h.descriptions[1].contains(QStringLiteral("go to the URL 'http://") + name +
                                           QStringLiteral("'.")));
        QCOMPARE(h.w->intCurrentMode, 1);
        // The browser got the page, and listening stopped, closing its connection.
        QTRY_COMPARE(browser.state(), QAbstractSocket::UnconnectedState);
        page += browser.readAll();
        const QByteArray head =
            "<html><head><title>Simple Page</title></head>\r\n<body bgcolor='#FFFF00'>\r\n"
            "<p>This is a web page generated from Tarnwell.</p>\r\n"
            "<p>Place your own HTML in the send window and see what happens!</p>\r\n<p>The time is: ";
        QVERIFY2(page.startsWith(head), page.constData());
        QVERIFY(page.endsWith("</p>\r\n</body>\r\n</html>\r\n"));
        QCOMPARE(h.w->sckServer[0]->State(), int(SocketControl::sckClosed));
        // Its send window is closed and its data kept as a new saved state.
        QTRY_VERIFY(frmSend::openWindows().isEmpty());
        QCOMPARE(h.lastSavedData().toLatin1(), page);
    }

    void setupAndDoubleClickRunTheSame_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("Setup") << false;
        QTest::newRow("double click") << true;
    }

    void setupAndDoubleClickRunTheSame()
    {
        QFETCH(bool, doubleClick);
        Peer peer;
        peer.answer = "12:00:00\r\n";
        Harness h;
        WizardTargets::current().timeHost = QStringLiteral("127.0.0.1");
        WizardTargets::current().ports[13] = peer.port();
        // Not while the socket listens.
        h.w->tabMode->setCurrentIndex(1);
        h.listen(1);
        h.w->mnuCommonConfigs_Click();
        QCOMPARE(h.ui.messages(),
                 QStringList{QStringLiteral(
                     "It is not possible to show the common configurations while the socket is "
                     "listening or connected.")});
        QCOMPARE(h.ui.prompts.first().icon, UiService::Icon::Information);
        QVERIFY(!h.w->findChild<frmConfigurations *>());
        h.w->tabs[1].cmdListen->click();
        h.w->mnuCommonConfigs_Click();
        auto *fromMenu = h.w->findChild<frmConfigurations *>();
        QVERIFY(fromMenu && fromMenu->isVisible());
        fromMenu->cmdCancel->click();
        h.w->setEnabled(false); // as at start-up
        QPointer<frmConfigurations> window =
            new frmConfigurations(std::make_unique<MainWizardHost>(h.w.get()));
        window->show();
        window->chkShowAtStartup->setChecked(true);
        QListWidget *list = window->lvwConfig;
        QCOMPARE(list->currentRow(), 0);
        // The item under the pointer shows its description; empty space keeps it.
        window->lvwConfig_MouseMove(list->visualItemRect(list->item(6)).center());
        const QString time = QStringLiteral("This requests a servers time.");
        QCOMPARE(window->txtComment->toPlainText(), time);
        window->lvwConfig_MouseMove(QPoint(list->viewport()->width() - 2, list->viewport()->height() - 2));
        QCOMPARE(window->txtComment->toPlainText(), time);
        window->cmdHelp->click();
        QCOMPARE(frmHelp::shared()->currentTopic(), 20);
        frmHelp::shared()->close();

        list->setCurrentRow(6);
        bool shownDuringAStep = false; // the window is hidden while its set-up runs
        h.atStep = [&](int n, frmInstruction &step) {
            shownDuringAStep |= window && window->isVisible();
            // Escape answers a step like its button.
            if (n == 1)
                QTest::keyClick(&step, Qt::Key_Escape);
            return n != 1;
        };
        if (doubleClick)
            Q_EMIT list->itemDoubleClicked(list->item(6));
        else
            window->cmdOK->click();
        QCOMPARE(h.steps.size(), 2);
        QCOMPARE(h.steps.first(), QStringLiteral("Time of Day Setup - Step 1|Next >>"));
        QVERIFY(!shownDuringAStep && h.w->isEnabled());
        QTRY_VERIFY(!window);
        QCOMPARE(h.settings.store().Read(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations")),
                 QStringLiteral("1"));
        QTRY_VERIFY(!peer.perConnection.isEmpty());
    }

    // Last: closing the main window ends the application's event loops.
    void closingTheMainWindowEndsTheSetup()
    {
        Peer peer;
        Harness h;
        WizardTargets::current().ports[80] = peer.port();
        h.ui.inputAnswers.enqueue(QStringLiteral("127.0.0.1"));
        h.atStep = [&](int n, frmInstruction &) {
            if (n == 2)
                h.w->close(); // closes the step's window too
            return n != 2;
        };
        QVERIFY(!h.run(QStringLiteral("WebBrowser")));
        // Nothing after the step: no connection, no options changed, no send window.
        QCOMPARE(h.steps.size(), 2);
        QVERIFY(frmSend::openWindows().isEmpty());
        QCOMPARE(h.w->tabs[0].cmdConnect->text(), QStringLiteral("&Connect"));
        QVERIFY(h.stored(QStringLiteral("AutoDisconnect")).isEmpty());
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
