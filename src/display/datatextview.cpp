#include "display/datatextview.h"

#include "core/bytes.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace {
// Appends gather for this long before the document is updated.
constexpr int kRenderDelayMs = 15;
// Bytes put into the document per turn of the event loop.
constexpr qsizetype kRenderSliceBytes = 64 * 1024;
} // namespace

DataTextView::DataTextView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    setFont(font);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    m_renderTimer.setSingleShot(true);
    connect(&m_renderTimer, &QTimer::timeout, this, &DataTextView::renderSlice);
}

QColor DataTextView::colour(bool incoming)
{
    return incoming ? QColor(255, 0, 0) : QColor(0, 0, 255);
}

void DataTextView::append(const QByteArray &escapedText, bool incoming)
{
    if (escapedText.isEmpty())
        return;
    if (m_stretches.empty() || m_stretches.back().incoming != incoming)
        m_stretches.push_back({m_bytes.size(), incoming});
    m_bytes.append(escapedText);
    scheduleRender();
}

void DataTextView::clear()
{
    m_renderTimer.stop();
    m_bytes.clear();
    m_stretches.clear();
    m_blockStart.assign(1, 0);
    m_rendered = 0;
    m_hintPosition = -1;
    // A view that is cleared faster than it is drawn (a flood over the size
    // limit) has an empty document already; emptying it again costs a new
    // document layout each time.
    if (!document()->isEmpty())
        QPlainTextEdit::clear();
}

bool DataTextView::isIncomingAt(qsizetype offset) const
{
    const auto it = std::upper_bound(m_stretches.begin(), m_stretches.end(), offset,
                                     [](qsizetype o, const Stretch &s) { return o < s.start; });
    return it == m_stretches.begin() ? true : std::prev(it)->incoming;
}

void DataTextView::scheduleRender()
{
    // A hidden view catches up when it is shown.
    if (isVisible() && !m_renderTimer.isActive())
        m_renderTimer.start(kRenderDelayMs);
}

void DataTextView::renderSlice()
{
    renderUpTo(std::min(m_bytes.size(), m_rendered + kRenderSliceBytes));
    if (hasPendingRender() && isVisible())
        m_renderTimer.start(0);
}

void DataTextView::renderAll()
{
    m_renderTimer.stop();
    renderUpTo(m_bytes.size());
}

void DataTextView::renderUpTo(qsizetype end)
{
    if (end <= m_rendered)
        return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    const char *bytes = m_bytes.constData();
    auto stretch = std::upper_bound(m_stretches.begin(), m_stretches.end(), m_rendered,
                                    [](qsizetype o, const Stretch &s) { return o < s.start; });
    QString text;
    qsizetype at = m_rendered;
    while (at < end) {
        // One stretch of one direction at a time, each with its colour.
        const bool incoming = stretch == m_stretches.begin() ? true : std::prev(stretch)->incoming;
        const qsizetype stretchEnd = stretch == m_stretches.end() ? end : std::min(end, stretch->start);
        text.clear();
        text.reserve(stretchEnd - at);
        for (; at < stretchEnd; ++at) {
            const char c = bytes[at];
            if (c == '\n' && at > 0 && bytes[at - 1] == '\r') {
                // The second half of a CR LF: its line already ended.
                m_blockStart.back() = at + 1;
            } else if (c == '\r' || c == '\n') {
                text.append(QLatin1Char('\n'));
                m_blockStart.push_back(at + 1);
            } else {
                text.append(QChar(char16_t(uchar(c))));
            }
        }
        if (!text.isEmpty()) {
            QTextCharFormat format;
            format.setForeground(colour(incoming));
            cursor.insertText(text, format);
        }
        if (stretch != m_stretches.end() && at >= stretch->start)
            ++stretch;
    }
    cursor.endEditBlock();
    m_rendered = end;
    m_hintPosition = -1;
    moveCursor(QTextCursor::End);
}

qsizetype DataTextView::offsetOfPosition(int position) const
{
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return m_rendered;
    const size_t number = size_t(block.blockNumber());
    if (number >= m_blockStart.size())
        return m_rendered;
    return std::min(m_rendered, m_blockStart[number] + (position - block.position()));
}

int DataTextView::positionOfOffset(qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, m_rendered);
    const auto it = std::upper_bound(m_blockStart.begin(), m_blockStart.end(), offset);
    const int number = int(std::distance(m_blockStart.begin(), it)) - 1;
    const QTextBlock block = document()->findBlockByNumber(number);
    if (!block.isValid())
        return document()->characterCount() - 1;
    const qsizetype column = std::min<qsizetype>(offset - m_blockStart[size_t(number)], block.length() - 1);
    return block.position() + int(column);
}

qsizetype DataTextView::caretOffset()
{
    renderAll();
    const int position = textCursor().position();
    if (position == m_hintPosition)
        return m_hintOffset;
    return offsetOfPosition(position);
}

void DataTextView::setCaretOffset(qsizetype offset)
{
    renderAll();
    offset = std::clamp<qsizetype>(offset, 0, m_bytes.size());
    QTextCursor cursor = textCursor();
    cursor.setPosition(positionOfOffset(offset));
    setTextCursor(cursor);
    m_hintPosition = cursor.position();
    m_hintOffset = offset;
}

QByteArray DataTextView::textAfterCaret(qsizetype max)
{
    // A double click selects a word and leaves the caret at its end; the
    // stretch begins where the selection does.
    renderAll();
    const QTextCursor cursor = textCursor();
    const qsizetype from = cursor.hasSelection() ? offsetOfPosition(cursor.selectionStart()) : caretOffset();
    return m_bytes.mid(from, std::max<qsizetype>(0, max));
}

void DataTextView::SetUserFont(const QFont &font)
{
    setFont(font);
}

void DataTextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    Q_EMIT doubleClicked();
}

void DataTextView::showEvent(QShowEvent *event)
{
    QPlainTextEdit::showEvent(event);
    if (hasPendingRender())
        m_renderTimer.start(0);
}

QMimeData *DataTextView::createMimeDataFromSelection() const
{
    // Copy the bytes behind the selection, so line breaks keep their form.
    const QTextCursor cursor = textCursor();
    const qsizetype from = offsetOfPosition(cursor.selectionStart());
    const qsizetype to = offsetOfPosition(cursor.selectionEnd());
    auto *mime = new QMimeData;
    mime->setText(Bytes::toText(QByteArrayView(m_bytes).sliced(from, std::max<qsizetype>(0, to - from))));
    return mime;
}
