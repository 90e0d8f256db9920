#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

/// The rows of a history list: one text per column. Once sorted on a column,
/// the list stays sorted: new rows go to their place in that order, as in a
/// sorted list view. The order in which rows were added is kept as well.
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit HistoryModel(const QStringList &headers, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    /// Sorts by the text of a column (case-insensitive; equal texts keep their order).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// Adds a row (one text per column, missing ones empty); returns its row.
    int addRow(const QStringList &cells);
    void clear();

    QString text(int row, int column) const;
    /// The texts of a column in the order the rows were added.
    QStringList columnInAddedOrder(int column) const;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    struct Row
    {
        quint64 seq;
        QStringList cells;
    };
    bool before(const Row &a, const Row &b) const;

    QStringList m_headers;
    std::vector<Row> m_rows;
    quint64 m_nextSeq = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
