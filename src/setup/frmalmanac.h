#pragma once

#include "core/oserror.h"

#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;

/// A pick-list read from a file the user may edit: the server almanac or the
/// port almanac. It is read on first use and kept, hidden, between showings;
/// its close box discards it, and the next use reads the file again.
class frmAlmanac : public QDialog
{
    Q_OBJECT
public:
    static inline const QString kCancel = QStringLiteral("CANCEL");
    static constexpr int kHelpTopic = 21;
    /// Beyond this the file is not a list to pick from: the rows of its
    /// first part are shown and the user is told.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    /// The complete records of a file, and why reading stopped early if it did.
    struct Rows
    {
        QList<QStringList> rows;
        OsError error;
    };
    static Rows ReadFile(const QString &path, int fields);

    QLabel *lblSelect = nullptr;
    QTreeWidget *lstDetails = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

    /// Reads the file into the list the first time; later calls keep the list.
    void Load();
    /// Shows the window, blocking the program's other windows, until it is
    /// answered; then use gets the result (see result()).
    void Choose(std::function<void(const QString &)> use);
    /// "CANCEL" after Cancel, the first column of the chosen row after OK,
    /// empty while unanswered or after the close box.
    QString result() const { return m_result; }

    /// OK or a double click: the selected row's first column (nothing when
    /// no row is selected); hides.
    void cmdOK_Click();
    /// Cancel (or Esc): "CANCEL"; hides.
    void cmdCancel_Click();
    /// A header click: that column ascending, or the other way round when it
    /// is the sort column already.
    void lstDetails_ColumnClick(int column);

    void reject() override;

protected:
    struct Kind
    {
        QString file;
        QString label;
        QList<QPair<QString, int>> columns; // header, width in twips
        QString failure;                    // the failure sentence before the path
        bool sorted;                        // by the first column once read
    };
    frmAlmanac(const Kind &kind, QWidget *parent);
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(const QString &result);
    void sortBy(int column, Qt::SortOrder order);

    Kind m_kind;
    QString m_result;
    std::function<void(const QString &)> m_use;
    bool m_loaded = false;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

/// The server almanac (Servers.txt): server, type, description, sorted by server.
class frmServer : public frmAlmanac
{
    Q_OBJECT
public:
    explicit frmServer(QWidget *parent = nullptr);
    /// The window in use over owner, made (and its file read) after a discard.
    static frmServer *shared(QWidget *owner);
};

/// The port almanac (Ports.txt): port number, description, in the file's order.
class frmPort : public frmAlmanac
{
    Q_OBJECT
public:
    explicit frmPort(QWidget *parent = nullptr);
    static frmPort *shared(QWidget *owner);
};
