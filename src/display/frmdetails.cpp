#include "display/frmdetails.h"

#include "core/oserror.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/detailsview.h"
#include "ui/twips.h"
#include "ui/uiservice.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <new>

namespace {
// The stretch of a text view the viewer takes from the caret.
constexpr qsizetype kTextViewExcerpt = 300;
constexpr int kWidthTwips = 6400;
constexpr int kHeightTwips = 4200;

const char *const kOptionCaptions[] = {"WYSIWYG", "Chr", "Dec", "Hex", "Bin", "Oct"};
const char *const kWindowCaptions[] = {"Details - WYSIWYG",         "Details - Character",
                                       "Details - AscII (Decimal)", "Details - AscII (Hexadecimal)",
                                       "Details - AscII (Binary)",  "Details - AscII (Octal)"};
} // namespace

frmDetails::frmDetails(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDetails"));
    setWindowTitle(QStringLiteral("Details"));
    setModal(false);

    txtDetails = new DetailsView;
    txtDetails->setObjectName(QStringLiteral("txtDetails"));
    auto *options = new QHBoxLayout;
    auto *group = new QButtonGroup(this);
    for (int i = 0; i < DetailsLayout::kRepresentationCount; ++i) {
        auto *option = new QRadioButton(QString::fromLatin1(kOptionCaptions[i]));
        option->setObjectName(QStringLiteral("optDetails_") + QString::number(i));
        group->addButton(option, i);
        options->addWidget(option);
        optDetails[size_t(i)] = option;
    }
    options->addStretch(1);
    optDetails[m_representation]->setChecked(true);
    connect(group, &QButtonGroup::idClicked, this, [this](int id) { setRepresentation(Representation(id)); });

    chkTrackLatestData = new QCheckBox(QStringLiteral("Auto-display the latest data"));
    chkTrackLatestData->setObjectName(QStringLiteral("chkTrackLatestData"));
    cmdOK = new QPushButton(QStringLiteral("OK"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setAutoDefault(false);
    connect(cmdOK, &QPushButton::clicked, this, &QWidget::hide);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(chkTrackLatestData);
    bottom->addStretch(1);
    bottom->addWidget(cmdOK);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtDetails, 1);
    layout->addLayout(options);
    layout->addLayout(bottom);
    setMinimumSize(minimumSizeHint());
    resize(Twips::toPixels(kWidthTwips, kHeightTwips).expandedTo(minimumSizeHint()));
}

QString frmDetails::captionOf(Representation representation)
{
    return QString::fromLatin1(kWindowCaptions[representation]);
}

void frmDetails::AddDetails(const QByteArray &strText)
{
    refresh(strText);
}

void frmDetails::setRepresentation(Representation representation)
{
    if (representation < 0 || representation >= DetailsLayout::kRepresentationCount)
        return;
    m_representation = representation;
    optDetails[representation]->setChecked(true);
    refresh(m_text);
}

void frmDetails::refresh(const QByteArray &text)
{
    // The view renders only what is on screen, so no busy pointer is needed
    // however long the text; only running out of memory can fail here.
    try {
        txtDetails->setContent(text, m_representation);
        m_text = text;
        setWindowTitle(captionOf(m_representation));
    } catch (const std::bad_alloc &) {
        tw::ui().failure(
            this,
            QStringLiteral("An error occurred while attempting to display the requested information.  "
                           "The operating system reports: "),
            OsError{ENOMEM, QString::fromLocal8Bit(std::strerror(ENOMEM))});
        txtDetails->setContent(m_text, m_representation);
    }
}

void frmDetails::SetUserFont(const QFont &fntFont)
{
    txtDetails->setFont(fntFont);
}

void frmDetails::OpenDetails(const DataTab &tab)
{
    showOn(tab, true);
}

void frmDetails::showOn(const DataTab &tab, bool activate)
{
    if (tab.listView) {
        if (tab.list && tab.list->selectionModel()) {
            QItemSelectionModel *selection = tab.list->selectionModel();
            QModelIndex row = tab.list->currentIndex();
            if (!row.isValid() || !selection->isSelected(row)) {
                const QModelIndexList selected = selection->selectedIndexes();
                row = selected.isEmpty() ? QModelIndex() : selected.first();
            }
            if (row.isValid())
                AddDetails(row.data(DataListModel::RawRole).toByteArray());
        }
    } else if (tab.text) {
        AddDetails(tab.text->textAfterCaret(kTextViewExcerpt));
    }
    if (!isVisible())
        show();
    raise();
    if (activate)
        activateWindow();
}

void frmDetails::LatestDataAdded(const DataTab &tab)
{
    if (!chkTrackLatestData->isChecked())
        return;
    if (tab.listView) {
        const QAbstractItemModel *model = tab.list ? tab.list->model() : nullptr;
        if (model && model->rowCount() > 0)
            AddDetails(model->index(model->rowCount() - 1, 0).data(DataListModel::RawRole).toByteArray());
        return;
    }
    if (!tab.text)
        return;
    tab.text->setCaretOffset(std::max<qsizetype>(0, tab.text->length() - kTextViewExcerpt));
    // Brought to the front, not given the focus: data arriving must not take
    // the keyboard from the window the user types in.
    showOn(tab, false);
}

void frmDetails::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isMinimized())
        showNormal();
}
