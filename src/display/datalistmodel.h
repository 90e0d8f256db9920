#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QStringList>
#include <QTime>
#include <QTimer>
#include <QVarLengthArray>
#include <vector>

class QTreeView;

/// The rows of one data list: number, time, direction, socket label and the
/// message or its fields, with the raw message kept as the row's tag.
///
/// The message and field cells show at most kCellChars characters of their
/// escaped text, cut before an escape and followed by a mark (…) when more
/// follows: a cell's paint and measure cost grows with its length, and a
/// 1 MB cell held every repaint of the list for most of a second. The whole
/// text stays in the row for sorting, copying (WholeTextRole) and the
/// details viewer (RawRole).
///
/// Rows are stored compactly (one small record per row, cells packed into one
/// byte array) so that floods of short messages stay cheap. Inside a batch
/// (beginBatch/endBatch) new rows are held back and announced to views in one
/// insertion at flush(), so a view does its bookkeeping once per batch rather
/// than once per row. While an attached view is shown, the end of a batch
/// announces its rows at most every kPaceMs (at once after a quiet spell):
/// in a flood the view then inserts, scrolls and paints a few dozen times a
/// second rather than once per arrival.
class DataListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColNumber, ColTime, ColDirection, ColSocket, ColMessage, FixedColumnCount };
    enum Role {
        /// The raw message with its separator(s), as a QByteArray (any column).
        RawRole = Qt::UserRole,
        /// True for incoming rows (any column).
        IncomingRole,
        /// The cell's whole text, however long (DisplayRole is bounded).
        WholeTextRole,
    };
    static constexpr qsizetype kCellChars = 1024;
    static constexpr char16_t kMoreMark = u'\u2026';
    enum class RowIcon : quint8 { None, Tick, Unplugged };

    struct Column_
    {
        QString header;
        int widthTwips = 0;
    };

    /// A row to add. Cells are the texts of column 5 onwards (the message, or
    /// field 1, 2, ...), already in display form.
    struct NewRow
    {
        bool incoming = true;
        RowIcon icon = RowIcon::None;
        QString direction;
        QString socket;
        QByteArray raw;
        QVarLengthArray<QByteArray, 4> cells;
        /// With no cells given and this at 0 or more, the row has one cell:
        /// the raw message less this many bytes at its end, in escaped form
        /// (Bytes::GetChar), made only when it is asked for. A flood keeps
        /// few of its rows and shows fewer, so most are never made at all.
        qsizetype cellFromRawChop = -1;
        /// The time stamp; a null time means "now".
        QTime time;
    };

    explicit DataListModel(QObject *parent = nullptr);

    /// Sets the load-time columns ("#", "Time", direction, "Sock#", "Message").
    void setColumns(const QList<Column_> &columns);
    QString headerText(int column) const { return m_columns.value(column).header; }
    void setHeaderText(int column, const QString &text);
    int columnWidthTwips(int column) const { return m_columns.value(column).widthTwips; }
    void setColumnWidthTwips(int column, int twips);
    /// Adds columns at the right, in one insertion; columns are never
    /// removed by the display.
    void appendColumns(const QList<Column_> &columns);
    void appendColumn(const QString &header, int widthTwips) { appendColumns({{header, widthTwips}}); }

    /// Adds a row at the end, numbered from the rows held before it plus 1.
    /// Returns its row index. Outside a batch views learn of it at once.
    int appendRow(NewRow &&row);
    /// Removes every row (the columns stay).
    void clear();

    /// Batches nest; rows added inside reach views at flush() or, paced,
    /// at the end of the outermost batch.
    void beginBatch();
    void endBatch();
    void flush();
    /// flush() now, or when the pace allows while a view is shown.
    void flushSoon();
    static constexpr int kPaceMs = 20;
    /// Rows held, including rows of a running batch not yet announced.
    int heldRowCount() const { return int(m_rows.size()); }

    /// Access by row index (held rows included).
    QByteArray rawTag(int row) const;
    QByteArray cell(int row, int column) const;
    QString numberText(int row) const;
    bool isIncoming(int row) const;
    RowIcon icon(int row) const;
    /// "001", "002", ... "999", "1000".
    static QString formatNumber(int number);

    /// Sort state of the header clicks: -1 until the first sort.
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    /// A header click: a new column sorts ascending, the same column again
    /// reverses the order.
    void sortByHeader(int column);

    /// Asks attached views to select the last row and scroll it into view,
    /// now or with the next paced flush.
    void showLastRow();
    void showLastRowSoon();

    /// Hooks a view to this model: header clicks sort, new columns get their
    /// widths, showLastRow() selects and reveals the last row, and copying
    /// takes the current cell's whole text.
    void attachView(QTreeView *view);
    /// Gives a view the columns' widths: a width of 0 hides the column, the
    /// number shares its cell with the row's icon, and the time keeps room for
    /// its milliseconds.
    void sizeColumns(QTreeView *view) const;
    /// Widens a view's time column when its font needs more room for the milliseconds.
    static void keepTimeRoom(QTreeView *view);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    /// Orders the rows by the texts of one column (case-insensitive, equal
    /// texts keep their order). Rows keep their numbers.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

Q_SIGNALS:
    void columnWidthTwipsChanged(int column, int twips);
    void lastRowShown();

private:
    struct Row
    {
        QByteArray raw;
        // A single cell as it is; several as [quint32 length][bytes] each.
        QByteArray cells;
        qint32 number = 0;
        qint32 timeMs = 0;
        quint32 socket = 0;
        quint32 cellCount = 0;
        quint32 direction = 0;
        quint8 flags = 0;
    };
    static constexpr quint8 kIncomingFlag = 0x01;
    static constexpr int kIconShift = 1;
    // The one cell is made from raw; cells then holds nothing and
    // cellCount the number of bytes to leave off raw's end.
    static constexpr quint8 kCellFromRawFlag = 0x80;
    static constexpr quint8 kIconMask = 0x03;

    quint32 intern(const QString &label);
    static QByteArrayView storedCell(const Row &row, int cellIndex);
    static QByteArray cellOf(const Row &row, int cellIndex);
    QString displayText(const Row &row, int column, bool whole) const;
    QIcon iconFor(RowIcon icon) const;
    bool paced() const;

    QList<Column_> m_columns;
    std::vector<Row> m_rows;
    int m_announced = 0;
    int m_batchDepth = 0;
    QStringList m_labels;
    QHash<QString, quint32> m_labelIndex;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    mutable QIcon m_tickIcon;
    mutable QIcon m_unpluggedIcon;
    QList<QPointer<QTreeView>> m_views;
    QTimer m_paceTimer;
    QElapsedTimer m_sinceFlush;
    bool m_showLastDue = false;
};
