#include "controller/mainwindowfixture.h"
#include "display/datatextview.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "logging/frmstate.h"
#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "setup/frmalmanac.h"
#include "ui/userfont.h"

#include <QAction>
#include <QLabel>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

class TestCompanions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        // Opening the options window made an options model; the next test starts without it.
        qDeleteAll(QCoreApplication::instance()->findChildren<OptionsModel *>(Qt::FindDirectChildrenOnly));
    }
    void buttonsOpenTheirWindows();
    void fontReachesEveryDataWindow();
    void almanacChoiceFillsItsBox_data();
    void almanacChoiceFillsItsBox();
};

// The entries that were greyed out before these windows existed now open them.
void TestCompanions::buttonsOpenTheirWindows()
{
    MainWindow m;
    frmTarnwell &w = *m.w;
    for (int tab : {0, 1}) {
        QVERIFY(w.tabs[tab].cmdProtocols->isEnabled());
        w.tabs[tab].cmdProtocols->click();
        QVERIFY(w.protocolsWindow() && w.protocolsWindow()->isVisible());
        w.protocolsWindow()->cmdClose->click(); // closing only hides
        QVERIFY(!w.protocolsWindow()->isVisible());
    }
    frmSend *send = frmSend::OpenNewWindow();
    send->cmdPreferences->click();
    QVERIFY(frmOptions::instance() && frmOptions::instance()->isVisible());
    // A separator's details button shows its own viewer, as characters.
    frmOptions::instance()->cmdMessageDetails->click();
    auto *viewer = frmOptions::instance()->findChild<frmDetails *>();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->representation(), DetailsLayout::Chr);
    QCOMPARE(viewer->currentText(), QByteArray("\r\n"));
    frmOptions::instance()->cmdOK->click();
    QVERIFY(!viewer->isVisible());
    w.protocolsWindow()->cmdPreferences->click();
    QVERIFY(frmOptions::instance()->isVisible());
    delete send;
}

// A font chosen in the options window reaches every data window open at
// that moment, and every data window opened afterwards.
void TestCompanions::fontReachesEveryDataWindow()
{
    MainWindow m;
    frmTarnwell &w = *m.w;
    frmSend *before = frmSend::OpenNewWindow();
    w.eventHistory()->show();
    frmProtocol *protocols = w.protocols();
    protocols->show();

    // The Options entry opens the window; the label names the font in use.
    auto *entry = w.findChild<QAction *>(QStringLiteral("mnuOptions"));
    QVERIFY(entry->isEnabled());
    entry->trigger();
    frmOptions *options = frmOptions::instance();
    QVERIFY(options && options->isVisible());
    QCOMPARE(options->lblFont->text(), UserFont::describe(w.tabs[0].txtReceived->font()));

    QFont chosen(QStringLiteral("DejaVu Serif"), 13);
    chosen.setItalic(true);
    m.ui.fontAnswers.enqueue(chosen);
    options->cmdOpenFont->click();
    QCOMPARE(options->lblFont->text(), QFontInfo(chosen).family() + QStringLiteral(", 13pt, Italic"));

    frmSend *after = frmSend::OpenNewWindow();
    after->cmdDetails->click(); // its viewer, opened later still
    QList<std::pair<QString, QFont>> fonts;
    for (int i = 0; i < 3; ++i) {
        fonts.append({QStringLiteral("list %1").arg(i), w.tabs[i].lvwReceived->font()});
        fonts.append({QStringLiteral("text view %1").arg(i), w.tabs[i].txtReceived->font()});
    }
    fonts.append({QStringLiteral("send window open before"), before->txtSend->font()});
    fonts.append({QStringLiteral("send window opened after"), after->txtSend->font()});
    fonts.append({QStringLiteral("event history"), w.eventHistory()->list()->font()});
    fonts.append({QStringLiteral("hidden state history"), w.clientStateHistory()->list()->font()});
    fonts.append({QStringLiteral("protocol message"), protocols->txtMessage->font()});
    fonts.append({QStringLiteral("received details"), w.receivedDetails()->txtDetails->font()});
    fonts.append({QStringLiteral("send window's details"), after->details()->txtDetails->font()});
    fonts.append({QStringLiteral("protocols' details"), protocols->details()->txtDetails->font()});
    for (const auto &[where, font] : fonts)
        QVERIFY2(font == chosen, qPrintable(where));
    delete before;
    delete after;
}

void TestCompanions::almanacChoiceFillsItsBox_data()
{
    QTest::addColumn<QString>("button"); // object name of the "..." button
    QTest::addColumn<QString>("box");    // the box it fills
    QTest::addColumn<QString>("answer"); // "ok", "cancel" or "close"
    QTest::addColumn<QString>("expected");

    QTest::newRow("cmdServer(0) OK") << "cmdServer_0"
                                     << "txtServer_0"
                                     << "ok"
                                     << "a.example";
    QTest::newRow("cmdServer(2) OK") << "cmdServer_2"
                                     << "txtServer_2"
                                     << "ok"
                                     << "a.example";
    QTest::newRow("cmdServer(0) close box") << "cmdServer_0"
                                            << "txtServer_0"
                                            << "close"
                                            << "before";
    QTest::newRow("cmdPort(0) OK") << "cmdPort_0"
                                   << "txtPortConnectTo_0"
                                   << "ok"
                                   << "110";
    QTest::newRow("cmdPort(1) OK") << "cmdPort_1"
                                   << "txtPort_1"
                                   << "ok"
                                   << "110";
    QTest::newRow("cmdPort(2) OK") << "cmdPort_2"
                                   << "txtPortConnectTo_2"
                                   << "ok"
                                   << "110";
    QTest::newRow("cmdPort(3) OK") << "cmdPort_3"
                                   << "txtPort_2"
                                   << "ok"
                                   << "110";
    QTest::newRow("cmdPort(3) Cancel") << "cmdPort_3"
                                       << "txtPort_2"
                                       << "cancel"
                                       << "before";
}

// The "..." buttons show an almanac over the main window; the choice goes
// into the box beside the button, Cancel and the close box leave it alone.
void TestCompanions::almanacChoiceFillsItsBox()
{
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, answer);
    QFETCH(QString, expected);

    MainWindow m;
    for (const auto &[name, text] : {std::pair{"Servers.txt", "b.example,Web,B\na.example,Web,A\n"},
                                     std::pair{"Ports.txt", "110,POP3\n21,FTP\n"}}) {
        QFile f(m.settings.dir() + QLatin1Char('/') + QLatin1String(name)); // the user's copies
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    auto *target = m.w->findChild<QLineEdit *>(box);
    target->setText(QStringLiteral("before"));
    m.w->findChild<QPushButton *>(button)->click();
    frmAlmanac *almanac = button.startsWith(QLatin1String("cmdServer"))
                              ? static_cast<frmAlmanac *>(m.w->findChild<frmServer *>())
                              : m.w->findChild<frmPort *>();
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

QTEST_MAIN(TestCompanions)
#include "tst_companions.moc"
