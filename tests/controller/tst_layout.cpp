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
#include "options/optionsmodel.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "setup/frmconfigurations.h"
#include "setup/frminstruction.h"
#include "ui/frmhelp.h"
#include "ui/frmwait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>
#include <functional>

namespace {

QString plain(QString caption)
{
    caption.remove(QLatin1Char('&'));
    return caption;
}

// The width a control needs to show its caption whole, or -1 when it shows
// none (icon buttons, empty or rich-text labels, labels that wrap).
int neededWidth(QWidget *w)
{
    const QFontMetrics fm = w->fontMetrics();
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (label->text().isEmpty() || label->wordWrap() || Qt::mightBeRichText(label->text()))
            return -1;
        return fm.horizontalAdvance(plain(label->text())) + 2 * label->margin() + 2 * label->frameWidth();
    }
    if (auto *check = qobject_cast<QCheckBox *>(w))
        return check->text().isEmpty() ? -1 : check->minimumSizeHint().width();
    if (auto *radio = qobject_cast<QRadioButton *>(w))
        return radio->text().isEmpty() ? -1 : radio->minimumSizeHint().width();
    if (auto *box = qobject_cast<QGroupBox *>(w))
        return box->title().isEmpty() ? -1 : fm.horizontalAdvance(plain(box->title())) + 16;
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        if (button->text().isEmpty())
            return -1;
        // The text and the bevel around it; the style's preferred minimum
        // width is a wish, not a need.
        const QStyle *style = button->style();
        return fm.horizontalAdvance(plain(button->text())) +
               2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) / 2 +
                    style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button)) +
               (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
    }
    return -1;
}

// A title bar shows the title beside the window's icon and its buttons
// (minimise, maximise, close): roughly 28 pixels each, and a margin.
int titleNeed(const QWidget *window)
{
    QFont font = QApplication::font();
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(window->windowTitle()) + 4 * 28 + 16;
}

// "window: control 'caption' needs n, has m" for every visible caption that is cut.
QStringList cutCaptions(QWidget *window, const QString &where)
{
    QStringList cut;
    const bool titled = !(window->windowFlags() & Qt::FramelessWindowHint);
    if (titled && window->width() < titleNeed(window))
        cut << QStringLiteral("%1: title '%2' needs %3, has %4")
                   .arg(where, window->windowTitle())
                   .arg(titleNeed(window))
                   .arg(window->width());
    const auto controls = window->findChildren<QWidget *>();
    for (QWidget *w : controls) {
        if (!w->isVisibleTo(window) || w->window() != window)
            continue;
        const int need = neededWidth(w);
        if (need > w->width()) {
            const auto *label = qobject_cast<QLabel *>(w);
            const auto *box = qobject_cast<QGroupBox *>(w);
            const QString caption = label ? label->text()
                                    : box ? box->title()
                                          : qobject_cast<QAbstractButton *>(w)->text();
            cut << QStringLiteral("%1: %2 '%3' needs %4, has %5")
                       .arg(where, w->objectName(), caption)
                       .arg(need)
                       .arg(w->width());
        }
    }
    return cut;
}

using Open = std::function<QWidget *(frmTarnwell &)>;

// The faces a window shows: each page of each of its tab bars, and each
// title it takes: a details viewer's representations, the help's pages.
QList<std::pair<QString, std::function<void()>>> facesOf(QWidget *window)
{
    QList<std::pair<QString, std::function<void()>>> faces{{QString(), [] {}}};
    for (QTabBar *bar : window->findChildren<QTabBar *>()) {
        for (int i = 0; i < bar->count(); ++i)
            faces.append({bar->tabText(i), [bar, i] { bar->setCurrentIndex(i); }});
    }
    if (auto *details = qobject_cast<frmDetails *>(window)) {
        for (int r = 0; r < DetailsLayout::kRepresentationCount; ++r)
            faces.append({frmDetails::captionOf(frmDetails::Representation(r)),
                          [details, r] { details->setRepresentation(frmDetails::Representation(r)); }});
    }
    if (auto *contents = window->findChild<QListWidget *>(QStringLiteral("lstContents"))) {
        for (int i = 0; i < contents->count(); ++i)
            faces.append({contents->item(i)->text(),
                          [contents, i] { Q_EMIT contents->itemClicked(contents->item(i)); }});
    }
    return faces;
}

// Every face at the window's default size and at its minimum size.
QStringList checkAtSizes(QWidget *window)
{
    QStringList cut;
    window->show();
    QApplication::processEvents();
    const QSize normal = window->size();
    for (const auto &[face, show] : facesOf(window)) {
        for (const QSize size : {normal, window->minimumSize()}) {
            show();
            window->resize(size);
            QApplication::processEvents();
            cut += cutCaptions(window, window->objectName() +
                                           (face.isEmpty() ? QString() : QLatin1Char('/') + face) +
                                           (size == normal ? QString() : QStringLiteral(" (smallest)")));
        }
    }
    cut.removeDuplicates();
    return cut;
}
} // namespace

Q_DECLARE_METATYPE(Open)

class TestLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        // The options window made an options model; the next row starts without it.
        qDeleteAll(frmSend::openWindows());
        delete frmOptions::instance();
        qDeleteAll(QCoreApplication::instance()->findChildren<OptionsModel *>(Qt::FindDirectChildrenOnly));
    }
    void gaugeTextMovesNothing();
    void everyCaptionIsWhole_data();
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

void TestLayout::everyCaptionIsWhole_data()
{
    // Each window the program can open, made as the program makes it.
    QTest::addColumn<Open>("open");
    QTest::newRow("main window") << Open([](frmTarnwell &w) -> QWidget * { return &w; });
    QTest::newRow("splash") << Open([](frmTarnwell &w) -> QWidget * { return new frmSplash(&w); });
    QTest::newRow("send") << Open([](frmTarnwell &) -> QWidget * { return frmSend::OpenNewWindow(); });
    QTest::newRow("options") << Open([](frmTarnwell &) -> QWidget * { return frmOptions::open(); });
    QTest::newRow("protocols") << Open([](frmTarnwell &w) -> QWidget * { return w.protocols(); });
    QTest::newRow("logging") << Open([](frmTarnwell &w) -> QWidget * { return w.logging(); });
    QTest::newRow("filter") << Open([](frmTarnwell &w) -> QWidget * { return w.filter(); });
    QTest::newRow("details") << Open([](frmTarnwell &w) -> QWidget * { return w.receivedDetails(); });
    QTest::newRow("event history") << Open([](frmTarnwell &w) -> QWidget * { return w.eventHistory(); });
    QTest::newRow("client state history")
        << Open([](frmTarnwell &w) -> QWidget * { return w.clientStateHistory(); });
    QTest::newRow("server state history")
        << Open([](frmTarnwell &w) -> QWidget * { return w.serverStateHistory(); });
    QTest::newRow("about") << Open([](frmTarnwell &w) -> QWidget * { return new frmAbout(&w); });
    QTest::newRow("help") << Open([](frmTarnwell &) -> QWidget * {
        frmHelp::shared()->showTopics();
        return frmHelp::shared();
    });
    QTest::newRow("configurations") << Open([](frmTarnwell &w) -> QWidget * {
        return new frmConfigurations(std::make_unique<MainWizardHost>(&w), &w);
    });
    QTest::newRow("instruction step") << Open([](frmTarnwell &w) -> QWidget * {
        auto *step = new frmInstruction(&w);
        // The longest caption and button of the set-ups.
        step->setWindowTitle(QStringLiteral("Web Browser Setup (via Proxy) - Step 6"));
        step->lblDescription->setText(
            QStringLiteral("Tarnwell is now going to attempt to connect to the proxy."));
        step->cmdCommand->setText(QStringLiteral("Next >>"));
        return step;
    });
    QTest::newRow("no tab change") << Open(
        [](frmTarnwell &w) -> QWidget * { return new frmNoTabChange(&w); });
    QTest::newRow("progress") << Open([](frmTarnwell &w) -> QWidget * {
        auto *wait = new frmWait(&w);
        wait->setLabel(QStringLiteral("Loading and parsing the file..."));
        return wait;
    });
    // The server and port almanacs join this table when they land.
}

void TestLayout::everyCaptionIsWhole()
{
    QFETCH(Open, open);
    MainWindow m;
    QWidget *window = open(*m.w);
    QVERIFY(window);
    const QStringList cut = checkAtSizes(window);
    window->hide();
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
