#pragma once

#include "display/detailslayout.h"

#include <QAbstractScrollArea>
#include <QTimer>

/// The text area of the details viewer: shows a text in one representation,
/// read-only, with selection and copy. Only the rows on screen are ever
/// rendered, and rows wrap to the width of the view; the rows of a long text
/// are found in slices of the event loop, so neither a new text nor a resize
/// holds the window up.
class DetailsView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit DetailsView(QWidget *parent = nullptr);

    void setContent(const QByteArray &text, DetailsLayout::Representation representation);
    const QByteArray &content() const { return m_layout.text(); }

    /// The whole rendered text, and the selected part of it.
    QByteArray renderedText() const;
    QByteArray selectedText() const;
    bool hasSelection() const { return m_anchor != m_cursor; }
    void selectAll();
    void copy() const;

    /// The rows and the first row on screen.
    const DetailsLayout &layout() const { return m_layout; }
    qsizetype topRow() const;
    /// Finds the rest of the rows now (normally done in slices).
    void finishLayout();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    int rowCharsForWidth() const;
    int visibleRows() const;
    void relayout();
    void layOutSlice();
    void updateScrollBars();
    /// Scrolls a byte to the top once the scan has found its row.
    void scrollToByte(qsizetype byte);
    void revealPendingByte();
    DetailsLayout::Position positionAtPoint(const QPoint &point);
    int xOfColumn(const QString &text, int column) const;

    DetailsLayout m_layout;
    DetailsLayout::Position m_anchor;
    DetailsLayout::Position m_cursor;
    QTimer m_layoutTimer;
    int m_widest = 0;
    // A byte waiting for the scan to reach it, to be scrolled to the top.
    qsizetype m_pendingByte = -1;
};
