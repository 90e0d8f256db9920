#include "display/datalistmodel.h"

#include "core/bytes.h"
#include "ui/twips.h"

#include <QClipboard>
#include <QColor>
#include <QDateTime>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QStyle>
#include <QTreeView>
#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

constexpr int kIconSize = 16;

QIcon drawTick()
{
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 150, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF points[] = {{3.0, 8.5}, {6.5, 12.0}, {13.0, 4.0}};
    p.drawPolyline(points, 3);
    return QIcon(pixmap);
}

QIcon drawUnpluggedCable()
{
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor dark(60, 60, 60);
    // The cable and its plug on the left, pins pointing right.
    p.setPen(QPen(dark, 1.5));
    QPainterPath cable;
    cable.moveTo(0.5, 13.0);
    cable.cubicTo(2.0, 13.0, 2.0, 8.0, 3.5, 8.0);
    p.drawPath(cable);
    p.fillRect(QRectF(3.5, 5.5, 3.5, 5.0), dark);
    p.drawLine(QPointF(7.0, 6.8), QPointF(8.5, 6.8));
    p.drawLine(QPointF(7.0, 9.2), QPointF(8.5, 9.2));
    // The socket on the right, apart from the plug.
    p.fillRect(QRectF(11.5, 4.5, 4.0, 7.0), dark);
    // A red mark in the gap.
    p.setPen(QPen(QColor(220, 0, 0), 1.5));
    p.drawLine(QPointF(9.2, 2.0), QPointF(10.8, 4.0));
    p.drawLine(QPointF(9.2, 14.0), QPointF(10.8, 12.0));
    return QIcon(pixmap);
}

void putLength(QByteArray &out, quint32 length)
{
    char bytes[sizeof length];
    std::memcpy(bytes, &length, sizeof length);
    out.append(bytes, sizeof length);
}

quint32 getLength(const char *at)
{
    quint32 length;
    std::memcpy(&length, at, sizeof length);
    return length;
}

// The local time of day for a row's stamp. Asking the system for local time
// consults the time zone files every time, which in a flood costs more than
// the rest of a row; the zone's offset is taken at most once a second and
// applied to the clock, which is cheap.
QTime currentLocalTime()
{
    constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;
    constexpr qint64 kOffsetCheckMs = 1000;
    static qint64 offsetMs = 0;
    static qint64 checkedAt = 0;
    static bool checked = false;
    qint64 utc = QDateTime::currentMSecsSinceEpoch();
    if (!checked || utc - checkedAt >= kOffsetCheckMs || utc < checkedAt) {
        const QDateTime now = QDateTime::currentDateTime();
        utc = now.toMSecsSinceEpoch();
        offsetMs = qint64(now.offsetFromUtc()) * 1000;
        checkedAt = utc;
        checked = true;
    }
    qint64 ms = (utc + offsetMs) % kDayMs;
    if (ms < 0)
        ms += kDayMs;
    return QTime::fromMSecsSinceStartOfDay(int(ms));
}

// Copying from a list takes the current cell's whole text, not the bounded
// text the cell shows.
class CopyWholeCell : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        if (!static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy))
            return false;
        event->accept();
        if (event->type() == QEvent::KeyPress) {
            const QModelIndex current = static_cast<QAbstractItemView *>(watched)->currentIndex();
            if (current.isValid())
                QGuiApplication::clipboard()->setText(current.data(DataListModel::WholeTextRole).toString());
        }
        return true;
    }
};

} // namespace

DataListModel::DataListModel(QObject *parent) : QAbstractTableModel(parent)
{
    m_paceTimer.setSingleShot(true);
    connect(&m_paceTimer, &QTimer::timeout, this, [this] {
        flush();
        if (std::exchange(m_showLastDue, false))
            Q_EMIT lastRowShown();
    });
}

void DataListModel::setColumns(const QList<Column_> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
}

void DataListModel::setHeaderText(int column, const QString &text)
{
    if (column < 0 || column >= m_columns.size() || m_columns[column].header == text)
        return;
    m_columns[column].header = text;
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

void DataListModel::setColumnWidthTwips(int column, int twips)
{
    if (column < 0 || column >= m_columns.size() || m_columns[column].widthTwips == twips)
        return;
    m_columns[column].widthTwips = twips;
    Q_EMIT columnWidthTwipsChanged(column, twips);
}

void DataListModel::appendColumns(const QList<Column_> &columns)
{
    if (columns.isEmpty())
        return;
    const int at = int(m_columns.size());
    beginInsertColumns(QModelIndex(), at, at + int(columns.size()) - 1);
    m_columns.append(columns);
    endInsertColumns();
}

quint32 DataListModel::intern(const QString &label)
{
    // A flood's rows carry the same one or two labels: those were added last.
    for (qsizetype i = m_labels.size() - 1; i >= 0 && i >= m_labels.size() - 2; --i) {
        if (m_labels[i] == label)
            return quint32(i);
    }
    const auto it = m_labelIndex.constFind(label);
    if (it != m_labelIndex.constEnd())
        return it.value();
    const quint32 index = quint32(m_labels.size());
    m_labels.append(label);
    m_labelIndex.insert(label, index);
    return index;
}

int DataListModel::appendRow(NewRow &&row)
{
    Row r;
    r.number = int(m_rows.size()) + 1;
    r.timeMs = (row.time.isValid() ? row.time : currentLocalTime()).msecsSinceStartOfDay();
    r.direction = intern(row.direction);
    r.socket = intern(row.socket);
    r.flags = quint8((row.incoming ? kIncomingFlag : 0) | (quint8(row.icon) << kIconShift));
    r.raw = std::move(row.raw);
    r.cellCount = quint32(row.cells.size());
    if (row.cells.isEmpty() && row.cellFromRawChop >= 0) {
        r.flags |= kCellFromRawFlag;
        r.cellCount = quint32(qMin(row.cellFromRawChop, r.raw.size()));
    } else if (row.cells.size() == 1) {
        r.cells = std::move(row.cells[0]);
    } else if (row.cells.size() > 1) {
        qsizetype total = 0;
        for (const QByteArray &c : row.cells)
            total += qsizetype(sizeof(quint32)) + c.size();
        r.cells.reserve(total);
        for (const QByteArray &c : row.cells) {
            putLength(r.cells, quint32(c.size()));
            r.cells.append(c);
        }
    }
    m_rows.push_back(std::move(r));
    if (m_batchDepth == 0)
        flush();
    return int(m_rows.size()) - 1;
}

void DataListModel::clear()
{
    if (m_announced > 0) {
        beginRemoveRows(QModelIndex(), 0, m_announced - 1);
        m_rows.clear();
        m_announced = 0;
        endRemoveRows();
    } else {
        m_rows.clear();
    }
    // A flood of short rows leaves the store at its high-water mark; give
    // back what a normal list would never need again.
    if (m_rows.capacity() > 4096)
        std::vector<Row>().swap(m_rows);
    m_labels.clear();
    m_labelIndex.clear();
}

void DataListModel::beginBatch()
{
    ++m_batchDepth;
}

void DataListModel::endBatch()
{
    if (m_batchDepth > 0 && --m_batchDepth == 0)
        flushSoon();
}

void DataListModel::flush()
{
    m_paceTimer.stop();
    m_sinceFlush.start();
    const int held = int(m_rows.size());
    if (held <= m_announced)
        return;
    beginInsertRows(QModelIndex(), m_announced, held - 1);
    m_announced = held;
    endInsertRows();
}

bool DataListModel::paced() const
{
    return std::any_of(m_views.begin(), m_views.end(), [](const QPointer<QTreeView> &v) { return v && v->isVisible(); });
}

void DataListModel::flushSoon()
{
    if (m_paceTimer.isActive())
        return;
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : kPaceMs;
    if (since >= kPaceMs || !paced()) {
        flush();
        if (std::exchange(m_showLastDue, false))
            Q_EMIT lastRowShown();
        return;
    }
    m_paceTimer.start(int(kPaceMs - since));
}

QByteArray DataListModel::rawTag(int row) const
{
    if (row < 0 || row >= heldRowCount())
        return {};
    return m_rows[size_t(row)].raw;
}

// A cell held in escaped form (not one made from the raw message).
QByteArrayView DataListModel::storedCell(const Row &row, int cellIndex)
{
    if ((row.flags & kCellFromRawFlag) || cellIndex < 0 || quint32(cellIndex) >= row.cellCount)
        return {};
    if (row.cellCount == 1)
        return row.cells;
    const char *at = row.cells.constData();
    for (int i = 0; i < cellIndex; ++i)
        at += sizeof(quint32) + getLength(at);
    return QByteArrayView(at + sizeof(quint32), qsizetype(getLength(at)));
}

QByteArray DataListModel::cellOf(const Row &row, int cellIndex)
{
    if (row.flags & kCellFromRawFlag)
        return cellIndex == 0 ? Bytes::GetChar(QByteArrayView(row.raw).first(row.raw.size() - qsizetype(row.cellCount)))
                              : QByteArray();
    return storedCell(row, cellIndex).toByteArray();
}

QByteArray DataListModel::cell(int row, int column) const
{
    if (row < 0 || row >= heldRowCount())
        return {};
    return cellOf(m_rows[size_t(row)], column - ColMessage);
}

QString DataListModel::formatNumber(int number)
{
    return QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
}

QString DataListModel::numberText(int row) const
{
    if (row < 0 || row >= heldRowCount())
        return {};
    return formatNumber(m_rows[size_t(row)].number);
}

bool DataListModel::isIncoming(int row) const
{
    return row >= 0 && row < heldRowCount() && (m_rows[size_t(row)].flags & kIncomingFlag);
}

DataListModel::RowIcon DataListModel::icon(int row) const
{
    if (row < 0 || row >= heldRowCount())
        return RowIcon::None;
    return RowIcon((m_rows[size_t(row)].flags >> kIconShift) & kIconMask);
}

QString DataListModel::displayText(const Row &row, int column, bool whole) const
{
    switch (column) {
    case ColNumber:
        return formatNumber(row.number);
    case ColTime:
        return Bytes::GetTime(true, QTime::fromMSecsSinceStartOfDay(row.timeMs));
    case ColDirection:
        return m_labels.value(qsizetype(row.direction));
    case ColSocket:
        return m_labels.value(qsizetype(row.socket));
    default:
        break;
    }
    const int cellIndex = column - ColMessage;
    if (whole)
        return Bytes::toText(cellOf(row, cellIndex));
    // Only the bytes that can show are escaped.
    QByteArray made;
    QByteArrayView text;
    bool more = false;
    if (row.flags & kCellFromRawFlag) {
        if (cellIndex != 0)
            return {};
        const QByteArrayView body = QByteArrayView(row.raw).first(row.raw.size() - qsizetype(row.cellCount));
        more = body.size() > kCellChars;
        made = Bytes::GetChar(body.first(qMin(body.size(), kCellChars)));
        text = made;
    } else {
        text = storedCell(row, cellIndex);
    }
    if (text.size() > kCellChars) {
        more = true;
        // Cut before an escape (a backslash and two digits), not through it.
        qsizetype cut = kCellChars;
        for (qsizetype at = cut - 1; at >= cut - 2; --at) {
            if (text[at] == '\\') {
                cut = at;
                break;
            }
        }
        text = text.first(cut);
    }
    QString shown = Bytes::toText(text);
    if (more)
        shown += QChar(kMoreMark);
    return shown;
}

QIcon DataListModel::iconFor(RowIcon icon) const
{
    // Drawn on first use: a model may exist before any painting is possible.
    switch (icon) {
    case RowIcon::Tick:
        if (m_tickIcon.isNull())
            m_tickIcon = drawTick();
        return m_tickIcon;
    case RowIcon::Unplugged:
        if (m_unpluggedIcon.isNull())
            m_unpluggedIcon = drawUnpluggedCable();
        return m_unpluggedIcon;
    case RowIcon::None:
        break;
    }
    return {};
}

void DataListModel::sortByHeader(int column)
{
    const Qt::SortOrder order = (column == m_sortColumn && m_sortOrder == Qt::AscendingOrder) ? Qt::DescendingOrder
                                                                                               : Qt::AscendingOrder;
    sort(column, order);
}

void DataListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columnCount())
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    flush();
    const int n = m_announced;
    if (n < 2)
        return;

    const size_t count = size_t(n);
    std::vector<QString> keys(count);
    for (size_t i = 0; i < count; ++i)
        keys[i] = displayText(m_rows[i], column, true);
    std::vector<int> permutation(count);
    std::iota(permutation.begin(), permutation.end(), 0);
    const auto less = [&keys](int a, int b) {
        return QString::compare(keys[size_t(a)], keys[size_t(b)], Qt::CaseInsensitive) < 0;
    };
    if (order == Qt::AscendingOrder)
        std::stable_sort(permutation.begin(), permutation.end(), less);
    else
        std::stable_sort(permutation.begin(), permutation.end(), [&less](int a, int b) { return less(b, a); });

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(count);
    std::vector<Row> sorted;
    sorted.reserve(m_rows.capacity());
    for (int i = 0; i < n; ++i) {
        newRowOf[size_t(permutation[size_t(i)])] = i;
        sorted.push_back(std::move(m_rows[size_t(permutation[size_t(i)])]));
    }
    m_rows.swap(sorted);

    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &idx : before)
        after.append(index(newRowOf[size_t(idx.row())], idx.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DataListModel::showLastRow()
{
    flush();
    m_showLastDue = false;
    Q_EMIT lastRowShown();
}

void DataListModel::showLastRowSoon()
{
    m_showLastDue = true;
    flushSoon();
}

void DataListModel::attachView(QTreeView *view)
{
    const QPointer<QTreeView> guard(view);
    view->setModel(this);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_views.append(guard);
    view->installEventFilter(new CopyWholeCell(view));
    QHeaderView *header = view->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sectionClicked, view, [this, guard](int section) {
        sortByHeader(section);
        if (guard) {
            guard->header()->setSortIndicatorShown(true);
            guard->header()->setSortIndicator(m_sortColumn, m_sortOrder);
        }
    });
    connect(this, &QAbstractItemModel::columnsInserted, view, [this, guard](const QModelIndex &, int first, int last) {
        for (int c = first; guard && c <= last; ++c)
            guard->setColumnWidth(c, Twips::toPixelsX(columnWidthTwips(c)));
    });
    connect(this, &DataListModel::columnWidthTwipsChanged, view, [guard](int column, int twips) {
        if (guard)
            guard->setColumnWidth(column, Twips::toPixelsX(twips));
    });
    connect(this, &DataListModel::lastRowShown, view, [this, guard] {
        if (!guard || m_announced == 0)
            return;
        const QModelIndex last = index(m_announced - 1, 0);
        guard->setCurrentIndex(last);
        guard->scrollTo(last);
    });
}

void DataListModel::sizeColumns(QTreeView *view) const
{
    for (int c = 0; c < m_columns.size(); ++c) {
        const int w = m_columns[c].widthTwips;
        if (w == 0)
            view->setColumnHidden(c, true);
        else if (c == ColNumber)
            view->setColumnWidth(c, Twips::toPixelsX(w) +
                                        view->style()->pixelMetric(QStyle::PM_SmallIconSize) + 8);
        else
            view->setColumnWidth(c, Twips::toPixelsX(w));
    }
    keepTimeRoom(view);
}

void DataListModel::keepTimeRoom(QTreeView *view)
{
    const int time = view->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 24;
    if (view->columnWidth(ColTime) < time)
        view->setColumnWidth(ColTime, time);
}

int DataListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_announced;
}

int DataListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DataListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_announced || index.column() >= m_columns.size())
        return {};
    const Row &row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return displayText(row, index.column(), false);
    case WholeTextRole:
        return displayText(row, index.column(), true);
    case Qt::ForegroundRole:
        if (index.column() == ColNumber)
            return (row.flags & kIncomingFlag) ? QColor(255, 0, 0) : QColor(0, 0, 255);
        return {};
    case Qt::DecorationRole:
        if (index.column() == ColNumber) {
            const QIcon icon = iconFor(RowIcon((row.flags >> kIconShift) & kIconMask));
            if (!icon.isNull())
                return icon;
        }
        return {};
    case RawRole:
        return row.raw;
    case IncomingRole:
        return bool(row.flags & kIncomingFlag);
    default:
        return {};
    }
}

QVariant DataListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_columns.value(section).header;
    return {};
}
