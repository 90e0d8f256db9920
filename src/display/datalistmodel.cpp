#include "display/datalistmodel.h"

DataListModel::DataListModel(QObject *parent) : QAbstractTableModel(parent) {}

void DataListModel::setColumns(const QList<Column_> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
}

void DataListModel::setHeaderText(int column, const QString &text)
{
    if (column < 0 || column >= m_columns.size())
        return;
    m_columns[column].header = text;
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

int DataListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 0;
}

int DataListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DataListModel::data(const QModelIndex &, int) const
{
    return {};
}

QVariant DataListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_columns.value(section).header;
    return {};
}
