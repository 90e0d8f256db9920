#include "logging/historymodel.h"

#include <algorithm>

HistoryModel::HistoryModel(const QStringList &headers, QObject *parent)
    : QAbstractTableModel(parent), m_headers(headers)
{
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_rows[size_t(index.row())].cells.value(index.column());
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_headers.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[section];
    // A first click on a header sorts ascending, whatever was sorted before.
    if (role == Qt::InitialSortOrderRole)
        return int(Qt::AscendingOrder);
    return {};
}

QString HistoryModel::text(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return m_rows[size_t(row)].cells.value(column);
}

QStringList HistoryModel::columnInAddedOrder(int column) const
{
    std::vector<const Row *> rows;
    rows.reserve(m_rows.size());
    for (const Row &r : m_rows)
        rows.push_back(&r);
    std::sort(rows.begin(), rows.end(), [](const Row *a, const Row *b) { return a->seq < b->seq; });
    QStringList out;
    out.reserve(qsizetype(rows.size()));
    for (const Row *r : rows)
        out << r->cells.value(column);
    return out;
}

bool HistoryModel::before(const Row &a, const Row &b) const
{
    const int c =
        QString::compare(a.cells.value(m_sortColumn), b.cells.value(m_sortColumn), Qt::CaseInsensitive);
    return m_sortOrder == Qt::AscendingOrder ? c < 0 : c > 0;
}

int HistoryModel::addRow(const QStringList &cells)
{
    Row row{m_nextSeq++, cells};
    while (row.cells.size() < m_headers.size())
        row.cells << QString();
    int at = int(m_rows.size());
    if (m_sortColumn >= 0) {
        // After every row it does not sort before, so equal texts stay in the order added.
        const auto it = std::upper_bound(m_rows.begin(), m_rows.end(), row,
                                         [this](const Row &a, const Row &b) { return before(a, b); });
        at = int(it - m_rows.begin());
    }
    beginInsertRows(QModelIndex(), at, at);
    m_rows.insert(m_rows.begin() + at, std::move(row));
    endInsertRows();
    return at;
}

void HistoryModel::clear()
{
    if (m_rows.empty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(m_rows.size()) - 1);
    m_rows.clear();
    endRemoveRows();
}

void HistoryModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columnCount())
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList oldPersistent = persistentIndexList();
    std::vector<quint64> oldSeq;
    oldSeq.reserve(size_t(oldPersistent.size()));
    for (const QModelIndex &i : oldPersistent)
        oldSeq.push_back(m_rows[size_t(i.row())].seq);

    m_sortColumn = column;
    m_sortOrder = order;
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [this](const Row &a, const Row &b) { return before(a, b); });

    QModelIndexList newPersistent;
    newPersistent.reserve(oldPersistent.size());
    for (qsizetype k = 0; k < oldPersistent.size(); ++k) {
        const auto it = std::find_if(m_rows.begin(), m_rows.end(),
                                     [&](const Row &r) { return r.seq == oldSeq[size_t(k)]; });
        newPersistent << index(int(it - m_rows.begin()), oldPersistent[k].column());
    }
    changePersistentIndexList(oldPersistent, newPersistent);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
