#include "options/optionsmodel.h"

#include "core/bytes.h"
#include "core/eventlog.h"
#include "core/frmtimer.h"
#include "options/settingsstore.h"
#include "ui/uiservice.h"

#include <QCoreApplication>
#include <QLocale>
#include <cmath>
#include <limits>
#include <optional>

namespace {
using Check = OptionsModel::Check;
using Text = OptionsModel::Text;

struct CheckInfo
{
    QString control;
    QString key;
    int defaultValue;
    QString line; // followed by "ON" or "OFF"
};

struct TextInfo
{
    QString control;
    QString key;
    QString defaultValue;
    QString linePrefix; // the line is prefix + text + suffix
    QString lineSuffix;
};

const std::array<CheckInfo, OptionsModel::kCheckCount> &checkInfo()
{
    static const std::array<CheckInfo, OptionsModel::kCheckCount> k{{
        {QStringLiteral("chkVerboseLogging"), QStringLiteral("VerboseLogging"), 0,
         QStringLiteral("Verbose logging is ")},
        {QStringLiteral("chkCaseInsensitive"), QStringLiteral("CaseInsensitive"), 1,
         QStringLiteral("Case insensitive searching is ")},
        {QStringLiteral("chkAutoDisconnect"), QStringLiteral("AutoDisconnect"), 1,
         QStringLiteral("Auto disconnect is ")},
        {QStringLiteral("chkConcatMsgSeps"), QStringLiteral("ConcatMsgSeps"), 1,
         QStringLiteral("Message separator concatenation is ")},
        {QStringLiteral("chkFieldSeparator"), QStringLiteral("DisplayFieldSeparator"), 0,
         QStringLiteral("Display of field separator is ")},
        {QStringLiteral("chkMessageSeparator"), QStringLiteral("DisplayMessageSeparator"), 0,
         QStringLiteral("Display of message separator is ")},
        {QStringLiteral("chkAutoReconnect"), QStringLiteral("AutoReconnect"), 0,
         QStringLiteral("Auto reconnection is ")},
        {QStringLiteral("chkIgnoreBetween"), QStringLiteral("FieldSeparatorIngoreOn"), 0,
         QStringLiteral("Ignore field separator between a special character is ")},
        {QStringLiteral("chkMultipleClients"), QStringLiteral("AllowMultipleClients"), 0,
         QStringLiteral("Allowing multiple client to connect in Pass Through mode is ")},
        {QStringLiteral("chkClearAllLists"), QStringLiteral("ClearAllLists"), 0,
         QStringLiteral("Clear all lists is ")},
    }};
    return k;
}

const std::array<TextInfo, OptionsModel::kTextCount> &textInfo()
{
    static const std::array<TextInfo, OptionsModel::kTextCount> k{{
        {QStringLiteral("txtMaxListLength"), QStringLiteral("MaxListLength"), QStringLiteral("100"),
         QStringLiteral("The maximum list length is "), QStringLiteral(" rows")},
        {QStringLiteral("txtMaxListSize"), QStringLiteral("MaxListSize"), QStringLiteral("10"),
         QStringLiteral("The maximum list size is "), QStringLiteral(" KBytes")},
        {QStringLiteral("txtReconnectPeriod"), QStringLiteral("AutoReconnectPeriod"), QStringLiteral("500"),
         QStringLiteral("The auto reconnection period is "), QStringLiteral(" mSecs")},
        {QStringLiteral("cboMessage"), QStringLiteral("MessageSeparatorText"), QStringLiteral("\\0D\\0A"),
         QStringLiteral("The message separator is '"), QStringLiteral("'")},
        {QStringLiteral("cboField"), QStringLiteral("FieldSeparatorText"), OptionsModel::kNoSplitting,
         QStringLiteral("The field separator is '"), QStringLiteral("'")},
        {QStringLiteral("cboIgnoreBetween"), QStringLiteral("FieldSeparatorIngoreBetween"),
         QStringLiteral("\""), QStringLiteral("Ignore field separator string is '"), QStringLiteral("'")},
    }};
    return k;
}

const CheckInfo &info(Check c)
{
    return checkInfo()[size_t(c)];
}
const TextInfo &info(Text t)
{
    return textInfo()[size_t(t)];
}

// The sixteen keys in the order they are read and written.
struct StoreSlot
{
    bool isCheck;
    int index;
};
constexpr std::array<StoreSlot, 16> kStoreOrder{{
    {true, int(Check::VerboseLogging)},
    {true, int(Check::CaseInsensitive)},
    {true, int(Check::AutoDisconnect)},
    {true, int(Check::ConcatMsgSeps)},
    {true, int(Check::FieldSeparator)},
    {true, int(Check::MessageSeparator)},
    {false, int(Text::MaxListLength)},
    {false, int(Text::MaxListSize)},
    {true, int(Check::AutoReconnect)},
    {false, int(Text::ReconnectPeriod)},
    {false, int(Text::MessageSeparator)},
    {false, int(Text::FieldSeparator)},
    {false, int(Text::IgnoreBetweenText)},
    {true, int(Check::IgnoreBetween)},
    {true, int(Check::MultipleClients)},
    {true, int(Check::ClearAllLists)},
}};

OptionsModel *s_published = nullptr;

QString onOff(int state)
{
    return state == 1 ? QStringLiteral("ON") : QStringLiteral("OFF");
}

// The boxes accept any typing; only a plain decimal number (dot as the
// decimal point, optional exponent) counts as a number.
std::optional<double> toNumber(const QString &text)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double d = c.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

// Nearest whole number, halves to the even neighbour (the rounding mode in
// force is round-to-nearest), saturated to [lo, hi].
qint32 roundToInt32(double d, qint32 lo, qint32 hi)
{
    const double r = std::nearbyint(d);
    if (r <= double(lo))
        return lo;
    if (r >= double(hi))
        return hi;
    return qint32(r);
}

double numberOr(const QString &text, const QString &fallback)
{
    if (const auto v = toNumber(text))
        return *v;
    return *toNumber(fallback);
}
} // namespace

OptionsModel::OptionsModel(QObject *parent) : QObject(parent)
{
    // Published before anything is loaded: the option block's AddEvent calls
    // read the row limit, and must find this model, not create another.
    s_published = this;
    tw::setOptions(this);

    for (int i = 0; i < kCheckCount; ++i)
        m_checks[size_t(i)] = checkInfo()[size_t(i)].defaultValue;
    for (int i = 0; i < kTextCount; ++i)
        m_texts[size_t(i)] = textInfo()[size_t(i)].defaultValue;

    m_loading = true;
    const std::array<Text, kRawCount> owners{Text::MessageSeparator, Text::FieldSeparator,
                                             Text::IgnoreBetweenText};
    for (int i = 0; i < kRawCount; ++i) {
        m_timers[size_t(i)] = new frmTimer(this);
        const Text t = owners[size_t(i)];
        connect(m_timers[size_t(i)], &frmTimer::TimerFired, this, [this, t] { convertSeparator(t); });
    }
    LoadOptions();
    m_loading = false;
    // Loading is over, so this starts the field separator's change timer.
    separatorChanged(Text::FieldSeparator);
}

OptionsModel::~OptionsModel()
{
    if (s_published == this) {
        s_published = nullptr;
        tw::setOptions(nullptr);
    }
}

void OptionsModel::install()
{
    tw::setOptionsFactory([]() -> OptionsSource * { return new OptionsModel(QCoreApplication::instance()); });
}

OptionsModel *OptionsModel::current()
{
    if (!s_published)
        (void)tw::options(); // the factory, if installed, creates and publishes the model
    if (!s_published)
        new OptionsModel(QCoreApplication::instance());
    return s_published;
}

// ---------------------------------------------------------------- getters

qint32 OptionsModel::GetMaxListLength() const
{
    // A negative row limit would make every list empty itself on every line.
    return roundToInt32(numberOr(text(Text::MaxListLength), info(Text::MaxListLength).defaultValue), 0,
                        std::numeric_limits<qint32>::max());
}

qint32 OptionsModel::GetMaxListSize() const
{
    return roundToInt32(numberOr(text(Text::MaxListSize), info(Text::MaxListSize).defaultValue) * 1024.0, 0,
                        std::numeric_limits<qint32>::max());
}

qint32 OptionsModel::GetAutoReconnectPeriod() const
{
    return roundToInt32(numberOr(text(Text::ReconnectPeriod), info(Text::ReconnectPeriod).defaultValue) + 1.0,
                        0, std::numeric_limits<qint32>::max());
}

// ---------------------------------------------------------------- edits

void OptionsModel::setCheck(Check c, int state)
{
    if (state < 0 || state > 2 || m_checks[size_t(c)] == state)
        return;
    m_checks[size_t(c)] = state;
    Q_EMIT checkChanged(c);
    if (c == Check::IgnoreBetween || c == Check::AutoDisconnect || c == Check::AutoReconnect)
        Q_EMIT enablingChanged();
    if (!m_loading)
        tw::events().AddEvent(info(c).line + onOff(state));
}

void OptionsModel::setText(Text t, const QString &value)
{
    if (m_texts[size_t(t)] != value) {
        m_texts[size_t(t)] = value;
        Q_EMIT textChanged(t);
    }
    if (rawIndex(t) >= 0)
        separatorChanged(t);
}

void OptionsModel::announce(Text t)
{
    if (m_loading)
        return;
    const TextInfo &i = info(t);
    tw::events().AddEvent(i.linePrefix + text(t) + i.lineSuffix);
}

int OptionsModel::rawIndex(Text t)
{
    switch (t) {
    case Text::MessageSeparator:
        return kRawMessage;
    case Text::FieldSeparator:
        return kRawField;
    case Text::IgnoreBetweenText:
        return kRawIgnore;
    default:
        return -1;
    }
}

void OptionsModel::separatorChanged(Text t)
{
    if (t == Text::FieldSeparator)
        Q_EMIT enablingChanged();
    if (m_loading)
        convertSeparator(t);
    else
        m_timers[size_t(rawIndex(t))]->StartTimer(kSeparatorDelayMs, true);
}

void OptionsModel::convertSeparator(Text t)
{
    QByteArray &raw = m_raw[size_t(rawIndex(t))];
    raw.clear();
    raw = Bytes::FromEscaped(Bytes::fromText(text(t)));
    Q_EMIT separatorConverted(t);
}

// ---------------------------------------------------------------- load and save

void OptionsModel::LoadOptions()
{
    const bool wasLoading = m_loading;
    m_loading = true;
    const SettingsStore &store = SettingsStore::instance();
    std::array<bool, kCheckCount> checkMoved{};
    std::array<bool, kTextCount> textMoved{};
    for (const StoreSlot &s : kStoreOrder) {
        if (s.isCheck) {
            const CheckInfo &i = checkInfo()[size_t(s.index)];
            bool ok = false;
            const QString stored = store.Read(kSection, i.key, i.defaultValue);
            int v = stored.trimmed().toInt(&ok);
            // A damaged value is no reason to guess: the box takes its default,
            // and the user learns why the box is not as stored.
            if (!ok || v < 0 || v > 2) {
                tw::events().AddEvent(
                    tw::invalidSettingEvent(kSection, i.key, stored, QString::number(i.defaultValue)));
                v = i.defaultValue;
            }
            checkMoved[size_t(s.index)] = m_checks[size_t(s.index)] != v;
            m_checks[size_t(s.index)] = v;
        } else {
            const TextInfo &i = textInfo()[size_t(s.index)];
            const QString v = store.Read(kSection, i.key, i.defaultValue);
            textMoved[size_t(s.index)] = m_texts[size_t(s.index)] != v;
            m_texts[size_t(s.index)] = v;
        }
    }
    for (int i = 0; i < kCheckCount; ++i) {
        if (checkMoved[size_t(i)])
            Q_EMIT checkChanged(Check(i));
    }
    for (int i = 0; i < kTextCount; ++i) {
        if (textMoved[size_t(i)])
            Q_EMIT textChanged(Text(i));
    }

    writeOptionBlock();

    separatorChanged(Text::FieldSeparator);
    separatorChanged(Text::IgnoreBetweenText);
    separatorChanged(Text::MessageSeparator);
    Q_EMIT enablingChanged();
    m_loading = wasLoading;
}

void OptionsModel::writeOptionBlock()
{
    EventLog &log = tw::events();
    const auto checkLine = [this](Check c) {
        return QStringLiteral("    ") + info(c).line + onOff(check(c));
    };
    const auto textLine = [this](Text t) {
        return QStringLiteral("    ") + info(t).linePrefix + text(t) + info(t).lineSuffix;
    };
    log.AddEvent(QStringLiteral("Options are being loaded {"));
    log.AddEvent(checkLine(Check::VerboseLogging));
    log.AddEvent(checkLine(Check::CaseInsensitive));
    log.AddEvent(checkLine(Check::ConcatMsgSeps));
    log.AddEvent(checkLine(Check::MessageSeparator));
    log.AddEvent(checkLine(Check::FieldSeparator));
    log.AddEvent(textLine(Text::MaxListLength));
    log.AddEvent(textLine(Text::MaxListSize));
    log.AddEvent(checkLine(Check::AutoDisconnect));
    log.AddEvent(checkLine(Check::AutoReconnect));
    log.AddEvent(textLine(Text::ReconnectPeriod));
    log.AddEvent(textLine(Text::MessageSeparator));
    log.AddEvent(textLine(Text::FieldSeparator));
    log.AddEvent(checkLine(Check::IgnoreBetween));
    log.AddEvent(textLine(Text::IgnoreBetweenText));
    log.AddEvent(checkLine(Check::MultipleClients));
    log.AddEvent(QStringLiteral("}"));
}

bool OptionsModel::SaveOptions()
{
    SettingsStore::Changes changes;
    for (const StoreSlot &s : kStoreOrder) {
        if (s.isCheck)
            changes.append(
                {kSection, checkInfo()[size_t(s.index)].key, QString::number(m_checks[size_t(s.index)])});
        else
            changes.append({kSection, textInfo()[size_t(s.index)].key, m_texts[size_t(s.index)]});
    }
    // The options hold for this run either way; the user learns that they
    // were not kept instead of finding them gone next time.
    if (const OsError e = SettingsStore::instance().SaveMany(changes); e.isError()) {
        tw::ui().failure(nullptr, SettingsStore::kSaveFailure, e);
        return false;
    }
    return true;
}

void OptionsModel::cmdOK_Click()
{
    SaveOptions();
    Q_EMIT hideRequested();
}

void OptionsModel::cmdCancel_Click()
{
    m_loading = true;
    LoadOptions();
    m_loading = false;
    Q_EMIT hideRequested();
}

void OptionsModel::discard()
{
    for (frmTimer *t : m_timers)
        t->StopTimer();
    if (s_published == this) {
        s_published = nullptr;
        tw::setOptions(nullptr);
    }
    Q_EMIT discarded();
    deleteLater();
}

// ---------------------------------------------------------------- fixed lists and names

QStringList OptionsModel::messageSeparatorChoices()
{
    return {QStringLiteral("\\0D\\0A"), QStringLiteral("\\09"), QStringLiteral(","), QStringLiteral("\\20"),
            QStringLiteral("\\0D"),     QStringLiteral("\\0A"), QStringLiteral("*"), QStringLiteral(";"),
            QStringLiteral(":"),        QStringLiteral("!"),    QStringLiteral("#")};
}

QStringList OptionsModel::fieldSeparatorChoices()
{
    return QStringList{kNoSplitting} + messageSeparatorChoices();
}

QStringList OptionsModel::ignoreBetweenChoices()
{
    return {QStringLiteral("\""), QStringLiteral("'")};
}

QString OptionsModel::controlName(Check c)
{
    return info(c).control;
}

QString OptionsModel::controlName(Text t)
{
    return info(t).control;
}

QString OptionsModel::settingsKey(Check c)
{
    return info(c).key;
}

QString OptionsModel::settingsKey(Text t)
{
    return info(t).key;
}
