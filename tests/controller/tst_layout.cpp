#include "controller/mainwindowfixture.h"
#include "display/supportclass.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QtTest>

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

// "window: control 'caption' needs n, has m" for every visible caption that is cut.
QStringList cutCaptions(QWidget *window)
{
    QStringList cut;
    const auto controls = window->findChildren<QWidget *>();
    for (QWidget *w : controls) {
        if (!w->isVisibleTo(window) || w->window() != window)
            continue;
        const int need = neededWidth(w);
        if (need > w->width()) {
            const QString caption = qobject_cast<QLabel *>(w) ? qobject_cast<QLabel *>(w)->text()
                                                              : qobject_cast<QAbstractButton *>(w)->text();
            cut << QStringLiteral("%1: %2 '%3' needs %4, has %5")
                       .arg(window->objectName(), w->objectName(), caption)
                       .arg(need)
                       .arg(w->width());
        }
    }
    return cut;
}

QStringList checkAtSizes(QWidget *window)
{
    QStringList cut;
    window->show();
    QApplication::processEvents();
    cut += cutCaptions(window); // default size
    window->resize(window->minimumSize());
    QApplication::processEvents();
    cut += cutCaptions(window);
    return cut;
}
} // namespace

class TestLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void gaugeTextMovesNothing();
    void everyCaptionIsWhole();
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
    QStringList cut;
    for (int tab = 0; tab < 3; ++tab) {
        m.w->tabMode->setCurrentIndex(tab);
        cut += checkAtSizes(m.w.get());
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
