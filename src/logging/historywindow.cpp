#include "logging/historywindow.h"

#include "core/bytes.h"
#include "core/optionssource.h"
#include "logging/historymodel.h"
#include "ui/frmhelp.h"
#include "ui/twips.h"
#include "ui/uiservice.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>

namespace {
constexpr int kMarginTwips = 120;
constexpr int kNarrowerTwips = 360;
constexpr int kBelowListTwips = 900;
constexpr int kLastColumnSlackTwips = 350;
constexpr int kButtonWidthTwips = 1215;
constexpr int kButtonHeightTwips = 375;
} // namespace

HistoryWindow::HistoryWindow(const QString &name, const QStringList &headers, std::vector<int> widthsTwips,
                             int helpTopic, QWidget *parent)
    : QWidget(parent, Qt::Window), m_widthsTwips(std::move(widthsTwips)), m_helpTopic(helpTopic)
{
    setObjectName(name);

    m_model = new HistoryModel(headers, this);
    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("lstDetails"));
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView *header = m_list->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    connect(header, &QHeaderView::sectionClicked, this, &HistoryWindow::sortByColumn);

    m_cmdClose = new QPushButton(QStringLiteral("Close"), this);
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::hide);

    frmHelp::installHelpKey(this, [this] { return m_helpTopic; });

    setMinimumSize(Twips::toPixels(kMinWidthTwips, kMinHeightTwips));
    resize(Twips::toPixels(6000, 4500));
    applyColumnWidths();
}

int HistoryWindow::rowCount() const
{
    return m_model->rowCount();
}

void HistoryWindow::SetUserFont(const QFont &font)
{
    m_list->setFont(font);
}

int HistoryWindow::rowLimit()
{
    return std::max(0, int(tw::options().GetMaxListLength()));
}

bool HistoryWindow::clearIfOverLimit()
{
    // The limit is read first: the first read of a run may create the
    // options model, whose option block lands in the event history.
    const int limit = rowLimit();
    if (m_model->rowCount() <= limit)
        return false;
    m_model->clear();
    return true;
}

int HistoryWindow::addLine(const QStringList &cells)
{
    const QString number = QString::number(m_model->rowCount() + 1).rightJustified(3, QLatin1Char('0'));
    const int row = m_model->addRow(QStringList{number, Bytes::GetTime(false)} + cells);
    selectRow(row);
    return row;
}

void HistoryWindow::selectRow(int row)
{
    // Selecting lays the whole list out anew: in a burst of lines (a flood
    // that clears the data list at its limits adds one per clearing) the
    // newest is selected once, when the burst lets the event loop turn.
    m_rowToSelect = QPersistentModelIndex(m_model->index(row, 0));
    if (m_selectQueued)
        return;
    m_selectQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_selectQueued = false;
            if (!m_rowToSelect.isValid())
                return;
            m_list->setCurrentIndex(m_rowToSelect);
            m_list->scrollTo(m_rowToSelect);
        },
        Qt::QueuedConnection);
}

void HistoryWindow::sortByColumn(int column)
{
    const Qt::SortOrder order =
        (column == m_model->sortColumn() && m_model->sortOrder() == Qt::AscendingOrder) ? Qt::DescendingOrder
                                                                                        : Qt::AscendingOrder;
    m_model->sort(column, order);
    m_list->header()->setSortIndicatorShown(true);
    m_list->header()->setSortIndicator(column, order);
    if (m_list->currentIndex().isValid())
        m_list->scrollTo(m_list->currentIndex());
}

void HistoryWindow::applyColumnWidths()
{
    for (size_t i = 0; i < m_widthsTwips.size() && int(i) < m_model->columnCount(); ++i)
        m_list->setColumnWidth(int(i), Twips::toPixelsX(m_widthsTwips[i]));
    widenLastColumn();
}

void HistoryWindow::widenLastColumn()
{
    const int last = m_model->columnCount() - 1;
    if (last < 0)
        return;
    const int width =
        m_list->width() - m_list->header()->sectionPosition(last) - Twips::toPixelsX(kLastColumnSlackTwips);
    m_list->setColumnWidth(last, std::max(m_list->header()->minimumSectionSize(), width));
}

void HistoryWindow::layoutControls()
{
    if (isMinimized())
        return;
    const int margin = Twips::toPixelsX(kMarginTwips);
    const int top = Twips::toPixelsY(kMarginTwips);
    const int listWidth = std::max(0, width() - Twips::toPixelsX(kNarrowerTwips));
    const int listHeight = std::max(0, height() - top - Twips::toPixelsY(kBelowListTwips));
    m_list->setGeometry(margin, top, listWidth, listHeight);

    const QSize button = Twips::toPixels(kButtonWidthTwips, kButtonHeightTwips);
    const int below = top + listHeight;
    m_cmdClose->setGeometry(margin + listWidth - button.width(),
                            below + (height() - below - button.height()) / 2, button.width(),
                            button.height());
    widenLastColumn();
}

void HistoryWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        if (isMinimized())
            showNormal();
        applyColumnWidths();
        layoutControls();
    }
}

void HistoryWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

void HistoryWindow::closeEvent(QCloseEvent *event)
{
    // The history lives for the whole run; the close box only hides it.
    event->ignore();
    hide();
}
