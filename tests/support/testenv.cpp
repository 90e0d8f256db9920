#include "support/testenv.h"

#include <QFile>

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
    QFile f(iniPath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
    f.close();
    reopen();
}

void TempSettings::reopen()
{
    SettingsStore::setInstance(nullptr);
    m_store = std::make_unique<SettingsStore>(iniPath());
    SettingsStore::setInstance(m_store.get());
}
