// The main window's side of the filter and the details viewers: creating the
// filter window and wiring the buttons, double clicks and data notifications
// that open or feed them.

#include "controller/frmtarnwell.h"
#include "display/datatextview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"

#include <QCheckBox>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

namespace {
frmDetails::DataTab dataTab(const ModeControls &t)
{
    return {t.chkReceivedFields->isChecked(), t.lvwReceived, t.txtReceived};
}
} // namespace

void frmTarnwell::createFilterWindow()
{
    m_frmFilter = new frmFilter;
    m_frmFilter->setAllowUnload([this] { return blnAllowUnload; });
    connect(m_frmFilter, &frmFilter::FilterChanged, this, &frmTarnwell::RefreshStatusLine);
    m_frmFilter->LoadSettings();
}

void frmTarnwell::wireDataViewers()
{
    for (int i = 0; i < 3; ++i) {
        ModeControls &t = tabs[i];
        auto open = [this, i] {
            if (m_frmDetailsReceived)
                m_frmDetailsReceived->OpenDetails(dataTab(tabs[i]));
        };
        connect(t.cmdReceivedDetails, &QAbstractButton::clicked, this, open);
        connect(t.lvwReceived, &QAbstractItemView::doubleClicked, this, open);
        connect(t.txtReceived, &DataTextView::doubleClicked, this, open);
        if (t.cmdFilter)
            connect(t.cmdFilter, &QAbstractButton::clicked, this, [this] {
                m_frmFilter->show();
                m_frmFilter->raise();
                m_frmFilter->activateWindow();
            });
    }
}

void frmTarnwell::SentDataAdded()
{
    if (m_frmDetailsSent)
        m_frmDetailsSent->LatestDataAdded(dataTab(tabs[intCurrentMode]));
}

void frmTarnwell::ReceivedDataAdded()
{
    if (m_frmDetailsReceived)
        m_frmDetailsReceived->LatestDataAdded(dataTab(tabs[intCurrentMode]));
}
