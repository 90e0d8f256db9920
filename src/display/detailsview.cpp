#include "display/detailsview.h"

#include "core/bytes.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int kMargin = 3;
// Scanned at once for a new text: far more than a screen of rows needs.
constexpr qsizetype kFirstScreenBytes = 256 * 1024;
// The rest is scanned in steps of this size, for at most a slice of time
// per turn of the event loop.
constexpr qsizetype kScanStepBytes = 128 * 1024;
constexpr qint64 kSliceMs = 8;
} // namespace

DetailsView::DetailsView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    m_layout.setText(QByteArray(), DetailsLayout::WYSIWYG, rowCharsForWidth());
    m_layoutTimer.setSingleShot(true);
    connect(&m_layoutTimer, &QTimer::timeout, this, &DetailsView::layOutSlice);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    // Where the user scrolls wins over a place still waiting for the scan.
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { m_pendingByte = -1; });
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    setFont(font);
}

void DetailsView::setContent(const QByteArray &text, DetailsLayout::Representation representation)
{
    m_layout.setText(text, representation, rowCharsForWidth());
    m_anchor = m_cursor = {};
    m_widest = 0;
    m_pendingByte = -1;
    m_layout.layOutSome(kFirstScreenBytes);
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    if (!m_layout.complete())
        m_layoutTimer.start(0);
    viewport()->update();
}

QByteArray DetailsView::renderedText() const
{
    return m_layout.textBetween({}, m_layout.end());
}

QByteArray DetailsView::selectedText() const
{
    return m_layout.textBetween(m_anchor, m_cursor);
}

void DetailsView::selectAll()
{
    m_anchor = {};
    m_cursor = m_layout.end();
    viewport()->update();
}

void DetailsView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(Bytes::toText(selectedText()));
}

qsizetype DetailsView::topRow() const
{
    return verticalScrollBar()->value();
}

void DetailsView::finishLayout()
{
    m_layoutTimer.stop();
    while (!m_layout.layOutSome(kScanStepBytes)) {
    }
    updateScrollBars();
    revealPendingByte();
    viewport()->update();
}

int DetailsView::rowCharsForWidth() const
{
    // The widest character the codes and escapes use, measured over a run of
    // them: advances are fractional, and a row of codes adds them up.
    const QFontMetricsF metrics(font());
    qreal charWidth = 1;
    for (const char c : {'0', '8', 'A', 'B', 'C', 'D', 'E', 'F', '\\'})
        charWidth = std::max(charWidth, metrics.horizontalAdvance(QString(32, QLatin1Char(c))) / 32);
    return std::max(1, int((viewport()->width() - 2 * kMargin) / charWidth));
}

int DetailsView::visibleRows() const
{
    return std::max(1, (viewport()->height() - kMargin) / std::max(1, fontMetrics().lineSpacing()));
}

void DetailsView::relayout()
{
    const int rowChars = std::max(9, rowCharsForWidth());
    if (rowChars != m_layout.rowChars()) {
        // The first byte on screen stays on screen, once the scan finds it.
        const qsizetype topByte = m_pendingByte >= 0 ? m_pendingByte : m_layout.rowStart(topRow());
        m_layout.setRowChars(rowChars);
        m_layout.layOutSome(kFirstScreenBytes);
        m_widest = 0;
        updateScrollBars();
        scrollToByte(topByte);
        if (!m_layout.complete())
            m_layoutTimer.start(0);
    } else {
        updateScrollBars();
    }
    viewport()->update();
}

void DetailsView::layOutSlice()
{
    QElapsedTimer slice;
    slice.start();
    while (!m_layout.layOutSome(kScanStepBytes) && slice.elapsed() < kSliceMs) {
    }
    updateScrollBars();
    revealPendingByte();
    if (!m_layout.complete())
        m_layoutTimer.start(0);
    viewport()->update();
}

void DetailsView::scrollToByte(qsizetype byte)
{
    m_pendingByte = byte;
    revealPendingByte();
}

void DetailsView::revealPendingByte()
{
    if (m_pendingByte < 0 || !m_layout.covers(m_pendingByte))
        return;
    // Rows below it fill the screen too, unless the text ends first.
    const qsizetype row = m_layout.rowOf({m_pendingByte, 0});
    if (!m_layout.complete() && row > verticalScrollBar()->maximum())
        return;
    m_pendingByte = -1;
    verticalScrollBar()->setValue(int(row));
}

void DetailsView::updateScrollBars()
{
    QScrollBar *v = verticalScrollBar();
    const int rows = visibleRows();
    v->setRange(0, int(std::max<qsizetype>(0, m_layout.rowCount() - rows)));
    v->setPageStep(rows);
    v->setSingleStep(1);
    QScrollBar *h = horizontalScrollBar();
    const int width = viewport()->width();
    h->setRange(0, std::max(0, m_widest + 2 * kMargin - width));
    h->setPageStep(width);
    h->setSingleStep(std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0'))));
}

int DetailsView::xOfColumn(const QString &text, int column) const
{
    return fontMetrics().horizontalAdvance(text.left(column));
}

void DetailsView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QFontMetrics fm = fontMetrics();
    const int line = fm.lineSpacing();
    const qsizetype top = topRow();
    const qsizetype last = std::min(m_layout.rowCount(), top + visibleRows() + 1);
    const int x0 = kMargin - horizontalScrollBar()->value();
    const DetailsLayout::Position from = std::min(m_anchor, m_cursor);
    const DetailsLayout::Position to = std::max(m_anchor, m_cursor);
    const QPalette &pal = palette();
    int widest = m_widest;
    for (qsizetype row = top; row < last; ++row) {
        const QString text = m_layout.rowText(row);
        const int y = kMargin + int(row - top) * line;
        const int baseline = y + fm.ascent();
        widest = std::max(widest, fm.horizontalAdvance(text));
        painter.setPen(pal.color(QPalette::Text));
        painter.drawText(x0, baseline, text);
        if (!hasSelection())
            continue;
        const int c1 = m_layout.columnOf(row, from);
        const int c2 = m_layout.columnOf(row, to);
        // A selection that goes on past the row's end shows a blank's width
        // beyond it, as a text box marks a selected line break.
        const DetailsLayout::Position rowEnd = m_layout.positionAt(row, int(text.size()));
        const bool goesOn = row + 1 < m_layout.rowCount() && from <= rowEnd && to > rowEnd;
        if (c1 >= c2 && !goesOn)
            continue;
        const int x1 = x0 + xOfColumn(text, c1);
        const int x2 = x0 + xOfColumn(text, c2) + (goesOn ? fm.horizontalAdvance(QLatin1Char(' ')) : 0);
        painter.fillRect(QRect(x1, y, x2 - x1, line), pal.color(QPalette::Highlight));
        painter.setPen(pal.color(QPalette::HighlightedText));
        painter.drawText(x1, baseline, text.mid(c1, c2 - c1));
    }
    if (widest != m_widest) {
        m_widest = widest;
        QMetaObject::invokeMethod(
            this, [this] { updateScrollBars(); }, Qt::QueuedConnection);
    }
}

void DetailsView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void DetailsView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_widest = 0;
        relayout();
    }
}

DetailsLayout::Position DetailsView::positionAtPoint(const QPoint &point)
{
    const int line = std::max(1, fontMetrics().lineSpacing());
    const int offset = point.y() - kMargin;
    const qsizetype row =
        std::clamp<qsizetype>(topRow() + (offset < 0 ? -1 : offset / line), 0, m_layout.rowCount() - 1);
    const QString text = m_layout.rowText(row);
    const int x = point.x() - (kMargin - horizontalScrollBar()->value());
    const QFontMetrics fm = fontMetrics();
    int column = 0;
    int left = 0;
    for (; column < text.size(); ++column) {
        const int width = fm.horizontalAdvance(text.at(column));
        if (x < left + width / 2)
            break;
        left += width;
    }
    return m_layout.positionAt(row, column);
}

void DetailsView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const DetailsLayout::Position p = positionAtPoint(event->position().toPoint());
    m_cursor = p;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = p;
    viewport()->update();
}

void DetailsView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint point = event->position().toPoint();
    // Dragging beyond the edge scrolls a row at a time.
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    m_cursor = positionAtPoint(point);
    viewport()->update();
}

void DetailsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The word under the pointer: a run of characters between blanks.
    const DetailsLayout::Position p = positionAtPoint(event->position().toPoint());
    const qsizetype row = m_layout.rowOf(p);
    const QString text = m_layout.rowText(row);
    int begin = std::min(m_layout.columnOf(row, p), int(text.size()));
    int end = begin;
    while (begin > 0 && text.at(begin - 1) != QLatin1Char(' '))
        --begin;
    while (end < text.size() && text.at(end) != QLatin1Char(' '))
        ++end;
    m_anchor = m_layout.positionAt(row, begin);
    m_cursor = m_layout.positionAt(row, end);
    viewport()->update();
}

void DetailsView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->key() == Qt::Key_Home) {
        m_pendingByte = -1;
        verticalScrollBar()->setValue(0);
    } else if (event->key() == Qt::Key_End) {
        m_pendingByte = -1;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        if (!m_layout.complete())
            scrollToByte(m_layout.text().size());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void DetailsView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("&Copy"));
    copyAction->setEnabled(hasSelection());
    connect(copyAction, &QAction::triggered, this, [this] { copy(); });
    connect(menu.addAction(QStringLiteral("Select &All")), &QAction::triggered, this,
            [this] { selectAll(); });
    menu.exec(event->globalPos());
}
