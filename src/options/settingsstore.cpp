#include "options/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <memory>

namespace {
std::unique_ptr<SettingsStore> g_owned;
SettingsStore *g_store = nullptr;

bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7f;
}
} // namespace

SettingsStore::SettingsStore(const QString &filePath) : m_path(filePath)
{
    load();
}

QString SettingsStore::defaultFilePath()
{
    QString dir = qEnvironmentVariable("TARNWELL_CONFIG_DIR");
    if (dir.isEmpty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        if (dir.isEmpty())
            dir = QDir::homePath() + QStringLiteral("/.config");
        dir += QStringLiteral("/tarnwell");
    }
    return QDir::cleanPath(dir) + QStringLiteral("/tarnwell.ini");
}

SettingsStore &SettingsStore::instance()
{
    if (!g_store) {
        g_owned = std::make_unique<SettingsStore>(defaultFilePath());
        g_store = g_owned.get();
    }
    return *g_store;
}

void SettingsStore::setInstance(SettingsStore *store)
{
    g_store = store;
}

// Values may hold any character, including line breaks and the bytes of send
// data, so backslash and control characters are escaped, and blanks at either
// end are escaped so that no editor or reader trims them.
QString SettingsStore::encodeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const bool edgeBlank = c == QLatin1Char(' ') && (i == 0 || i == value.size() - 1);
        if (c == QLatin1Char('\\')) {
            out += QStringLiteral("\\\\");
        } else if (isControl(c.unicode()) || edgeBlank) {
            out += QStringLiteral("\\x") + QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

QString SettingsStore::decodeValue(const QString &text, bool *ok)
{
    QString out;
    out.reserve(text.size());
    bool good = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            ++i;
        } else if (i + 3 < text.size() && text.at(i + 1) == QLatin1Char('x')) {
            bool hexOk = false;
            const int v = text.mid(i + 2, 2).toInt(&hexOk, 16);
            if (hexOk) {
                out += QChar(v);
                i += 3;
            } else {
                good = false;
                out += c;
            }
        } else {
            good = false;
            out += c;
        }
    }
    if (ok)
        *ok = good;
    return out;
}

void SettingsStore::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        setAside(QStringLiteral("could not be read (%1)").arg(file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (!parse(bytes)) {
        m_sections.clear();
        m_sectionIndex.clear();
        setAside(QStringLiteral("is damaged"));
    }
}

bool SettingsStore::parse(const QByteArray &bytes)
{
    auto decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError() || text.contains(QChar(0)))
        return false;

    Section *current = nullptr;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']')))
                return false;
            const QString name = trimmed.mid(1, trimmed.size() - 2);
            const QString f = fold(name);
            auto it = m_sectionIndex.constFind(f);
            if (it == m_sectionIndex.constEnd()) {
                m_sectionIndex.insert(f, int(m_sections.size()));
                m_sections.push_back(Section{name, {}, {}});
                current = &m_sections.back();
            } else {
                current = &m_sections[*it];
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || !current)
            return false;
        bool okKey = true, okValue = true;
        const QString key = decodeValue(line.left(eq).trimmed(), &okKey);
        const QString value = decodeValue(line.mid(eq + 1), &okValue);
        if (!okKey || !okValue)
            return false;
        const QString fk = fold(key);
        auto it = current->index.constFind(fk);
        if (it == current->index.constEnd()) {
            current->index.insert(fk, int(current->entries.size()));
            current->entries.push_back(Entry{key, value});
        } else {
            current->entries[*it].value = value;
        }
    }
    return true;
}

void SettingsStore::setAside(const QString &why)
{
    // Keep the user's file under a new name so nothing written later destroys it.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString keep = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 1; QFileInfo::exists(keep); ++n)
        keep = m_path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (QFile::rename(m_path, keep) || QFile::copy(m_path, keep)) {
        m_problems << QStringLiteral("The settings file '%1' %2; it was kept as '%3' and the default settings are in use.")
                          .arg(QDir::toNativeSeparators(m_path), why, QDir::toNativeSeparators(keep));
    } else {
        m_problems << QStringLiteral("The settings file '%1' %2 and could not be kept aside; the default settings are "
                                     "in use and the file will not be written.")
                          .arg(QDir::toNativeSeparators(m_path), why);
        // Better to lose this run's changes than the user's file.
        m_writeFailedReported = true;
        m_path.clear();
    }
}

const SettingsStore::Section *SettingsStore::findSection(const QString &name) const
{
    auto it = m_sectionIndex.constFind(fold(name));
    return it == m_sectionIndex.constEnd() ? nullptr : &m_sections[*it];
}

QString SettingsStore::Read(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Section *s = findSection(section);
    if (!s)
        return defaultValue;
    auto it = s->index.constFind(fold(key));
    return it == s->index.constEnd() ? defaultValue : s->entries[*it].value;
}

bool SettingsStore::contains(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    return s && s->index.contains(fold(key));
}

QList<QPair<QString, QString>> SettingsStore::ReadAll(const QString &section) const
{
    QList<QPair<QString, QString>> out;
    if (const Section *s = findSection(section)) {
        for (const Entry &e : s->entries)
            out.append({e.key, e.value});
    }
    return out;
}

bool SettingsStore::Save(const QString &section, const QString &key, const QString &value)
{
    const QString fs = fold(section);
    auto sit = m_sectionIndex.constFind(fs);
    int si;
    if (sit == m_sectionIndex.constEnd()) {
        si = int(m_sections.size());
        m_sectionIndex.insert(fs, si);
        m_sections.push_back(Section{section, {}, {}});
    } else {
        si = *sit;
    }
    Section &s = m_sections[si];
    const QString fk = fold(key);
    auto kit = s.index.constFind(fk);
    if (kit == s.index.constEnd()) {
        s.index.insert(fk, int(s.entries.size()));
        s.entries.push_back(Entry{key, value});
    } else {
        if (s.entries[*kit].value == value)
            return true;
        s.entries[*kit].value = value;
    }
    return write();
}

bool SettingsStore::write()
{
    if (m_path.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QByteArray out;
    for (const Section &s : m_sections) {
        out += '[';
        out += s.name.toUtf8();
        out += "]\n";
        for (const Entry &e : s.entries) {
            QString key = encodeValue(e.key);
            key.replace(QLatin1Char('='), QStringLiteral("\\x3D"));
            out += key.toUtf8();
            out += '=';
            out += encodeValue(e.value).toUtf8();
            out += '\n';
        }
        out += '\n';
    }
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(out) == out.size() && file.commit())
        return true;
    if (!m_writeFailedReported) {
        m_writeFailedReported = true;
        m_problems << QStringLiteral("The settings file '%1' cannot be written (%2); changes are kept only until the "
                                     "program ends.")
                          .arg(QDir::toNativeSeparators(m_path), file.errorString());
    }
    return false;
}

QStringList SettingsStore::takeProblems()
{
    QStringList p;
    p.swap(m_problems);
    return p;
}
