#include "core/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ProgramFolder {

QString dataDir()
{
    const QString env = qEnvironmentVariable("TARNWELL_DATA_DIR");
    if (!env.isEmpty())
        return QDir::cleanPath(env);

    // The installed folder is found from the executable's own place, so an
    // install under any prefix (or a package unpacked anywhere) finds its files.
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        appDir + QStringLiteral("/data"),                                    // build tree
        appDir + QLatin1Char('/') + QStringLiteral(TARNWELL_INSTALLED_DATA), // installed
    };
    for (const QString &c : candidates) {
        if (QFileInfo(c).isDir())
            return QDir::cleanPath(c);
    }
    return QDir::cleanPath(candidates.first());
}

QString dataFile(const QString &name)
{
    return dataDir() + QLatin1Char('/') + name;
}

QString dataFileUserFirst(const QString &name)
{
    const QString own = writableDir() + QLatin1Char('/') + name;
    return QFileInfo::exists(own) ? own : dataFile(name);
}

QString writableDir()
{
    QString dir = qEnvironmentVariable("TARNWELL_HOME");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/share/tarnwell");
    QDir().mkpath(dir);
    return QDir::cleanPath(dir);
}

} // namespace ProgramFolder
