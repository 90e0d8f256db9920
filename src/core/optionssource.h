#pragma once

#include <QByteArray>
#include <functional>

/// Read-only view of the sixteen options, as the rest of the program reads
/// them. The options model implements it; framing, display, the data path,
/// the histories and the connection logic read it at every use, so an edit
/// takes effect at once.
class OptionsSource
{
public:
    virtual ~OptionsSource() = default;

    virtual bool VerboseLogging() const = 0;
    virtual bool CaseSensitive() const = 0;
    virtual bool AutoCloseConnection() const = 0;
    virtual bool ConcatMesssageSeparators() const = 0;
    virtual bool DisplayFieldSeparator() const = 0;
    virtual bool DisplayMessageSeparator() const = 0;
    virtual qint32 GetMaxListLength() const = 0;
    virtual qint32 GetMaxListSize() const = 0;
    virtual bool AutoReconnect() const = 0;
    virtual qint32 GetAutoReconnectPeriod() const = 0;
    virtual QByteArray GetMessageSeparator() const = 0;
    virtual QByteArray GetFieldSeparator() const = 0;
    virtual bool SpiltMessageIntoFields() const = 0;
    virtual QByteArray IgnoreFieldSepsBetweenText() const = 0;
    virtual bool IgnoreFieldSepsBetween() const = 0;
    virtual bool AllowMultipleClients() const = 0;
    virtual bool ClearBothLists() const = 0;
};

/// The options with their stored defaults and no store behind them; the
/// fallback before the options model is registered, and a base for tests.
class DefaultOptions : public OptionsSource
{
public:
    bool VerboseLogging() const override { return verbose; }
    bool CaseSensitive() const override { return caseSensitive; }
    bool AutoCloseConnection() const override { return autoDisconnect; }
    bool ConcatMesssageSeparators() const override { return concat; }
    bool DisplayFieldSeparator() const override { return displayFieldSep; }
    bool DisplayMessageSeparator() const override { return displayMessageSep; }
    qint32 GetMaxListLength() const override { return maxListLength; }
    qint32 GetMaxListSize() const override { return maxListSize; }
    bool AutoReconnect() const override { return autoReconnect; }
    qint32 GetAutoReconnectPeriod() const override { return reconnectPeriod; }
    QByteArray GetMessageSeparator() const override { return messageSeparator; }
    QByteArray GetFieldSeparator() const override { return fieldSeparator; }
    bool SpiltMessageIntoFields() const override { return splitFields; }
    QByteArray IgnoreFieldSepsBetweenText() const override { return ignoreText; }
    bool IgnoreFieldSepsBetween() const override { return ignoreBetween && splitFields; }
    bool AllowMultipleClients() const override { return multipleClients; }
    bool ClearBothLists() const override { return clearBoth; }

    bool verbose = false;
    bool caseSensitive = true;
    bool autoDisconnect = true;
    bool concat = true;
    bool displayFieldSep = false;
    bool displayMessageSep = false;
    qint32 maxListLength = 100;
    qint32 maxListSize = 10 * 1024;
    bool autoReconnect = false;
    qint32 reconnectPeriod = 501;
    QByteArray messageSeparator = QByteArrayLiteral("\r\n");
    QByteArray fieldSeparator;
    bool splitFields = false;
    QByteArray ignoreText = QByteArrayLiteral("\"");
    bool ignoreBetween = false;
    bool multipleClients = false;
    bool clearBoth = false;
};

namespace tw {
/// The program's options. The first call creates the options model through
/// the registered factory (so the model's own load can already add events).
const OptionsSource &options();
/// Registers how the options model is created on first use; tests may also
/// install a fixed source directly with setOptions().
void setOptionsFactory(std::function<OptionsSource *()> factory);
/// Installs a source (not owned); nullptr returns to the factory on next use.
void setOptions(OptionsSource *source);
} // namespace tw
