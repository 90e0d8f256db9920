#include "controller/frmtarnwell.h"
#include "logging/frmevent.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>

// The main window's two ways into send windows: Send... opens a new one, an
// entry of a send list reopens that saved state, and every save refreshes both
// lists. At exit every send window stops and saves first.
class tst_SendEntries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newWindowSaveAndReopen();
    void exitStopsAndSavesSendWindows_data();
    void exitStopsAndSavesSendWindows();
};

void tst_SendEntries::newWindowSaveAndReopen()
{
    TempSettings settings;
    ScriptedUi ui;
    frmTarnwell main;
    QVERIFY(main.Load());
    QTest::mouseClick(main.findChild<QPushButton *>(QStringLiteral("cmdSend_1")), Qt::LeftButton);
    QCOMPARE(frmSend::openWindows().size(), 1);
    QPointer<frmSend> w = frmSend::openWindows().first();
    QVERIFY(w->IsNewWindow && w->isVisible());
    // The main window gives its send windows the options window.
    QVERIFY(w->cmdPreferences->isEnabled());
    w->txtTitle->setText(QStringLiteral("saved from the server tab"));
    w->txtSend->setData("hello\r\n");
    w->close();
    QTRY_VERIFY(w.isNull());

    for (int tab = 0; tab < 2; ++tab) {
        QComboBox *cbo = main.findChild<QComboBox *>(QStringLiteral("cboSend_%1").arg(tab));
        QCOMPARE(cbo->count(), 1);
        QCOMPARE(cbo->itemText(0), QStringLiteral("saved from the server tab"));
    }
    Q_EMIT main.findChild<QComboBox *>(QStringLiteral("cboSend_0"))->activated(0);
    QCOMPARE(frmSend::openWindows().size(), 1);
    frmSend *r = frmSend::openWindows().first();
    QVERIFY(!r->IsNewWindow);
    QCOMPARE(r->txtSend->data(), QByteArray("hello\r\n"));
    delete r;
    main.Unload();
}

void tst_SendEntries::exitStopsAndSavesSendWindows_data()
{
    // What the window of saved state 0 (its "Data" was "old") is doing when
    // the program exits, and keys of its state afterwards ("%file": the
    // file it opens or restores).
    QTest::addColumn<QString>("work");
    QTest::addColumn<bool>("exitMenu");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("transmission, close box")
        << QStringLiteral("transmission") << false
        << QStringList{QStringLiteral("Data=tick"), QStringLiteral("Periodically=True")};
    QTest::newRow("file load, Exit menu")
        << QStringLiteral("load") << true
        << QStringList{QStringLiteral("Data=old"), QStringLiteral("LinkedFile=")};
    // The link being restored is kept.
    QTest::newRow("restoring a link, close box")
        << QStringLiteral("restore") << false
        << QStringList{QStringLiteral("Data="), QStringLiteral("LinkedFile=%file")};
    // The data is too long to keep: the question is asked, No keeps the stored data, the exit goes on.
    QTest::newRow("conversion, close box")
        << QStringLiteral("conversion") << false
        << QStringList{QStringLiteral("Data=old"), QStringLiteral("Binary=True")};
}

void tst_SendEntries::exitStopsAndSavesSendWindows()
{
    QFETCH(QString, work);
    QFETCH(bool, exitMenu);
    QFETCH(QStringList, stored);
    TempSettings settings;
    settings.writeIni("[StartUp]\nShowConfigurations=0\n[Send]\n0=before\n[Send\\0]\nData=old\n");
    ScriptedUi ui;
    QTemporaryDir dir;
    QFile big(dir.filePath(QStringLiteral("big.txt")));
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
        if (exitMenu)
            main.findChild<QAction *>(QStringLiteral("mnuExit"))->trigger();
        else
            main.close();
    };
    // Exits at the first events the work lets run.
    QTimer atWork;
    atWork.setInterval(0);
    connect(&atWork, &QTimer::timeout, this, [&] {
        if (!exited && w && w->isBusy())
            exit();
    });
    atWork.start();
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
    const auto questions =
        std::count_if(ui.prompts.cbegin(), ui.prompts.cend(),
                      [](const ScriptedUi::Prompt &p) { return p.kind == QLatin1String("question"); });
    QCOMPARE(questions, work == QLatin1String("conversion") ? 1 : 0);
    settings.reopen();
    QVERIFY(settings.store().contains(state, QStringLiteral("Modified")));
    for (const QString &kv : stored) {
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        QCOMPARE(settings.store().Read(state, kv.left(eq)),
                 kv.mid(eq + 1).replace(QStringLiteral("%file"), big.fileName()));
    }
}

QTEST_MAIN(tst_SendEntries)
#include "tst_sendentries.moc"
