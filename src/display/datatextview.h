#pragma once

#include <QByteArray>
#include <QPlainTextEdit>
#include <QTimer>
#include <vector>

/// The text view of a data list: the raw stream in escaped form, coloured by
/// direction. Read-only for the user; selection and copy work.
///
/// The content is kept as bytes (the escaped text with its carriage returns
/// and line feeds) beside the document that shows it: lengths, offsets and
/// copies come from the bytes, since the document turns CR, LF and CR LF
/// alike into line breaks. Appends are cheap: they go into the bytes at once
/// and reach the document on a short timer, in bounded slices.
class DataTextView : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit DataTextView(QWidget *parent = nullptr);

    static QColor colour(bool incoming);

    /// Adds text (already escaped for display) at the end, in the colour of
    /// its direction, and leaves the caret at the end.
    void append(const QByteArray &escapedText, bool incoming);
    /// Empties the view entirely. (Hides QPlainTextEdit::clear on purpose:
    /// the bytes must go with the document.)
    void clear();
    /// Characters held, counting CR LF as two.
    qsizetype length() const { return m_bytes.size(); }
    const QByteArray &bytes() const { return m_bytes; }
    /// The direction of the stretch that holds the byte at offset.
    bool isIncomingAt(qsizetype offset) const;

    /// The caret as an offset into bytes(), and back.
    qsizetype caretOffset();
    void setCaretOffset(qsizetype offset);
    /// At most max bytes from the caret on (from the start of the
    /// selection, when there is one).
    QByteArray textAfterCaret(qsizetype max);

    void SetUserFont(const QFont &font);

    /// Brings the document up to date with the bytes now (normally done on
    /// a timer).
    void renderAll();
    bool hasPendingRender() const { return m_rendered < m_bytes.size(); }

Q_SIGNALS:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    struct Stretch
    {
        qsizetype start;
        bool incoming;
    };

    void scheduleRender();
    void renderSlice();
    void renderUpTo(qsizetype end);
    qsizetype offsetOfPosition(int position) const;
    int positionOfOffset(qsizetype offset) const;

    QByteArray m_bytes;
    std::vector<Stretch> m_stretches;
    // Offset in m_bytes where each document block starts.
    std::vector<qsizetype> m_blockStart{0};
    qsizetype m_rendered = 0;
    QTimer m_renderTimer;
    // The caret last placed by setCaretOffset: an offset inside a line
    // break maps to the end of its line, so remember the exact request.
    int m_hintPosition = -1;
    qsizetype m_hintOffset = 0;
};
