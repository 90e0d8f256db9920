#include "controller/mainwindowfixture.h"
#include "display/datatextview.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "logging/frmstate.h"
#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "ui/userfont.h"

#include <QAction>
#include <QLabel>
#include <QToolButton>
#include <QTreeView>

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

QTEST_MAIN(TestCompanions)
#include "tst_companions.moc"
