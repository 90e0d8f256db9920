#include "support/testenv.h"

#include "core/optionssource.h"
#include "options/frmoptions.h"
#include "options/optionsmodel.h"

#include <QCoreApplication>
#include <QFile>
#include <numeric>
#include <poll.h>
#include <unistd.h>

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString putFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

qsizetype drainPipe(int fd, QByteArray &into)
{
    char buffer[65536];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 10) > 0;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        into.append(buffer, n);
    }
    return into.size();
}

QByteArray everyByte()
{
    QByteArray data(256, Qt::Uninitialized);
    std::iota(data.begin(), data.end(), char(0));
    return data;
}

QStringList texts(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *t : items)
        out << QString::fromLatin1(t);
    return out;
}

void dropOptions()
{
    delete frmOptions::instance();
    qDeleteAll(QCoreApplication::instance()->findChildren<OptionsModel *>(Qt::FindDirectChildrenOnly));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    tw::setOptionsFactory(nullptr);
    tw::setOptions(nullptr);
}

TempSettings::TempSettings()
{
    // Nothing a test does may touch the real user settings or folders.
    qputenv("TARNWELL_HOME", m_dir.path().toLocal8Bit());
    qputenv("TARNWELL_CONFIG_DIR", m_dir.path().toLocal8Bit());
    reopen();
}

TempSettings::~TempSettings()
{
    SettingsStore::setInstance(nullptr);
}

void TempSettings::writeIni(const QByteArray &text)
{
    putFile(iniPath(), text);
    reopen();
}

void TempSettings::reopen()
{
    SettingsStore::setInstance(nullptr);
    m_store = std::make_unique<SettingsStore>(iniPath());
    SettingsStore::setInstance(m_store.get());
}

QString TempSettings::underAFile(const QString &name)
{
    const QString plain = path(QStringLiteral("plain"));
    if (!QFile::exists(plain))
        putFile(plain, {});
    return plain + QLatin1Char('/') + name;
}

double statusMiB(const char *field)
{
    for (const QByteArray &line : fileBytes(QStringLiteral("/proc/self/status")).split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}
