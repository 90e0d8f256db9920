#include "setup/frmalmanac.h"

#include "core/bytes.h"
#include "core/itemreader.h"
#include "core/programfolder.h"
#include "sending/mergefile.h"
#include "ui/frmhelp.h"
#include "ui/twips.h"
#include "ui/uiservice.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cerrno>

namespace {
// Rows compare by the text of the sort column, without regard to case.
class AlmanacItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
        return text(c).compare(other.text(c), Qt::CaseInsensitive) < 0;
    }
};

QPushButton *button(const QString &caption, const char *name)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

// The window in use, over the window that asks for it.
template <class Window> Window *sharedWindow(QWidget *owner)
{
    static QPointer<Window> window;
    if (!window)
        window = new Window(owner);
    else if (window->parentWidget() != owner)
        window->setParent(owner, window->windowFlags());
    return window;
}
} // namespace

frmAlmanac::Rows frmAlmanac::ReadFile(const QString &path, int fields)
{
    Rows out;
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        out.error = Merge::openError(path);
        return out;
    }
    QByteArray data = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        out.error = OsError{EIO, file.errorString()};
        return out;
    }
    const bool tooLarge = data.size() > kMaxFileBytes;
    if (tooLarge) {
        // Whole lines only, so that the last row shown is not a broken one.
        const qsizetype lineEnd =
            std::max(data.lastIndexOf('\n', kMaxFileBytes - 1), data.lastIndexOf('\r', kMaxFileBytes - 1));
        data.truncate(lineEnd + 1);
    }
    const ItemReader::Records read = ItemReader::readRecords(data, fields);
    out.rows.reserve(read.records.size());
    for (const QByteArrayList &record : read.records) {
        QStringList row;
        for (const QByteArray &item : record)
            row << Bytes::toText(item);
        out.rows << row;
    }
    using Problem = ItemReader::Records::Problem;
    if (tooLarge)
        out.error =
            OsError{EFBIG, QStringLiteral("The file is larger than %1 KB; the rows of its first %1 KB "
                                          "are shown.")
                               .arg(kMaxFileBytes / 1024)};
    else if (read.problem == Problem::UnclosedQuote)
        out.error = OsError{
            EILSEQ,
            QStringLiteral("The quoted item that begins on line %1 is never closed.").arg(read.problemLine)};
    else if (read.problem == Problem::ShortRecord)
        out.error =
            OsError{ENODATA, QStringLiteral("The record that begins on line %1 is cut short by the end "
                                            "of the file.")
                                 .arg(read.problemLine)};
    return out;
}

frmAlmanac::frmAlmanac(const Kind &kind, QWidget *parent) : QDialog(parent), m_kind(kind)
{
    setWindowTitle(QStringLiteral("Server Selection"));
    setAttribute(Qt::WA_DeleteOnClose);
    lblSelect = new QLabel(kind.label);
    lstDetails = new QTreeWidget;
    lstDetails->setObjectName(QStringLiteral("lstDetails"));
    lstDetails->setRootIsDecorated(false);
    lstDetails->setUniformRowHeights(true);
    lstDetails->setAllColumnsShowFocus(true);
    lstDetails->setSelectionMode(QAbstractItemView::SingleSelection);
    lstDetails->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList headers;
    for (const auto &c : kind.columns)
        headers << c.first;
    lstDetails->setHeaderLabels(headers);
    for (int c = 0; c < kind.columns.size(); ++c)
        lstDetails->setColumnWidth(c, Twips::toPixelsX(kind.columns[c].second));
    QHeaderView *header = lstDetails->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(true); // the last column takes the remaining width
    lblSelect->setBuddy(lstDetails);
    cmdOK = button(QStringLiteral("OK"), "cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = button(QStringLiteral("Cancel"), "cmdCancel");

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    const int margin = Twips::toPixelsX(120);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(lblSelect);
    layout->addWidget(lstDetails, 1);
    layout->addLayout(buttons);
    setMinimumSize(Twips::toPixels(4000, 3000));
    int width = 0;
    for (const auto &c : kind.columns)
        width += Twips::toPixelsX(c.second);
    resize(std::max(minimumWidth(), width + 4 * margin), Twips::toPixelsY(4800));

    connect(cmdOK, &QPushButton::clicked, this, &frmAlmanac::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmAlmanac::cmdCancel_Click);
    connect(lstDetails, &QTreeWidget::itemDoubleClicked, this, [this] { cmdOK_Click(); });
    connect(header, &QHeaderView::sectionClicked, this, &frmAlmanac::lstDetails_ColumnClick);
    frmHelp::installHelpKey(this, [] { return kHelpTopic; });
}

void frmAlmanac::Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    const QString path = ProgramFolder::dataFileUserFirst(m_kind.file);
    const Rows read = ReadFile(path, int(m_kind.columns.size()));
    QList<QTreeWidgetItem *> items;
    items.reserve(read.rows.size());
    for (const QStringList &row : read.rows)
        items << new AlmanacItem(row);
    lstDetails->addTopLevelItems(items);
    if (m_kind.sorted)
        sortBy(0, Qt::AscendingOrder);
    if (read.error.isError())
        tw::ui().failure(this,
                         m_kind.failure + QDir::toNativeSeparators(path) +
                             QStringLiteral(". The operating system reports: "),
                         read.error);
}

void frmAlmanac::Choose(std::function<void(const QString &)> use)
{
    Load();
    m_result.clear();
    m_use = std::move(use);
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
}

void frmAlmanac::answer(const QString &result)
{
    m_result = result;
    hide();
    if (auto use = std::exchange(m_use, {}))
        use(result);
}

void frmAlmanac::cmdOK_Click()
{
    const QList<QTreeWidgetItem *> chosen = lstDetails->selectedItems();
    answer(chosen.isEmpty() ? QString() : chosen.first()->text(0));
}

void frmAlmanac::cmdCancel_Click()
{
    answer(kCancel);
}

void frmAlmanac::reject()
{
    cmdCancel_Click();
}

void frmAlmanac::closeEvent(QCloseEvent *event)
{
    // The close box discards the window: nothing is chosen, and the next use
    // reads the file again.
    event->accept();
    answer(QString());
}

void frmAlmanac::lstDetails_ColumnClick(int column)
{
    const bool reverse = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder;
    sortBy(column, reverse ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void frmAlmanac::sortBy(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
    lstDetails->sortItems(column, order);
    lstDetails->header()->setSortIndicatorShown(true);
    lstDetails->header()->setSortIndicator(column, order);
}

frmServer::frmServer(QWidget *parent)
    : frmAlmanac({QStringLiteral("Servers.txt"),
                  QStringLiteral("Select a common server:"),
                  {{QStringLiteral("Server"), 1950},
                   {QStringLiteral("Type"), 600},
                   {QStringLiteral("Description"), 2000}},
                  QStringLiteral(
                      "An error occurred while attempting to retrieve the server information from the file "
                      "located at "),
                  true},
                 parent)
{
    setObjectName(QStringLiteral("frmServer"));
}

frmServer *frmServer::shared(QWidget *owner)
{
    return sharedWindow<frmServer>(owner);
}

frmPort::frmPort(QWidget *parent)
    : frmAlmanac(
          {QStringLiteral("Ports.txt"),
           QStringLiteral("Select a well-known port:"),
           {{QStringLiteral("Port Number"), 1000}, {QStringLiteral("Description"), 3600}},
           QStringLiteral("An error occurred while attempting to retrieve the port information from the file "
                          "located at "),
           false},
          parent)
{
    setObjectName(QStringLiteral("frmPort"));
}

frmPort *frmPort::shared(QWidget *owner)
{
    return sharedWindow<frmPort>(owner);
}
