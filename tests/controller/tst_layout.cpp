#include "controller/frmabout.h"
#include "controller/frmnotabchange.h"
#include "controller/frmsplash.h"
#include "controller/mainwindowfixture.h"
#include "controller/mainwizardhost.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/supportclass.h"
#include "logging/frmevent.h"
#include "logging/frmlogging.h"
#include "logging/frmstate.h"
#include "logging/historymodel.h"
#include "options/frmoptions.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "setup/frmconfigurations.h"
#include "setup/frminstruction.h"
#include "ui/frmhelp.h"
#include "ui/frmwait.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QTabBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>

namespace {
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

// "where: control 'caption' needs n, has m" for the title and every visible caption that is cut.
QStringList cutCaptions(QWidget *window, const QString &where)
{
    QStringList cut;
    auto check = [&](const QString &name, const QString &caption, int need, int has) {
        if (need > has)
            cut << QStringLiteral("%1: %2 '%3' needs %4, has %5")
                       .arg(where, name, caption)
                       .arg(need)
                       .arg(has);
    };
    // A title bar shows the title beside the window's icon and its buttons
    // (minimise, maximise, close): roughly 28 pixels each, and a margin.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
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
                cut << QStringLiteral("%1: %2 overlaps %3").arg(where, w->objectName(), o->objectName());
        }
    }
    return cut;
}

// Every face of a window at its default size and at its smallest: each page
// of each of its tab bars, and each title it takes (a details viewer's
// representations, the help's pages).
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
    window->show();
    QApplication::processEvents();
    const QSize normal = window->size();
    for (const auto &[face, show] : faces) {
        for (const QSize size : {normal, window->minimumSize()}) {
            show();
            window->resize(size);
            QApplication::processEvents();
            cut += cutCaptions(window, window->objectName() + QLatin1Char('/') + face +
                                           (size == normal ? QString() : QStringLiteral(" (smallest)")));
        }
    }
    window->hide();
    return cut;
}
} // namespace

class TestLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void gaugeTextMovesNothing();
    void everyCaptionIsWhole();
    void cutHistoryRowsTellTheirWholeText();
    void mainWindowCaptionAndCover();
};

// A click meant for Pause must never land on Clear because the gauge's text
// appeared in between.
void TestLayout::gaugeTextMovesNothing()
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
}

void TestLayout::everyCaptionIsWhole()
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
    // (The server and port almanacs join this list when they land.)
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
                                   wait};
    QStringList cut;
    for (QWidget *window : windows)
        cut += checkAtSizes(window);
    cut.removeDuplicates();
    qDeleteAll(frmSend::openWindows());
    delete frmOptions::instance();
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
}

void TestLayout::cutHistoryRowsTellTheirWholeText()
{
    MainWindow m;
    frmEvent *history = m.w->eventHistory();
    const QString whole =
        QStringLiteral("An event far longer than its column: ") + QString(200, QLatin1Char('x'));
    history->AddEvent(whole);
    history->show();
    QApplication::processEvents();
    const QModelIndex cell =
        history->model()->index(history->rowCount() - 1, history->model()->columnCount() - 1);
    QCOMPARE(cell.data().toString(), whole);
    const QRect shown = history->list()->visualRect(cell);
    QVERIFY(shown.width() < history->list()->fontMetrics().horizontalAdvance(whole));
    QHelpEvent help(QEvent::ToolTip, shown.center(),
                    history->list()->viewport()->mapToGlobal(shown.center()));
    QApplication::sendEvent(history->list()->viewport(), &help);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), whole);
}

// Minimised, the caption names the mode; a size change covers the controls
// until it has settled.
void TestLayout::mainWindowCaptionAndCover()
{
    MainWindow m(2);
    m.w->show();
    m.w->showMinimized();
    QTRY_COMPARE(m.w->windowTitle(), QStringLiteral("TWL (Pass Through)"));
    m.w->showNormal();
    QTRY_COMPARE(m.w->windowTitle(), QStringLiteral("Tarnwell"));
    auto *cover = m.w->findChild<QPushButton *>(QStringLiteral("cmdFormHide"));
    m.w->resize(m.w->width() + 40, m.w->height() + 40);
    QVERIFY(cover->isVisible());
    QTRY_VERIFY(!cover->isVisible());
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
