// The settings store: whatever it writes, into whatever file it finds, it
// reads back the same, keys and sections included, and the keys it was not
// asked to change keep their values.
#include "fuzzcheck.h"
#include "options/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

namespace {

// Bytes to a name or value: UTF-8, except that 0xFE and two more bytes are
// one UTF-16 unit of their own (any unit, a lone surrogate or NUL included).
QString text(QByteArrayView b)
{
    QString out;
    qsizetype run = 0;
    for (qsizetype i = 0; i <= b.size(); ++i) {
        if (i < b.size() && static_cast<uchar>(b[i]) != 0xFE)
            continue;
        out += QString::fromUtf8(b.sliced(run, i - run));
        if (i + 2 < b.size()) {
            out += QChar(char16_t(static_cast<uchar>(b[i + 1]) << 8 | static_cast<uchar>(b[i + 2])));
            i += 2;
        }
        run = qMin(i + 1, b.size());
    }
    return out;
}

using Section = QHash<QString, QPair<QString, QString>>; // folded key -> key as spelt, value

Section asSection(const QList<QPair<QString, QString>> &pairs)
{
    Section s;
    for (const auto &[key, value] : pairs) {
        FUZZ_CHECK(!s.contains(key.toCaseFolded())); // one entry per key
        s.insert(key.toCaseFolded(), {key, value});
    }
    return s;
}

QString scratchFile()
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    return dir.filePath(QStringLiteral("tarnwell.ini"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // The file as found, up to the first NUL; then changes of three parts each
    // (section, key, value), separated by NULs; a value of the one byte 0xFF
    // removes the key.
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QList<QByteArrayView> parts = [&] {
        QList<QByteArrayView> p;
        qsizetype from = 0;
        for (qsizetype nul; (nul = data.indexOf('\0', from)) >= 0; from = nul + 1)
            p << data.sliced(from, nul - from);
        p << data.sliced(from);
        return p;
    }();
    SettingsStore::Changes changes;
    for (qsizetype i = 1; i + 2 < parts.size(); i += 3) {
        std::optional<QString> value;
        if (parts[i + 2] != "\xFF")
            value = text(parts[i + 2]);
        changes.append({text(parts[i]), text(parts[i + 1]), value});
    }

    const QString path = scratchFile();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(parts[0].data(), parts[0].size()) == parts[0].size());
    }

    // What the sections hold before, and what they should hold after.
    SettingsStore store(path);
    QHash<QString, Section> expected;    // by folded section name
    QHash<QString, QString> sectionName; // a spelling to ask for it by
    for (const SettingsStore::Change &c : changes) {
        const QString folded = c.section.toCaseFolded();
        if (!expected.contains(folded)) {
            expected.insert(folded, asSection(store.ReadAll(c.section)));
            sectionName.insert(folded, c.section);
        }
        Section &s = expected[folded];
        const QString key = c.key.toCaseFolded();
        if (!c.value)
            s.remove(key);
        else if (s.contains(key))
            s[key].second = *c.value; // the first spelling of a key stays
        else
            s.insert(key, {c.key, *c.value});
    }

    FUZZ_CHECK(!store.SaveMany(changes).isError());
    SettingsStore fresh(path);
    for (const SettingsStore *s : {&store, &fresh}) {
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            FUZZ_CHECK(asSection(s->ReadAll(sectionName[it.key()])) == it.value());
        }
        for (const SettingsStore::Change &c : changes) {
            const Section &section = expected[c.section.toCaseFolded()];
            const auto at = section.constFind(c.key.toCaseFolded());
            FUZZ_CHECK(s->contains(c.section, c.key) == (at != section.cend()));
            if (at != section.cend())
                FUZZ_CHECK(s->Read(c.section, c.key) == at->second);
        }
    }

    // Saving again what the file now holds changes nothing, so writes nothing.
    SettingsStore::Changes settled;
    for (const SettingsStore::Change &c : changes) {
        const Section &section = expected[c.section.toCaseFolded()];
        const auto at = section.constFind(c.key.toCaseFolded());
        settled.append({c.section, c.key, at == section.cend() ? std::nullopt : std::optional(at->second)});
    }
    FUZZ_CHECK(!fresh.SaveMany(settled).isError());
    FUZZ_CHECK(fresh.writeCount() == 0);
    return 0;
}
