#include "display/supportclass.h"

namespace {
SupportClass *g_shared = nullptr;
}

SupportClass *SupportClass::shared()
{
    return g_shared;
}

void SupportClass::setShared(SupportClass *support)
{
    g_shared = support;
}

#include "core/frmtimer.h"
#include "ui/frmwait.h"

SupportClass::SupportClass(QObject *parent) : QObject(parent)
{
    // The display routine's progress delay: its window appears only after a second.
    m_tmrProgress = new frmTimer(this);
}

SupportClass::~SupportClass()
{
    delete m_progress.data();
    if (g_shared == this)
        g_shared = nullptr;
}

frmWait *SupportClass::progressWindow()
{
    if (!m_progress) {
        m_progress = new frmWait;
        connect(m_progress, &frmWait::Cancel, this, [this] { m_cancelled = true; });
    }
    return m_progress;
}
