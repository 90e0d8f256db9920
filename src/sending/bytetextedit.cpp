#include "sending/bytetextedit.h"

#include "core/bytes.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace {
constexpr int kMargin = 3;
constexpr int kRefreshMs = 50;

// What each byte looks like on the screen. Control bytes get a symbol of
// their own, drawn in its cell, so every byte keeps exactly one cell.
struct Glyphs
{
    QChar glyph[256];
    bool special[256];
    Glyphs()
    {
        for (int b = 0; b < 256; ++b) {
            special[b] = false;
            glyph[b] = QChar(b);
            if (b < 0x20) {
                glyph[b] = QChar(0x2400 + b); // control pictures
                special[b] = true;
            } else if (b == 0x7F) {
                glyph[b] = QChar(0x2421);
                special[b] = true;
            } else if (b >= 0x80 && b < 0xA0) {
                glyph[b] = QChar(0xFFFD);
                special[b] = true;
            } else if (b == 0xAD) {
                // A soft hyphen may be drawn with no width at all.
                glyph[b] = QChar(0x2010);
                special[b] = true;
            }
        }
    }
};
const Glyphs &glyphs()
{
    static const Glyphs g;
    return g;
}

bool isWordByte(char c)
{
    const auto u = uchar(c);
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' ||
           u >= 0xC0;
}
} // namespace

ByteTextEdit::ByteTextEdit(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, true);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // A scroll bar that comes and goes would change the wrap width and loop.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_blink.setInterval(QApplication::cursorFlashTime() > 0 ? QApplication::cursorFlashTime() / 2 : 500);
    connect(&m_blink, &QTimer::timeout, this, [this] {
        m_caretShown = !m_caretShown;
        viewport()->update();
    });
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &ByteTextEdit::flushView);
    updateMetrics();
}

ByteTextEdit::~ByteTextEdit() = default;

// ---------------------------------------------------------------- content

void ByteTextEdit::setData(const QByteArray &bytes)
{
    const bool same = bytes == m_data;
    m_data = bytes;
    m_lineStarts.assign(1, 0);
    const char *d = m_data.constData();
    const qsizetype n = m_data.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = d[i];
        if (c == '\n' || (c == '\r' && (i + 1 == n || d[i + 1] != '\n')))
            m_lineStarts.push_back(i + 1);
    }
    invalidateRowsFrom(0);
    m_caret = m_anchor = 0;
    m_goalColumn = -1;
    m_undo.clear();
    m_undoPos = 0;
    verticalScrollBar()->setValue(0);
    flushView();
    if (!same)
        Q_EMIT changed();
    Q_EMIT caretMoved();
}

void ByteTextEdit::appendData(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const qsizetype pos = m_data.size();
    const qsizetype firstDirty = pos > 0 ? lineOf(pos - 1) : 0;
    m_data.append(bytes);
    reindex(pos, 0, bytes.size());
    invalidateRowsFrom(firstDirty);
    // Earlier steps stay valid, but a load is not an edit one can take back.
    m_undo.clear();
    m_undoPos = 0;
    scheduleRefresh();
    Q_EMIT changed();
}

QString ByteTextEdit::text() const
{
    return Bytes::toText(m_data);
}

void ByteTextEdit::setText(const QString &text)
{
    setData(Bytes::fromText(text));
}

void ByteTextEdit::insertBytes(QByteArrayView bytes)
{
    if (m_readOnly)
        return;
    replaceRange(selectionStart(), selectionEnd() - selectionStart(), bytes, true);
}

void ByteTextEdit::insertText(const QString &text)
{
    insertBytes(Bytes::fromText(text));
}

QByteArray ByteTextEdit::selectedBytes() const
{
    return m_data.mid(selectionStart(), selectionEnd() - selectionStart());
}

void ByteTextEdit::selectAll()
{
    m_anchor = 0;
    m_caret = m_data.size();
    viewport()->update();
    Q_EMIT caretMoved();
}

void ByteTextEdit::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    viewport()->setCursor(readOnly ? Qt::ArrowCursor : Qt::IBeamCursor);
    viewport()->update();
}

void ByteTextEdit::setCaretPosition(qsizetype pos, bool keepAnchor)
{
    moveCaret(snap(std::clamp<qsizetype>(pos, 0, m_data.size()), true), keepAnchor);
}

// ---------------------------------------------------------------- editing core

void ByteTextEdit::replaceRange(qsizetype pos, qsizetype len, QByteArrayView bytes, bool record, bool typing)
{
    if (len == 0 && bytes.isEmpty())
        return;
    if (record) {
        m_undo.resize(m_undoPos);
        bool merged = false;
        if (typing && len == 0 && !m_undo.empty()) {
            Edit &last = m_undo.back();
            if (last.typing && last.removed.isEmpty() && last.pos + last.inserted.size() == pos) {
                last.inserted += bytes;
                merged = true;
            }
        }
        if (!merged)
            m_undo.push_back(Edit{pos, m_data.mid(pos, len), bytes.toByteArray(), m_caret, m_anchor, typing});
        m_undoPos = m_undo.size();
    }
    const qsizetype firstDirty = pos > 0 ? lineOf(pos - 1) : 0;
    m_data.replace(pos, len, bytes);
    reindex(pos, len, bytes.size());
    invalidateRowsFrom(firstDirty);
    m_caret = m_anchor = pos + bytes.size();
    m_goalColumn = -1;
    m_refresh.stop();
    m_viewDirty = false;
    updateScrollRange();
    ensureCaretVisible();
    viewport()->update();
    Q_EMIT changed();
    Q_EMIT caretMoved();
}

void ByteTextEdit::reindex(qsizetype pos, qsizetype removedLen, qsizetype insertedLen)
{
    // A line starts after LF, and after a CR that no LF follows. Whether y
    // starts a line depends on bytes y-1 and y only, so only the
    // starts from pos to just past the changed bytes can differ; the rest move.
    const qsizetype delta = insertedLen - removedLen;
    const qsizetype oldLast = pos + removedLen + 1;
    auto first = std::lower_bound(m_lineStarts.begin() + 1, m_lineStarts.end(), std::max<qsizetype>(pos, 1));
    auto last = std::upper_bound(first, m_lineStarts.end(), oldLast);
    if (delta != 0) {
        for (auto it = last; it != m_lineStarts.end(); ++it)
            *it += delta;
    }
    std::vector<qsizetype> found;
    const char *d = m_data.constData();
    const qsizetype size = m_data.size();
    const qsizetype scanEnd = std::min(size, pos + insertedLen + 1);
    for (qsizetype y = std::max<qsizetype>(pos, 1); y <= scanEnd; ++y) {
        const char prev = d[y - 1];
        if (prev == '\n' || (prev == '\r' && (y == size || d[y] != '\n')))
            found.push_back(y);
    }
    const auto at = first - m_lineStarts.begin();
    m_lineStarts.erase(first, last);
    m_lineStarts.insert(m_lineStarts.begin() + at, found.begin(), found.end());
}

qsizetype ByteTextEdit::lineOf(qsizetype pos) const
{
    auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), pos);
    return qsizetype(it - m_lineStarts.begin()) - 1;
}

qsizetype ByteTextEdit::lineEnd(qsizetype line) const
{
    return line + 1 < lineCount() ? m_lineStarts[size_t(line + 1)] : m_data.size();
}

qsizetype ByteTextEdit::lineLength(qsizetype line) const
{
    const qsizetype start = m_lineStarts[size_t(line)];
    qsizetype end = lineEnd(line);
    if (line + 1 < lineCount()) {
        // Every line but the last ends with its break: LF, CR LF or CR.
        if (m_data.at(end - 1) == '\n' && end - 2 >= start && m_data.at(end - 2) == '\r')
            end -= 2;
        else
            end -= 1;
    }
    return end - start;
}

void ByteTextEdit::invalidateRowsFrom(qsizetype line)
{
    m_rowsValid = std::min(m_rowsValid, std::max<qsizetype>(0, line));
}

void ByteTextEdit::ensureRows()
{
    const qsizetype n = lineCount();
    if (qsizetype(m_rowStarts.size()) != n + 1)
        m_rowStarts.resize(size_t(n + 1));
    m_rowStarts[0] = 0;
    for (qsizetype i = m_rowsValid; i < n; ++i)
        m_rowStarts[size_t(i + 1)] = m_rowStarts[size_t(i)] + rowsOfLine(i);
    m_rowsValid = n;
}

qsizetype ByteTextEdit::rowCount()
{
    ensureRows();
    return m_rowStarts.back();
}

QPoint ByteTextEdit::cellOf(qsizetype pos)
{
    ensureRows();
    pos = std::clamp<qsizetype>(pos, 0, m_data.size());
    const qsizetype line = lineOf(pos);
    const qsizetype j = std::min(pos - lineStart(line), lineLength(line));
    return QPoint(int(j % m_cols), int(m_rowStarts[size_t(line)] + j / m_cols));
}

qsizetype ByteTextEdit::rowPosition(qsizetype row, qsizetype col)
{
    ensureRows();
    row = std::clamp<qsizetype>(row, 0, m_rowStarts.back() - 1);
    auto it = std::upper_bound(m_rowStarts.begin(), m_rowStarts.end(), row);
    const qsizetype line = qsizetype(it - m_rowStarts.begin()) - 1;
    const qsizetype sub = row - m_rowStarts[size_t(line)];
    const qsizetype j = std::min(lineLength(line), sub * m_cols + std::clamp<qsizetype>(col, 0, m_cols));
    return lineStart(line) + j;
}

qsizetype ByteTextEdit::rowStartPos(qsizetype row)
{
    return rowPosition(row, 0);
}

qsizetype ByteTextEdit::positionAt(const QPoint &p)
{
    const qsizetype row = verticalScrollBar()->value() + qsizetype(std::floor(double(p.y()) / m_lineHeight));
    const qsizetype col = qsizetype(std::lround(std::max(0.0, (p.x() - kMargin) / m_cellWidth)));
    return rowPosition(row, col);
}

qsizetype ByteTextEdit::snap(qsizetype pos, bool forward) const
{
    // The caret never sits between the two bytes of a CR LF.
    if (pos > 0 && pos < m_data.size() && m_data.at(pos - 1) == '\r' && m_data.at(pos) == '\n')
        return forward ? pos + 1 : pos - 1;
    return pos;
}

qsizetype ByteTextEdit::stepPosition(qsizetype pos, int direction) const
{
    if (direction > 0)
        return pos < m_data.size() ? snap(pos + 1, true) : pos;
    return pos > 0 ? snap(pos - 1, false) : pos;
}

qsizetype ByteTextEdit::wordStart(qsizetype pos) const
{
    while (pos > 0 && !isWordByte(m_data.at(pos - 1)))
        --pos;
    while (pos > 0 && isWordByte(m_data.at(pos - 1)))
        --pos;
    return pos;
}

qsizetype ByteTextEdit::wordEnd(qsizetype pos) const
{
    const qsizetype n = m_data.size();
    while (pos < n && !isWordByte(m_data.at(pos)))
        ++pos;
    while (pos < n && isWordByte(m_data.at(pos)))
        ++pos;
    return snap(pos, true);
}

void ByteTextEdit::moveCaret(qsizetype pos, bool keepAnchor, bool keepGoalColumn)
{
    const bool moved = pos != m_caret || (!keepAnchor && m_anchor != m_caret);
    m_caret = pos;
    if (!keepAnchor)
        m_anchor = pos;
    if (!keepGoalColumn)
        m_goalColumn = -1;
    m_caretShown = true;
    ensureCaretVisible();
    viewport()->update();
    if (moved)
        Q_EMIT caretMoved();
}

void ByteTextEdit::deleteBackward()
{
    if (hasSelection()) {
        replaceRange(selectionStart(), selectionEnd() - selectionStart(), {}, true);
        return;
    }
    const qsizetype p = stepPosition(m_caret, -1);
    if (p < m_caret)
        replaceRange(p, m_caret - p, {}, true);
}

void ByteTextEdit::deleteForward()
{
    if (hasSelection()) {
        replaceRange(selectionStart(), selectionEnd() - selectionStart(), {}, true);
        return;
    }
    const qsizetype p = stepPosition(m_caret, +1);
    if (p > m_caret)
        replaceRange(m_caret, p - m_caret, {}, true);
}

void ByteTextEdit::applyEdit(const Edit &e, bool forward)
{
    if (forward) {
        replaceRange(e.pos, e.removed.size(), e.inserted, false);
    } else {
        replaceRange(e.pos, e.inserted.size(), e.removed, false);
        m_caret = e.caretBefore;
        m_anchor = e.anchorBefore;
        ensureCaretVisible();
        Q_EMIT caretMoved();
    }
}

void ByteTextEdit::undo()
{
    if (m_readOnly || !canUndo())
        return;
    --m_undoPos;
    applyEdit(m_undo[m_undoPos], false);
}

void ByteTextEdit::redo()
{
    if (m_readOnly || !canRedo())
        return;
    applyEdit(m_undo[m_undoPos], true);
    ++m_undoPos;
}

void ByteTextEdit::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(Bytes::toText(selectedBytes()));
}

void ByteTextEdit::cut()
{
    if (m_readOnly || !hasSelection())
        return;
    copy();
    replaceRange(selectionStart(), selectionEnd() - selectionStart(), {}, true);
}

void ByteTextEdit::paste()
{
    if (m_readOnly)
        return;
    const QString t = QGuiApplication::clipboard()->text();
    if (!t.isEmpty())
        insertText(t);
}

// ---------------------------------------------------------------- view

void ByteTextEdit::updateMetrics()
{
    const QFontMetricsF fm(font());
    m_cellWidth = std::max<qreal>(1.0, fm.horizontalAdvance(QLatin1Char('M')));
    m_lineHeight = std::max(1, int(std::ceil(fm.lineSpacing())));
    m_ascent = int(std::ceil(fm.ascent()));
    const int cols = std::max(1, int((viewport()->width() - 2 * kMargin) / m_cellWidth));
    if (cols != m_cols) {
        m_cols = cols;
        invalidateRowsFrom(0);
    }
}

int ByteTextEdit::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

void ByteTextEdit::updateScrollRange()
{
    const qsizetype total = rowCount();
    const qsizetype maxTop = std::max<qsizetype>(0, total - visibleRows());
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, int(std::min<qsizetype>(maxTop, INT_MAX)));
    bar->setPageStep(visibleRows());
    bar->setSingleStep(1);
}

void ByteTextEdit::ensureCaretVisible()
{
    const qsizetype row = cellOf(m_caret).y();
    QScrollBar *bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(int(row));
    else if (row >= bar->value() + visibleRows())
        bar->setValue(int(row - visibleRows() + 1));
}

void ByteTextEdit::scheduleRefresh()
{
    m_viewDirty = true;
    if (!m_refresh.isActive())
        m_refresh.start(kRefreshMs);
}

void ByteTextEdit::flushView()
{
    m_refresh.stop();
    m_viewDirty = false;
    updateScrollRange();
    viewport()->update();
}

void ByteTextEdit::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.setFont(font());
    ensureRows();
    const Glyphs &g = glyphs();
    const QPalette &pal = palette();
    const QColor normal = pal.color(QPalette::Text);
    const QColor grey = pal.color(QPalette::PlaceholderText);
    const QColor selText = pal.color(QPalette::HighlightedText);
    const qsizetype total = m_rowStarts.back();
    const qsizetype top = verticalScrollBar()->value();
    const qsizetype bottom = std::min(total, top + visibleRows() + 1);
    const qsizetype s0 = selectionStart();
    const qsizetype s1 = selectionEnd();
    const char *d = m_data.constData();

    qsizetype line =
        qsizetype(std::upper_bound(m_rowStarts.begin(), m_rowStarts.end(), top) - m_rowStarts.begin()) - 1;
    QString run;
    for (qsizetype row = top; row < bottom; ++row) {
        while (line + 1 < lineCount() && m_rowStarts[size_t(line + 1)] <= row)
            ++line;
        const qsizetype sub = row - m_rowStarts[size_t(line)];
        const qsizetype len = lineLength(line);
        const qsizetype from = lineStart(line) + sub * m_cols;
        const qsizetype count = std::clamp<qsizetype>(len - sub * m_cols, 0, m_cols);
        const int y = int((row - top) * m_lineHeight);
        const bool lastSub = sub * m_cols + m_cols > len;

        // Selection background, including one cell for a selected line break.
        const qsizetype a = std::max(from, s0);
        const qsizetype b = std::min(from + count, s1);
        if (a < b) {
            p.fillRect(QRectF(kMargin + (a - from) * m_cellWidth, y, (b - a) * m_cellWidth, m_lineHeight),
                       pal.color(QPalette::Highlight));
        }
        if (lastSub && line + 1 < lineCount() && s0 <= from + count && s1 > from + count) {
            p.fillRect(QRectF(kMargin + count * m_cellWidth, y, m_cellWidth / 2, m_lineHeight),
                       pal.color(QPalette::Highlight));
        }

        // Text in runs of cells that share a colour; special symbols one by one.
        qsizetype i = 0;
        while (i < count) {
            const qsizetype pos = from + i;
            const bool sel = pos >= s0 && pos < s1;
            const uchar c = uchar(d[pos]);
            const qreal x = kMargin + i * m_cellWidth;
            if (g.special[c]) {
                p.setPen(sel ? selText : grey);
                p.drawText(QPointF(x, y + m_ascent), QString(g.glyph[c]));
                ++i;
                continue;
            }
            run.clear();
            qsizetype j = i;
            while (j < count) {
                const qsizetype q = from + j;
                const uchar cj = uchar(d[q]);
                if (g.special[cj] || ((q >= s0 && q < s1) != sel))
                    break;
                run += g.glyph[cj];
                ++j;
            }
            p.setPen(sel ? selText : normal);
            p.drawText(QPointF(x, y + m_ascent), run);
            i = j;
        }
    }

    if (hasFocus() && m_caretShown) {
        const QPoint cell = cellOf(m_caret);
        if (cell.y() >= top && cell.y() < bottom) {
            const qreal x = kMargin + cell.x() * m_cellWidth;
            p.fillRect(QRectF(x, (cell.y() - top) * m_lineHeight, 1.5, m_lineHeight), normal);
        }
    }
}

void ByteTextEdit::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateMetrics();
    updateScrollRange();
    ensureCaretVisible();
}

void ByteTextEdit::scrollContentsBy(int, int)
{
    viewport()->update();
}

void ByteTextEdit::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
        invalidateRowsFrom(0);
        updateScrollRange();
        viewport()->update();
    }
}

// ---------------------------------------------------------------- input

bool ByteTextEdit::focusNextPrevChild(bool next)
{
    // Tab is data while the box can be edited.
    if (!m_readOnly)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void ByteTextEdit::keyPressEvent(QKeyEvent *e)
{
    const bool ro = m_readOnly;
    const qsizetype n = m_data.size();
    auto vertical = [&](qsizetype rows, bool keep) {
        const QPoint cell = cellOf(m_caret);
        if (m_goalColumn < 0)
            m_goalColumn = cell.x();
        const qsizetype target = cell.y() + rows;
        qsizetype pos;
        if (target < 0)
            pos = 0;
        else if (target >= rowCount())
            pos = n;
        else
            pos = rowPosition(target, m_goalColumn);
        moveCaret(pos, keep, true);
    };

    if (e == QKeySequence::Copy) {
        copy();
    } else if (e == QKeySequence::Cut) {
        cut();
    } else if (e == QKeySequence::Paste) {
        paste();
    } else if (e == QKeySequence::Undo) {
        undo();
    } else if (e == QKeySequence::Redo) {
        redo();
    } else if (e == QKeySequence::SelectAll) {
        selectAll();
    } else if (e == QKeySequence::MoveToNextChar || e == QKeySequence::SelectNextChar) {
        moveCaret(stepPosition(m_caret, +1), e == QKeySequence::SelectNextChar);
    } else if (e == QKeySequence::MoveToPreviousChar || e == QKeySequence::SelectPreviousChar) {
        moveCaret(stepPosition(m_caret, -1), e == QKeySequence::SelectPreviousChar);
    } else if (e == QKeySequence::MoveToNextWord || e == QKeySequence::SelectNextWord) {
        moveCaret(wordEnd(m_caret), e == QKeySequence::SelectNextWord);
    } else if (e == QKeySequence::MoveToPreviousWord || e == QKeySequence::SelectPreviousWord) {
        moveCaret(wordStart(m_caret), e == QKeySequence::SelectPreviousWord);
    } else if (e == QKeySequence::MoveToNextLine || e == QKeySequence::SelectNextLine) {
        vertical(1, e == QKeySequence::SelectNextLine);
    } else if (e == QKeySequence::MoveToPreviousLine || e == QKeySequence::SelectPreviousLine) {
        vertical(-1, e == QKeySequence::SelectPreviousLine);
    } else if (e == QKeySequence::MoveToNextPage || e == QKeySequence::SelectNextPage) {
        vertical(visibleRows(), e == QKeySequence::SelectNextPage);
    } else if (e == QKeySequence::MoveToPreviousPage || e == QKeySequence::SelectPreviousPage) {
        vertical(-visibleRows(), e == QKeySequence::SelectPreviousPage);
    } else if (e == QKeySequence::MoveToStartOfLine || e == QKeySequence::SelectStartOfLine ||
               e == QKeySequence::MoveToStartOfBlock || e == QKeySequence::SelectStartOfBlock) {
        const bool keep = e == QKeySequence::SelectStartOfLine || e == QKeySequence::SelectStartOfBlock;
        moveCaret(lineStart(lineOf(m_caret)), keep);
    } else if (e == QKeySequence::MoveToEndOfLine || e == QKeySequence::SelectEndOfLine ||
               e == QKeySequence::MoveToEndOfBlock || e == QKeySequence::SelectEndOfBlock) {
        const bool keep = e == QKeySequence::SelectEndOfLine || e == QKeySequence::SelectEndOfBlock;
        const qsizetype line = lineOf(m_caret);
        moveCaret(lineStart(line) + lineLength(line), keep);
    } else if (e == QKeySequence::MoveToStartOfDocument || e == QKeySequence::SelectStartOfDocument) {
        moveCaret(0, e == QKeySequence::SelectStartOfDocument);
    } else if (e == QKeySequence::MoveToEndOfDocument || e == QKeySequence::SelectEndOfDocument) {
        moveCaret(n, e == QKeySequence::SelectEndOfDocument);
    } else if (e->key() == Qt::Key_Backspace) {
        if (!ro)
            deleteBackward();
    } else if (e == QKeySequence::Delete || e->key() == Qt::Key_Delete) {
        if (!ro)
            deleteForward();
    } else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (!ro)
            insertBytes(m_enterBytes);
    } else if (e->key() == Qt::Key_Tab && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        if (!ro)
            insertBytes("\t");
    } else {
        const QString t = e->text();
        const bool printable = !t.isEmpty() && t.at(0).unicode() >= 0x20 && t.at(0).unicode() != 0x7F &&
                               !(e->modifiers() & Qt::ControlModifier);
        if (!printable) {
            QAbstractScrollArea::keyPressEvent(e);
            return;
        }
        if (!ro)
            replaceRange(selectionStart(), selectionEnd() - selectionStart(), Bytes::fromText(t), true, true);
    }
    e->accept();
    const int key = e->key();
    if (key >= Qt::Key_Home && key <= Qt::Key_PageDown)
        Q_EMIT navigationKey(key);
}

void ByteTextEdit::mousePressEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton) {
        m_mouseSelecting = true;
        moveCaret(positionAt(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
    }
    Q_EMIT clicked();
}

void ByteTextEdit::mouseMoveEvent(QMouseEvent *e)
{
    if (m_mouseSelecting && (e->buttons() & Qt::LeftButton))
        moveCaret(positionAt(e->position().toPoint()), true);
}

void ByteTextEdit::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton)
        m_mouseSelecting = false;
}

void ByteTextEdit::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const qsizetype pos = positionAt(e->position().toPoint());
    qsizetype a = pos;
    qsizetype b = pos;
    while (a > 0 && isWordByte(m_data.at(a - 1)))
        --a;
    while (b < m_data.size() && isWordByte(m_data.at(b)))
        ++b;
    m_anchor = a;
    moveCaret(b, true);
    Q_EMIT clicked();
}

void ByteTextEdit::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *aUndo = menu.addAction(QStringLiteral("&Undo"), this, &ByteTextEdit::undo);
    aUndo->setEnabled(!m_readOnly && canUndo());
    QAction *aRedo = menu.addAction(QStringLiteral("&Redo"), this, &ByteTextEdit::redo);
    aRedo->setEnabled(!m_readOnly && canRedo());
    menu.addSeparator();
    menu.addAction(QStringLiteral("Cu&t"), this, &ByteTextEdit::cut)
        ->setEnabled(!m_readOnly && hasSelection());
    menu.addAction(QStringLiteral("&Copy"), this, &ByteTextEdit::copy)->setEnabled(hasSelection());
    menu.addAction(QStringLiteral("&Paste"), this, &ByteTextEdit::paste)->setEnabled(!m_readOnly);
    menu.addAction(QStringLiteral("Delete"), this,
                   [this] {
                       if (!m_readOnly && hasSelection())
                           replaceRange(selectionStart(), selectionEnd() - selectionStart(), {}, true);
                   })
        ->setEnabled(!m_readOnly && hasSelection());
    menu.addSeparator();
    menu.addAction(QStringLiteral("Select &All"), this, &ByteTextEdit::selectAll);
    menu.exec(event->globalPos());
}

void ByteTextEdit::inputMethodEvent(QInputMethodEvent *e)
{
    if (!m_readOnly && !e->commitString().isEmpty())
        replaceRange(selectionStart(), selectionEnd() - selectionStart(), Bytes::fromText(e->commitString()),
                     true, true);
    e->accept();
}

QVariant ByteTextEdit::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle: {
        auto *self = const_cast<ByteTextEdit *>(this);
        const QPoint cell = self->cellOf(m_caret);
        const qsizetype top = verticalScrollBar()->value();
        return QRect(int(kMargin + cell.x() * m_cellWidth), int((cell.y() - top) * m_lineHeight), 1,
                     m_lineHeight);
    }
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return 0;
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
        return QString();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void ByteTextEdit::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    m_caretShown = true;
    m_blink.start();
    viewport()->update();
}

void ByteTextEdit::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    viewport()->update();
}
