#pragma once

#include <QString>

namespace Version {
constexpr int kMajor = TARNWELL_VERSION_MAJOR;
constexpr int kMinor = TARNWELL_VERSION_MINOR;
constexpr int kRevision = TARNWELL_VERSION_PATCH;
/// "Ver 3.1"
inline QString versionText()
{
    return QStringLiteral("Ver %1.%2").arg(kMajor).arg(kMinor);
}
/// "Build: " + (revision + 2000)
inline QString buildText()
{
    return QStringLiteral("Build: %1").arg(kRevision + 2000);
}
} // namespace Version
