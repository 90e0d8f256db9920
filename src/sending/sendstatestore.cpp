#include "sending/sendstatestore.h"

#include "core/bytes.h"
#include "options/settingsstore.h"

#include <QLocale>
#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

namespace {
const QString kSection = QStringLiteral("Send");
const QString kStampFormat = QStringLiteral("dd MMM yyyy hh:mm:ss");

bool isTrue(const QString &text)
{
    return text.trimmed().compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

QString boolText(bool b)
{
    return b ? QStringLiteral("True") : QStringLiteral("False");
}

// A "Modified" stamp as seconds of its wall-clock time, without the time
// zone, as it was written; nothing when it cannot be read. Read by hand:
// the date-time parser asks the system for the zone at every step, which
// costs more than the rest of a save when there are hundreds of states.
std::optional<qint64> stampSeconds(const QString &text)
{
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QStringList parts = text.simplified().split(QLatin1Char(' '));
    const QStringList clock = parts.size() == 4 ? parts[3].split(QLatin1Char(':')) : QStringList();
    if (clock.size() != 3)
        return std::nullopt;
    int month = 0;
    for (int m = 0; m < 12 && month == 0; ++m) {
        if (parts[1].compare(QLatin1String(months[m]), Qt::CaseInsensitive) == 0)
            month = m + 1;
    }
    bool ok[5] = {};
    const QDate date(parts[2].toInt(&ok[0]), month, parts[0].toInt(&ok[1]));
    const QTime time(clock[0].toInt(&ok[2]), clock[1].toInt(&ok[3]), clock[2].toInt(&ok[4]));
    if (!date.isValid() || !time.isValid() ||
        !std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }))
        return std::nullopt;
    return date.toJulianDay() * 86400 + time.msecsSinceStartOfDay() / 1000;
}
} // namespace

void SendWindowState::keepOnScreen(const QSize &screenTwips)
{
    if (left > screenTwips.width())
        left = int(0.95 * screenTwips.width());
    if (top > screenTwips.height())
        top = int(0.95 * screenTwips.height());
    left = std::max(0, left);
    top = std::max(0, top);
    width = std::clamp(width, kMinWidthTwips, std::max(kMinWidthTwips, screenTwips.width()));
    height = std::clamp(height, kMinHeightTwips, std::max(kMinHeightTwips, screenTwips.height()));
}

QString SendStateStore::stateSection(int n)
{
    return kSection + QLatin1Char('\\') + QString::number(n);
}

QString SendStateStore::placeholderDescription(const QDate &date)
{
    // English month names whatever the user's language.
    return QStringLiteral("<No Desc ") + QLocale::c().toString(date, QStringLiteral("dd MMM yy")) +
           QLatin1Char('>');
}

int SendStateStore::FindFreeStateNumber(const QDateTime &now) const
{
    return freeNumber(m_store, now);
}

int SendStateStore::freeNumber(const SettingsStore &store, const QDateTime &now)
{
    const auto keys = store.ReadAll(kSection);
    if (keys.isEmpty())
        return 0;
    // Every key counts, numeric or not; only numeric keys take a number.
    const qsizetype k = keys.size();
    std::vector<bool> taken(size_t(k), false);
    for (const auto &[key, value] : keys) {
        bool ok = false;
        const qint64 n = key.trimmed().toLongLong(&ok);
        if (ok && n >= 0 && n < k)
            taken[size_t(n)] = true;
    }
    const qint64 nowSeconds = now.date().toJulianDay() * 86400 + now.time().msecsSinceStartOfDay() / 1000;
    int oldest = -1;
    qint64 oldestStamp = 0;
    for (qsizetype c = 0; c < k; ++c) {
        if (!taken[size_t(c)])
            return int(c);
        const qint64 stamp =
            stampSeconds(store.Read(stateSection(int(c)), QStringLiteral("Modified"))).value_or(nowSeconds);
        if (oldest < 0 || stamp < oldestStamp) {
            oldest = int(c);
            oldestStamp = stamp;
        }
    }
    return k < 10 ? int(k) : oldest;
}

SettingsStore::Changes SendStateStore::changes(int n, const SendWindowState &state, DataTooLong tooLong,
                                               const QDateTime &now)
{
    const QString section = stateSection(n);
    auto key = [&](const char *name, const QString &value) {
        return SettingsStore::Change{section, QString::fromLatin1(name), value};
    };
    SettingsStore::Changes c = {
        {kSection, QString::number(n),
         state.description.trimmed().isEmpty() ? placeholderDescription(now.date()) : state.description},
        key("Modified", QLocale::c().toString(now, kStampFormat)),
        key("Binary", boolText(state.binary)),
        key("Pause", boolText(state.pause)),
        key("Periodically", boolText(state.periodically)),
        key("PauseFor", state.pauseFor),
        key("OnceEvery", state.onceEvery),
        key("Duration", state.duration),
        key("Left", QString::number(state.left)),
        key("Top", QString::number(state.top)),
        key("Width", QString::number(state.width)),
        key("Height", QString::number(state.height)),
        key("LinkedFile", state.linkedFile),
    };
    if (!state.linkedFile.isEmpty())
        c.append(key("Data", QString()));
    else if (fitsInStore(state.data))
        c.append(key("Data", Bytes::toText(state.data)));
    else if (tooLong == DataTooLong::Clear)
        c.append(key("Data", QString()));
    return c;
}

OsError SendStateStore::save(int n, const SendWindowState &state, DataTooLong tooLong, const QDateTime &now)
{
    return m_store.SaveMany(changes(n, state, tooLong, now));
}

OsError SendStateStore::saveNew(const SendWindowState &state, int &n, const QDateTime &now)
{
    int chosen = -1;
    const OsError e = m_store.Update([&](const SettingsStore &store) {
        chosen = freeNumber(store, now);
        return changes(chosen, state, DataTooLong::Clear, now);
    });
    if (!e.isError())
        n = chosen;
    return e;
}

SendWindowState SendStateStore::load(int n, const QPoint &hereTwips) const
{
    const QString section = stateSection(n);
    auto read = [&](const QString &key) { return m_store.Read(section, key); };
    auto number = [&](const QString &key, int fallback) {
        bool ok = false;
        const qint64 v = read(key).trimmed().toLongLong(&ok);
        if (!ok)
            return fallback;
        return int(std::clamp<qint64>(v, -10'000'000, 10'000'000));
    };

    SendWindowState st;
    const QString desc = m_store.Read(kSection, QString::number(n));
    st.description = desc == QLatin1String("<No Description>") ? QString() : desc;
    st.left = number(QStringLiteral("Left"), hereTwips.x());
    st.top = number(QStringLiteral("Top"), hereTwips.y());
    st.width = number(QStringLiteral("Width"), st.width);
    st.height = number(QStringLiteral("Height"), st.height);
    // Anything but "True" leaves a box unchecked, as in a fresh window.
    st.binary = isTrue(read(QStringLiteral("Binary")));
    st.pause = isTrue(read(QStringLiteral("Pause")));
    st.periodically = isTrue(read(QStringLiteral("Periodically")));
    st.pauseFor = m_store.Read(section, QStringLiteral("PauseFor"), st.pauseFor);
    st.onceEvery = m_store.Read(section, QStringLiteral("OnceEvery"), st.onceEvery);
    st.duration = m_store.Read(section, QStringLiteral("Duration"), st.duration);
    st.linkedFile = read(QStringLiteral("LinkedFile"));
    if (st.linkedFile.isEmpty())
        st.data = Bytes::fromText(read(QStringLiteral("Data")));
    return st;
}
