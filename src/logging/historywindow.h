#pragma once

#include <QPersistentModelIndex>
#include <QStringList>
#include <QWidget>
#include <vector>

class HistoryModel;
class QPushButton;
class QTreeView;
class frmLogging;

/// What the event and state histories share: the numbered, time-stamped list
/// `lstDetails` with its row limit, header sorting, twip layout, the "Close"
/// button and the help key. Closing only hides the window.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    /// Gives the list the user's font.
    void SetUserFont(const QFont &font);
    /// Where every added line is logged (not owned; may be null).
    void setLogging(frmLogging *logging) { m_logging = logging; }
    frmLogging *logging() const { return m_logging; }

    int helpTopic() const { return m_helpTopic; }
    QTreeView *list() const { return m_list; }
    HistoryModel *model() const { return m_model; }
    int rowCount() const;

    /// A header click: sorts ascending on a new column, reverses on the same one.
    void sortByColumn(int column);
    /// Sets the column widths and widens the last column (done on activation).
    void applyColumnWidths();

    static constexpr int kMinWidthTwips = 4000;
    static constexpr int kMinHeightTwips = 3000;

Q_SIGNALS:
    /// A line was added and handed to the log, with the text the log received.
    void lineLogged(const QString &text);

protected:
    HistoryWindow(const QString &name, const QStringList &headers, std::vector<int> widthsTwips,
                  int helpTopic, QWidget *parent);

    /// The row limit, never below 0 (a negative one would clear without end).
    static int rowLimit();
    /// Empties the list when it already holds more rows than the limit.
    bool clearIfOverLimit();
    /// Adds "#" and "Time" in front of the cells and selects the new row
    /// (on the event loop's next turn).
    int addLine(const QStringList &cells);
    void selectRow(int row);

    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    frmLogging *m_logging = nullptr;

private:
    void layoutControls();
    void widenLastColumn();

    HistoryModel *m_model = nullptr;
    QTreeView *m_list = nullptr;
    QPushButton *m_cmdClose = nullptr;
    std::vector<int> m_widthsTwips;
    int m_helpTopic = 0;
    QPersistentModelIndex m_rowToSelect;
    bool m_selectQueued = false;
};
