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
