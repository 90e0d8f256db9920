#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QTimer>
#include <vector>

class QMenu;

/// An editable view over a byte buffer: the data box of the send window.
///
/// The buffer is the truth. Every byte 0 to 255 is kept as it is (CR, LF,
/// CR LF, NUL, 0xA0, 0xFF), so what is opened, typed, sent or saved comes out
/// byte for byte. Line breaks (LF, CR LF, lone CR) start a new line on the
/// screen; other control bytes show as a grey symbol in their own cell.
/// Text typed or pasted enters as Bytes::fromText: characters 0 to 255 as one
/// byte each, any other character as its UTF-8 bytes.
///
/// Lines wrap at the width of the box (fixed-pitch cells), and the view keeps
/// an index of line starts, so a buffer of tens of megabytes stays usable.
/// appendData() is for loading: it only extends the index and lets the view
/// catch up in time slices instead of after every block.
class ByteTextEdit : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit ByteTextEdit(QWidget *parent = nullptr);
    ~ByteTextEdit() override;

    const QByteArray &data() const { return m_data; }
    qsizetype size() const { return m_data.size(); }
    bool isEmpty() const { return m_data.isEmpty(); }
    /// Replaces everything; caret to the start, undo history cleared. No
    /// change is reported when the bytes are the same.
    void setData(const QByteArray &bytes);
    /// Adds bytes at the end without moving the caret; not undoable. The view
    /// refreshes itself a little later (see flushView()).
    void appendData(QByteArrayView bytes);
    void clear() { setData(QByteArray()); }
    /// Room for a load of known size.
    void reserve(qsizetype bytes) { m_data.reserve(bytes); }

    /// The data as widget text, one character per byte.
    QString text() const;
    /// Sets the data from text (Bytes::fromText).
    void setText(const QString &text);

    /// Edits as if typed: replaces the selection. Ignored when read-only.
    void insertBytes(QByteArrayView bytes);
    void insertText(const QString &text);

    /// Number of bytes before the caret.
    qsizetype caretPosition() const { return m_caret; }
    /// Moves the caret (clamped, never between CR and LF); keepAnchor extends the selection.
    void setCaretPosition(qsizetype pos, bool keepAnchor = false);
    bool hasSelection() const { return m_anchor != m_caret; }
    qsizetype selectionStart() const { return std::min(m_anchor, m_caret); }
    qsizetype selectionEnd() const { return std::max(m_anchor, m_caret); }
    QByteArray selectedBytes() const;
    void selectAll();

    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }

    /// The bytes the Enter key inserts (CR LF unless changed).
    void setEnterBytes(const QByteArray &bytes) { m_enterBytes = bytes; }
    QByteArray enterBytes() const { return m_enterBytes; }

    bool canUndo() const { return m_undoPos > 0; }
    bool canRedo() const { return m_undoPos < m_undo.size(); }

    /// Brings the scroll range and the picture up to date now.
    void flushView();

    // Layout facts, for checks of the index.
    qsizetype lineCount() const { return qsizetype(m_lineStarts.size()); }
    qsizetype lineStart(qsizetype line) const { return m_lineStarts[size_t(line)]; }
    /// Length of a line without its line break.
    qsizetype lineLength(qsizetype line) const;
    int columns() const { return m_cols; }
    qsizetype rowCount();
    /// The visual row and column of a position.
    QPoint cellOf(qsizetype pos);
    /// The position under a point of the viewport.
    qsizetype positionAt(const QPoint &viewportPoint);

public Q_SLOTS:
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();

Q_SIGNALS:
    /// The bytes changed (by editing, setData or appendData).
    void changed();
    void caretMoved();
    /// A mouse button went down in the box.
    void clicked();
    /// Page Up, Page Down, End, Home or an arrow key was pressed.
    void navigationKey(int key);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Edit
    {
        qsizetype pos = 0;
        QByteArray removed;
        QByteArray inserted;
        qsizetype caretBefore = 0;
        qsizetype anchorBefore = 0;
        bool typing = false; // consecutive typed characters merge into one step
    };

    void replaceRange(qsizetype pos, qsizetype len, QByteArrayView bytes, bool record, bool typing = false);
    void reindex(qsizetype pos, qsizetype removedLen, qsizetype insertedLen);
    qsizetype lineOf(qsizetype pos) const;
    qsizetype lineEnd(qsizetype line) const; // start of the next line, or the size
    void invalidateRowsFrom(qsizetype line);
    void ensureRows();
    qsizetype rowsOfLine(qsizetype line) const { return lineLength(line) / m_cols + 1; }
    qsizetype snap(qsizetype pos, bool forward) const;
    qsizetype stepPosition(qsizetype pos, int direction) const;
    qsizetype wordStart(qsizetype pos) const;
    qsizetype wordEnd(qsizetype pos) const;
    qsizetype rowStartPos(qsizetype row);
    qsizetype rowPosition(qsizetype row, qsizetype col);
    void moveCaret(qsizetype pos, bool keepAnchor, bool keepGoalColumn = false);
    void deleteBackward();
    void deleteForward();
    void updateMetrics();
    void updateScrollRange();
    void ensureCaretVisible();
    int visibleRows() const;
    void scheduleRefresh();
    void applyEdit(const Edit &edit, bool forward);

    QByteArray m_data;
    std::vector<qsizetype> m_lineStarts{0};
    std::vector<qsizetype> m_rowStarts{0, 1}; // cumulative rows; valid up to m_rowsValid
    qsizetype m_rowsValid = 0;                // m_rowStarts[0..m_rowsValid] are right
    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    qsizetype m_goalColumn = -1;
    bool m_readOnly = false;
    bool m_mouseSelecting = false;
    bool m_caretShown = true;
    int m_cols = 80;
    qreal m_cellWidth = 8;
    int m_lineHeight = 16;
    int m_ascent = 12;
    QByteArray m_enterBytes = QByteArrayLiteral("\r\n");
    std::vector<Edit> m_undo;
    size_t m_undoPos = 0;
    QTimer m_blink;
    QTimer m_refresh;
    bool m_viewDirty = false;
};
