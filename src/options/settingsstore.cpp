#include "options/settingsstore.h"

#include "core/eventlog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {
std::unique_ptr<SettingsStore> g_owned;
SettingsStore *g_store = nullptr;

OsError errnoError(int e, int fallback = EIO)
{
    if (e == 0)
        e = fallback;
    return OsError{e, qt_error_string(e)};
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Only blanks and tabs are trimmed around names, so that any other character
// a name begins or ends with is its own.
QStringView trimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// The value of `digits` hex digits at s[at], or -1.
int hexAt(QStringView s, qsizetype at, int digits)
{
    if (at + digits > s.size())
        return -1;
    int v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexValue(s[at + i]);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

// Characters that are never written as they are: line breaks and other
// controls, separators that editors break lines at, a lone half of a
// surrogate pair (it has no UTF-8 form), and a byte-order mark.
bool alwaysEscaped(QStringView s, qsizetype i)
{
    const char16_t c = s[i].unicode();
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || c == 0xfeff || c == 0xfffe ||
        c == 0xffff)
        return true;
    if (QChar::isHighSurrogate(c))
        return !(i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode()));
    if (QChar::isLowSurrogate(c))
        return !(i > 0 && QChar::isHighSurrogate(s[i - 1].unicode()));
    return false;
}

bool needsEscape(QStringView s, qsizetype i, bool isKey)
{
    const QChar c = s[i];
    if (alwaysEscaped(s, i))
        return true;
    // Blanks at either end would be trimmed by editors and by the reader.
    if ((i == 0 || i == s.size() - 1) && c.isSpace())
        return true;
    if (isKey) {
        if (c == QLatin1Char('='))
            return true;
        if (i == 0 && (c == QLatin1Char('[') || c == QLatin1Char(';') || c == QLatin1Char('#')))
            return true;
    }
    return false;
}

// The whole file; a file that does not exist reads as empty.
OsError readFile(const QString &path, QByteArray &out)
{
    out.clear();
    QFile file(path);
    if (!file.exists())
        return OsError();
    // Opening a folder fails without an error number of its own.
    if (QFileInfo(path).isDir())
        return errnoError(EISDIR);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        return errnoError(errno);
    out = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return errnoError(errno);
    return OsError();
}

QByteArray headingLine(const QString &name)
{
    return '[' + SettingsStore::encodeText(name).toUtf8() + ']';
}

QString skippedText(const QString &path, int first, int last)
{
    const QString file = QDir::toNativeSeparators(path);
    if (first == last)
        return QStringLiteral("Line %1 of the settings file '%2' could not be read and was skipped; it stays "
                              "in the file as it is.")
            .arg(QString::number(first), file);
    return QStringLiteral("Lines %1 to %2 of the settings file '%3' could not be read and were skipped; they "
                          "stay in the file as they are.")
        .arg(QString::number(first), QString::number(last), file);
}
} // namespace

SettingsStore::SettingsStore(const QString &filePath) : m_path(filePath)
{
    if (const OsError e = readFile(m_path, m_known); e.isError()) {
        m_problems << QStringLiteral(
                          "The settings file '%1' cannot be read (%2, %3); the default settings are in "
                          "use, and the file is not written over.")
                          .arg(QDir::toNativeSeparators(m_path), QString::number(e.number), e.description);
        return;
    }
    std::vector<std::pair<int, int>> skipped;
    m_doc = parse(m_known, &skipped);
    for (const auto &[first, last] : skipped)
        m_problems << skippedText(m_path, first, last);
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

// ---------------------------------------------------------------- text of the file

// Names and values may hold any character, including line breaks and the
// bytes of send data. A character that cannot stand in the file as it is
// becomes "\x" and two hex digits, or "\u" and four. A backslash stands for
// itself unless what follows it would read as an escape, when it is doubled:
// "Send\3" and the escapes of send data ("\0D\0A") stay readable by hand.
QString SettingsStore::encodeText(QStringView text, bool isKey)
{
    // Written straight into the string: a send window's data runs to
    // thousands of characters, and every save of its state encodes them.
    QString out(text.size() * 6, Qt::Uninitialized);
    QChar *p = out.data();
    static const char digits[] = "0123456789ABCDEF";
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (needsEscape(text, i, isKey)) {
            *p++ = u'\\';
            *p++ = c <= 0xff ? u'x' : u'u';
            if (c > 0xff) {
                *p++ = QLatin1Char(digits[(c >> 12) & 0xf]);
                *p++ = QLatin1Char(digits[(c >> 8) & 0xf]);
            }
            *p++ = QLatin1Char(digits[(c >> 4) & 0xf]);
            *p++ = QLatin1Char(digits[c & 0xf]);
        } else if (c == u'\\') {
            *p++ = c;
            if (i + 1 < text.size()) {
                const char16_t next = text[i + 1].unicode();
                if (next == u'\\' || next == u'x' || next == u'u' || needsEscape(text, i + 1, isKey))
                    *p++ = c;
            }
        } else {
            *p++ = c;
        }
    }
    out.truncate(p - out.constData());
    return out;
}

// "\\", "\x" + 2 hex digits and "\u" + 4 are escapes; any other backslash,
// such as one typed by hand, is taken as it stands.
QString SettingsStore::decodeText(QStringView text)
{
    qsizetype at = text.indexOf(QLatin1Char('\\'));
    if (at < 0)
        return text.toString();
    QString out(text.size(), Qt::Uninitialized);
    QChar *p = out.data();
    std::copy(text.begin(), text.begin() + at, p);
    p += at;
    for (qsizetype i = at; i < text.size(); ++i) {
        const QChar c = text[i];
        *p++ = c;
        if (c != QLatin1Char('\\') || i + 1 == text.size())
            continue;
        const QChar next = text[i + 1];
        int v = -1;
        if (next == QLatin1Char('\\')) {
            ++i;
        } else if (next == QLatin1Char('x') && (v = hexAt(text, i + 2, 2)) >= 0) {
            p[-1] = QChar(char16_t(v));
            i += 3;
        } else if (next == QLatin1Char('u') && (v = hexAt(text, i + 2, 4)) >= 0) {
            p[-1] = QChar(char16_t(v));
            i += 5;
        }
    }
    out.truncate(p - out.constData());
    return out;
}

// ---------------------------------------------------------------- document

int SettingsStore::sectionFor(Document &doc, const QString &name)
{
    const QString f = fold(name);
    if (auto it = doc.sectionIndex.constFind(f); it != doc.sectionIndex.constEnd())
        return *it;
    const int s = int(doc.sections.size());
    doc.sections.push_back(Section{name, {}, {}});
    doc.sectionIndex.insert(f, s);
    return s;
}

SettingsStore::Document SettingsStore::parse(const QByteArray &bytes,
                                             std::vector<std::pair<int, int>> *skipped)
{
    Document doc;
    QStringDecoder decoder(QStringDecoder::Utf8);
    std::vector<QChar> buffer;
    int lineNumber = 0;
    auto noteSkipped = [&] {
        if (!skipped)
            return;
        if (!skipped->empty() && skipped->back().second == lineNumber - 1)
            skipped->back().second = lineNumber;
        else
            skipped->push_back({lineNumber, lineNumber});
    };
    auto skip = [&](Line &&line) {
        doc.blocks.back().lines.push_back(std::move(line));
        noteSkipped();
    };

    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        ++lineNumber;
        Line line;
        line.raw = bytes.sliced(start, end - start);
        start = end + 1;

        decoder.resetState();
        buffer.resize(size_t(line.raw.size()));
        QStringView text(buffer.data(), decoder.appendToBuffer(buffer.data(), line.raw));
        if (decoder.hasError()) {
            skip(std::move(line));
            continue;
        }
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        const QStringView t = trimBlanks(text);
        if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'))) {
            doc.blocks.back().lines.push_back(std::move(line));
            continue;
        }
        if (t.startsWith(QLatin1Char('['))) {
            // A heading that cannot be read leaves the keys below it without
            // a section: they are kept, not given to the section above.
            Block block;
            block.hasHeading = true;
            block.heading = line.raw;
            const bool readable = t.size() >= 2 && t.endsWith(QLatin1Char(']'));
            if (readable) {
                block.section = sectionFor(doc, decodeText(t.sliced(1, t.size() - 2)));
                doc.sections[size_t(block.section)].blocks.push_back(int(doc.blocks.size()));
            }
            doc.blocks.push_back(std::move(block));
            if (!readable)
                noteSkipped();
            continue;
        }
        const qsizetype eq = t.indexOf(QLatin1Char('='));
        Block &block = doc.blocks.back();
        if (eq < 0 || block.section < 0) {
            skip(std::move(line));
            continue;
        }
        // The value is read when asked for: most are never read in a save.
        // No byte of a UTF-8 sequence is "=", so the first is the same one.
        line.entry = true;
        line.key = decodeText(trimBlanks(t.first(eq)));
        line.valueAt = line.raw.indexOf('=') + 1;
        Section &section = doc.sections[size_t(block.section)];
        const int blockIndex = int(doc.blocks.size() - 1);
        const std::pair<int, int> at{blockIndex, int(block.lines.size())};
        const QString f = fold(line.key);
        // A key written twice: the later line holds, the earlier is kept as it is.
        if (auto it = section.index.find(f); it != section.index.end()) {
            Line &earlier = doc.blocks[size_t(it->first)].lines[size_t(it->second)];
            earlier.entry = false;
            earlier.shadowed = true;
            *it = at;
        } else {
            section.index.insert(f, at);
        }
        block.lines.push_back(std::move(line));
    }
    return doc;
}

QByteArray SettingsStore::serialize(const Document &doc, qsizetype sizeHint)
{
    QByteArray out;
    out.reserve(sizeHint + 4096);
    for (const Block &b : doc.blocks) {
        if (b.hasHeading) {
            out += b.heading;
            out += '\n';
        }
        for (const Line &l : b.lines) {
            out += l.raw;
            out += '\n';
        }
    }
    return out;
}

bool SettingsStore::apply(Document &doc, const Change &change)
{
    const QString f = fold(change.key);
    auto sit = doc.sectionIndex.constFind(fold(change.section));
    if (sit == doc.sectionIndex.constEnd() && !change.value)
        return false;
    const int s = sit == doc.sectionIndex.constEnd() ? sectionFor(doc, change.section) : *sit;
    Section *section = &doc.sections[size_t(s)];
    auto kit = section->index.find(f);

    if (!change.value) {
        if (kit == section->index.end())
            return false;
        // Earlier lines of the key go too, or the next reading would find one.
        for (int b : section->blocks) {
            auto &lines = doc.blocks[size_t(b)].lines;
            std::erase_if(lines, [&](const Line &l) { return (l.entry || l.shadowed) && fold(l.key) == f; });
        }
        reindex(doc, *section);
        return true;
    }

    if (kit != section->index.end()) {
        Line &line = doc.blocks[size_t(kit->first)].lines[size_t(kit->second)];
        if (valueOf(line) == *change.value)
            return false;
        // The first spelling of a key is the one kept.
        setValue(line, *change.value);
        return true;
    }

    if (section->blocks.empty()) {
        // A new section goes at the end, after a blank line.
        Block &last = doc.blocks.back();
        const QByteArray &lastLine = last.lines.empty() ? last.heading : last.lines.back().raw;
        if (!lastLine.trimmed().isEmpty())
            last.lines.push_back(Line{});
        Block block;
        block.section = s;
        block.hasHeading = true;
        block.heading = headingLine(change.section);
        block.lines.push_back(Line{});
        section->blocks.push_back(int(doc.blocks.size()));
        doc.blocks.push_back(std::move(block));
    }
    // A new key goes after the last key of the section's last block, before
    // the blank lines and comments that close it.
    const int b = section->blocks.back();
    auto &lines = doc.blocks[size_t(b)].lines;
    qsizetype at = qsizetype(lines.size());
    while (at > 0 && !lines[size_t(at - 1)].entry)
        --at;
    if (at == 0) {
        // No key yet: after the heading, or after the lines that follow it
        // up to the first blank one.
        while (at < qsizetype(lines.size()) && !lines[size_t(at)].raw.trimmed().isEmpty())
            ++at;
    }
    Line line;
    line.entry = true;
    line.key = change.key;
    setValue(line, *change.value);
    lines.insert(lines.begin() + at, std::move(line));
    for (auto &pos : section->index) {
        if (pos.first == b && pos.second >= at)
            ++pos.second;
    }
    section->index.insert(f, {b, int(at)});
    return true;
}

void SettingsStore::reindex(const Document &doc, Section &section)
{
    section.index.clear();
    for (int b : section.blocks) {
        const auto &lines = doc.blocks[size_t(b)].lines;
        for (size_t l = 0; l < lines.size(); ++l) {
            if (lines[l].entry)
                section.index.insert(fold(lines[l].key), {b, int(l)});
        }
    }
}

QString SettingsStore::valueOf(const Line &line)
{
    QByteArrayView v = QByteArrayView(line.raw).sliced(line.valueAt);
    if (v.endsWith('\r'))
        v.chop(1);
    return decodeText(QString::fromUtf8(v));
}

void SettingsStore::setValue(Line &line, const QString &value)
{
    line.raw = encodeText(line.key, true).toUtf8() + '=';
    line.valueAt = line.raw.size();
    line.raw += encodeText(value).toUtf8();
}

const SettingsStore::Section *SettingsStore::findSection(const QString &name) const
{
    auto it = m_doc.sectionIndex.constFind(fold(name));
    return it == m_doc.sectionIndex.constEnd() ? nullptr : &m_doc.sections[size_t(*it)];
}

// ---------------------------------------------------------------- reading

QString SettingsStore::Read(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Section *s = findSection(section);
    if (!s)
        return defaultValue;
    auto it = s->index.constFind(fold(key));
    return it == s->index.constEnd() ? defaultValue
                                     : valueOf(m_doc.blocks[size_t(it->first)].lines[size_t(it->second)]);
}

int SettingsStore::ReadNumber(const QString &section, const QString &key, int defaultValue, int min,
                              int max) const
{
    const QString text = Read(section, key, defaultValue);
    bool ok = false;
    qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok) {
        const double d = text.trimmed().toDouble(&ok);
        if (ok && d >= double(min) && d <= double(max))
            v = qint64(std::nearbyint(d));
        else
            ok = false;
    }
    if (!ok || v < min || v > max) {
        tw::events().AddEvent(tw::invalidSettingEvent(section, key, text, QString::number(defaultValue)));
        return defaultValue;
    }
    return int(v);
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
        for (int b : s->blocks) {
            for (const Line &l : m_doc.blocks[size_t(b)].lines) {
                if (l.entry)
                    out.append({l.key, valueOf(l)});
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------- saving

OsError SettingsStore::prepareFolder() const
{
    if (m_path.isEmpty())
        return errnoError(ENOENT);
    std::error_code ec;
    const std::filesystem::path dir(QFile::encodeName(QFileInfo(m_path).absolutePath()).toStdString());
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return errnoError(ec.value());
    return OsError();
}

// Reads the file as it is now; the view in memory follows it when it changed.
OsError SettingsStore::refresh()
{
    QByteArray bytes;
    if (const OsError e = readFile(m_path, bytes); e.isError())
        return e;
    if (bytes != m_known) {
        m_doc = parse(bytes, nullptr);
        m_known = bytes;
    }
    return OsError();
}

OsError SettingsStore::SaveMany(const Changes &changes)
{
    return Update([&changes](const SettingsStore &) { return changes; });
}

OsError SettingsStore::Save(const QString &section, const QString &key, const QString &value)
{
    return SaveMany({Change{section, key, value}});
}

OsError SettingsStore::Update(const std::function<Changes(const SettingsStore &)> &step)
{
    // The lock is not re-entrant: a save from inside a step would wait for itself.
    if (m_inUpdate)
        return errnoError(EDEADLK);
    if (const OsError e = prepareFolder(); e.isError())
        return e;
    QLockFile lock(m_path + QStringLiteral(".lock"));
    errno = 0;
    if (!lock.tryLock(kLockTimeoutMs)) {
        if (lock.error() != QLockFile::LockFailedError)
            return errnoError(errno, lock.error() == QLockFile::PermissionError ? EACCES : EIO);
        qint64 pid = 0;
        QString host, app;
        lock.getLockInfo(&pid, &host, &app);
        return OsError{EBUSY, QStringLiteral("%1 (the lock file '%2' is held by process %3)")
                                  .arg(qt_error_string(EBUSY), QDir::toNativeSeparators(lock.fileName()),
                                       QString::number(pid))};
    }
    if (const OsError e = refresh(); e.isError())
        return e;

    m_inUpdate = true;
    Changes changes;
    {
        const auto done = qScopeGuard([this] { m_inUpdate = false; });
        changes = step(*this);
    }
    bool changed = false;
    for (const Change &c : changes)
        changed = apply(m_doc, c) || changed;
    if (!changed)
        return OsError();

    const QByteArray bytes = serialize(m_doc, m_known.size());
    QSaveFile file(m_path);
    errno = 0;
    bool ok = file.open(QIODevice::WriteOnly);
    ok = ok && file.write(bytes) == bytes.size();
    ok = ok && file.commit();
    if (!ok) {
        // A file that may not be written is refused before any system call.
        const QFileInfo existing(m_path);
        const OsError e = errnoError(errno, existing.exists() && !existing.isWritable() ? EACCES : EIO);
        file.cancelWriting();
        // The view in memory stays what is on disk.
        m_doc = parse(m_known, nullptr);
        return e;
    }
    m_known = bytes;
    ++m_writes;
    return OsError();
}

OsError SettingsStore::CheckWritable()
{
    // A save that changes nothing still takes the lock and reads the file;
    // under the lock, a temporary file is made beside it and dropped.
    OsError probe;
    const OsError e = Update([&](const SettingsStore &) {
        QSaveFile file(m_path);
        errno = 0;
        if (file.open(QIODevice::WriteOnly))
            file.cancelWriting();
        else
            probe = errnoError(errno);
        return Changes();
    });
    return e.isError() ? e : probe;
}

QStringList SettingsStore::takeProblems()
{
    QStringList p;
    p.swap(m_problems);
    return p;
}
