#pragma once

#include <QString>

/// Controls that exist once per mode (or per index) carry their index in
/// their object name as "<name>_<index>", for example "lvwReceived_0" or
/// "cmdPort_3", so tests and scripts can find each one.
inline QString indexedName(const char *name, int index)
{
    return QString::fromLatin1(name) + QLatin1Char('_') + QString::number(index);
}

/// Names a control "<name>", or "<name>_<index>" for an index of 0 or more,
/// and returns it.
template <typename W> W *named(W *w, const char *name, int index = -1)
{
    w->setObjectName(index < 0 ? QString::fromLatin1(name) : indexedName(name, index));
    return w;
}
