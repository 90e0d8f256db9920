#include "sending/sendstatestore.h"

#include "core/bytes.h"
#include "options/settingsstore.h"

#include <QLocale>
#include <algorithm>
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
    const auto keys = m_store.ReadAll(kSection);
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
    int oldest = -1;
    QDateTime oldestStamp;
    for (qsizetype c = 0; c < k; ++c) {
        if (!taken[size_t(c)])
            return int(c);
        QDateTime stamp = QLocale::c().toDateTime(
            m_store.Read(stateSection(int(c)), QStringLiteral("Modified")).trimmed(), kStampFormat);
        if (!stamp.isValid())
            stamp = now;
        if (oldest < 0 || stamp < oldestStamp) {
            oldest = int(c);
            oldestStamp = stamp;
        }
    }
    return k < 10 ? int(k) : oldest;
}

void SendStateStore::save(int n, const SendWindowState &state, const QDateTime &now)
{
    SettingsStore &s = m_store;
    const QString section = stateSection(n);
    s.Save(kSection, QString::number(n),
           state.description.trimmed().isEmpty() ? placeholderDescription(now.date()) : state.description);
    s.Save(section, QStringLiteral("Modified"), QLocale::c().toString(now, kStampFormat));
    s.Save(section, QStringLiteral("Binary"), boolText(state.binary));
    s.Save(section, QStringLiteral("Pause"), boolText(state.pause));
    s.Save(section, QStringLiteral("Periodically"), boolText(state.periodically));
    s.Save(section, QStringLiteral("PauseFor"), state.pauseFor);
    s.Save(section, QStringLiteral("OnceEvery"), state.onceEvery);
    s.Save(section, QStringLiteral("Duration"), state.duration);
    s.Save(section, QStringLiteral("Left"), QString::number(state.left));
    s.Save(section, QStringLiteral("Top"), QString::number(state.top));
    s.Save(section, QStringLiteral("Width"), QString::number(state.width));
    s.Save(section, QStringLiteral("Height"), QString::number(state.height));
    s.Save(section, QStringLiteral("LinkedFile"), state.linkedFile);
    // A state that takes over an older number must not keep that one's data.
    const bool keepData = state.linkedFile.isEmpty() && fitsInStore(state.data);
    s.Save(section, QStringLiteral("Data"), keepData ? Bytes::toText(state.data) : QString());
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
