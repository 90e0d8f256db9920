#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>
#include <vector>

/// The rows of one data list: number, time, direction, socket label and the
/// message or its fields, with the raw message kept as the row's tag.
class DataListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColNumber, ColTime, ColDirection, ColSocket, ColMessage, FixedColumnCount };

    struct Column_
    {
        QString header;
        int widthTwips = 0;
    };

    explicit DataListModel(QObject *parent = nullptr);

    /// Sets the load-time columns ("#", "Time", direction, "Sock#", "Message").
    void setColumns(const QList<Column_> &columns);
    QString headerText(int column) const { return m_columns.value(column).header; }
    void setHeaderText(int column, const QString &text);
    int columnWidthTwips(int column) const { return m_columns.value(column).widthTwips; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<Column_> m_columns;
};
