#include "display/frmfilter.h"

#include "core/bytes.h"
#include "core/eventlog.h"
#include "core/optionssource.h"
#include "options/settingsstore.h"
#include "ui/objectnames.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kSection = QStringLiteral("Filter");
const QString kStateKey = QStringLiteral("FilterState");
constexpr int kWidthTwips = 4800;

QString stringKey(int box)
{
    return QStringLiteral("Filter") + QString::number(box + 1);
}
} // namespace

frmFilter::frmFilter(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmFilter"));
    setWindowTitle(QStringLiteral("Filter"));

    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("In the Details view, only show messages that contain:"));
    label->setObjectName(QStringLiteral("lblFilter"));
    layout->addWidget(label);
    for (int i = 0; i < MessageFilter::kStringCount; ++i) {
        txtFilter[size_t(i)] = new QLineEdit;
        txtFilter[size_t(i)]->setObjectName(indexedName("txtFilter", i));
        layout->addWidget(txtFilter[size_t(i)]);
        connect(txtFilter[size_t(i)], &QLineEdit::textChanged, this, [this, i](const QString &text) {
            m_filter.setString(i, Bytes::fromText(text));
            filterEdited();
        });
    }
    auto *bottom = new QHBoxLayout;
    chkFilterOn = new QCheckBox(QStringLiteral("Filtering On"));
    chkFilterOn->setObjectName(QStringLiteral("chkFilterOn"));
    cmdOK = new QPushButton(QStringLiteral("Close"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    bottom->addWidget(chkFilterOn);
    bottom->addStretch(1);
    bottom->addWidget(cmdOK);
    layout->addStretch(1);
    layout->addLayout(bottom);
    connect(chkFilterOn, &QCheckBox::toggled, this, [this] { filterEdited(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });

    setMinimumSize(minimumSizeHint());
    resize(std::max(Twips::toPixelsX(kWidthTwips), minimumSizeHint().width()), minimumSizeHint().height());
}

void frmFilter::LoadSettings()
{
    const SettingsStore &store = SettingsStore::instance();
    for (int i = 0; i < MessageFilter::kStringCount; ++i)
        txtFilter[size_t(i)]->setText(store.Read(kSection, stringKey(i)));
    bool ok = false;
    const int state = store.Read(kSection, kStateKey, 0).trimmed().toInt(&ok);
    chkFilterOn->setChecked(ok && state == 1);
}

void frmFilter::cmdOK_Click()
{
    SettingsStore &store = SettingsStore::instance();
    for (int i = 0; i < MessageFilter::kStringCount; ++i)
        store.Save(kSection, stringKey(i), txtFilter[size_t(i)]->text());
    store.Save(kSection, kStateKey, chkFilterOn->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    hide();
}

bool frmFilter::FilterOn() const
{
    return chkFilterOn->isChecked();
}

bool frmFilter::PassesFilter(const QByteArray &strMessage) const
{
    return m_filter.passes(strMessage, tw::options().CaseSensitive());
}

void frmFilter::filterEdited()
{
    Q_EMIT FilterChanged();
    if (!chkFilterOn->isChecked()) {
        tw::events().AddEvent(QStringLiteral("The filtering has been disabled."));
        return;
    }
    tw::events().AddEvent(QStringLiteral("The filtering has been enabled. ('") + txtFilter[0]->text() +
                          QStringLiteral("', '") + txtFilter[1]->text() + QStringLiteral("', '") +
                          txtFilter[2]->text() + QStringLiteral("' or '") + txtFilter[3]->text() +
                          QStringLiteral("')"));
}

void frmFilter::closeEvent(QCloseEvent *event)
{
    if (m_allowUnload && m_allowUnload()) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
}
