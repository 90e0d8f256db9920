#include "core/eventlog.h"
#include "options/optionsmodel.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>
#include <memory>

using Check = OptionsModel::Check;
using Text = OptionsModel::Text;

namespace {
// Records every line; like the real history it reads the row limit first,
// which is what makes the first line of a run create the options model.
class RecordingLog : public EventLog
{
public:
    void AddEvent(const QString &strEvent) override
    {
        if (readLimit)
            limits << tw::options().GetMaxListLength();
        lines << strEvent;
    }
    bool readLimit = false;
    QStringList lines;
    QList<qint32> limits;
};

const QStringList kDefaultBlock{
    QStringLiteral("Options are being loaded {"),
    QStringLiteral("    Verbose logging is OFF"),
    QStringLiteral("    Case insensitive searching is ON"),
    QStringLiteral("    Message separator concatenation is ON"),
    QStringLiteral("    Display of message separator is OFF"),
    QStringLiteral("    Display of field separator is OFF"),
    QStringLiteral("    The maximum list length is 100 rows"),
    QStringLiteral("    The maximum list size is 10 KBytes"),
    QStringLiteral("    Auto disconnect is ON"),
    QStringLiteral("    Auto reconnection is OFF"),
    QStringLiteral("    The auto reconnection period is 500 mSecs"),
    QStringLiteral("    The message separator is '\\0D\\0A'"),
    QStringLiteral("    The field separator is '<No message splitting>'"),
    QStringLiteral("    Ignore field separator between a special character is OFF"),
    QStringLiteral("    Ignore field separator string is '\"'"),
    QStringLiteral("    Allowing multiple client to connect in Pass Through mode is OFF"),
    QStringLiteral("}"),
};
} // namespace

class TestOptionsModel : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TempSettings> m_settings;
    RecordingLog m_log;

    // Stores "key=value" lines through the store itself, then reopens it as a new run would.
    void writeOptions(const QString &lines)
    {
        for (const QString &line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            m_settings->store().Save(OptionsModel::kSection, line.left(eq), line.mid(eq + 1));
        }
        m_settings->reopen();
    }

private Q_SLOTS:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_log = RecordingLog();
        tw::setEventLog(&m_log);
        tw::setOptionsFactory(nullptr);
        tw::setOptions(nullptr);
    }

    void cleanup()
    {
        qDeleteAll(QCoreApplication::instance()->findChildren<OptionsModel *>(Qt::FindDirectChildrenOnly));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        tw::setOptionsFactory(nullptr);
        tw::setOptions(nullptr);
        tw::setEventLog(nullptr);
        m_settings.reset();
    }

    void emptyStoreGivesDefaultsAndBlock()
    {
        OptionsModel m;
        QCOMPARE(m_log.lines, kDefaultBlock);
        const DefaultOptions d;
        QCOMPARE(m.VerboseLogging(), d.VerboseLogging());
        QCOMPARE(m.CaseSensitive(), d.CaseSensitive());
        QCOMPARE(m.AutoCloseConnection(), d.AutoCloseConnection());
        QCOMPARE(m.ConcatMesssageSeparators(), d.ConcatMesssageSeparators());
        QCOMPARE(m.DisplayFieldSeparator(), d.DisplayFieldSeparator());
        QCOMPARE(m.DisplayMessageSeparator(), d.DisplayMessageSeparator());
        QCOMPARE(m.GetMaxListLength(), 100);
        QCOMPARE(m.GetMaxListSize(), 10240);
        QCOMPARE(m.AutoReconnect(), false);
        QCOMPARE(m.GetAutoReconnectPeriod(), 501);
        QCOMPARE(m.GetMessageSeparator(), QByteArray("\r\n"));
        QCOMPARE(m.SpiltMessageIntoFields(), false);
        QCOMPARE(m.IgnoreFieldSepsBetweenText(), QByteArray("\""));
        QCOMPARE(m.IgnoreFieldSepsBetween(), false);
        QCOMPARE(m.AllowMultipleClients(), false);
        QCOMPARE(m.ClearBothLists(), false);
        // Loading is not editing: nothing is written to the store.
        QVERIFY(m_settings->store().ReadAll(OptionsModel::kSection).isEmpty());
    }

    void storedValuesReachBlockAndGetters()
    {
        writeOptions(QStringLiteral("VerboseLogging=1\nCaseInsensitive=0\nMaxListLength= 250\n"
                                    "MessageSeparatorText=\\2C\nFieldSeparatorText=\\09\n"
                                    "FieldSeparatorIngoreOn=1\nClearAllLists=1\n"));
        OptionsModel m;
        QCOMPARE(m_log.lines.value(1), QStringLiteral("    Verbose logging is ON"));
        QCOMPARE(m_log.lines.value(2), QStringLiteral("    Case insensitive searching is OFF"));
        QCOMPARE(m_log.lines.value(6), QStringLiteral("    The maximum list length is  250 rows"));
        QCOMPARE(m_log.lines.value(11), QStringLiteral("    The message separator is '\\2C'"));
        QCOMPARE(m_log.lines.value(12), QStringLiteral("    The field separator is '\\09'"));
        QCOMPARE(m_log.lines.value(13),
                 QStringLiteral("    Ignore field separator between a special character is ON"));
        QCOMPARE(m_log.lines.size(), kDefaultBlock.size());
        QVERIFY(m.VerboseLogging());
        QVERIFY(!m.CaseSensitive());
        QCOMPARE(m.GetMaxListLength(), 250);
        // Loading converts at once, without waiting for a change timer.
        QCOMPARE(m.GetMessageSeparator(), QByteArray(","));
        QCOMPARE(m.GetFieldSeparator(), QByteArray("\t"));
        QVERIFY(m.SpiltMessageIntoFields());
        QVERIFY(m.IgnoreFieldSepsBetween());
        QVERIFY(m.ClearBothLists());
    }

    void numberConversions_data()
    {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        const int len = int(Text::MaxListLength), size = int(Text::MaxListSize),
                  period = int(Text::ReconnectPeriod);
        const int max = std::numeric_limits<qint32>::max();
        QTest::newRow("period 500") << period << "500" << 501;
        QTest::newRow("period 0") << period << "0" << 1;
        QTest::newRow("period 1.5 -> 2.5 to even") << period << "1.5" << 2;
        QTest::newRow("period 2.5 -> 3.5 to even") << period << "2.5" << 4;
        QTest::newRow("period not a number") << period << "soon" << 501;
        QTest::newRow("period negative") << period << "-50" << 0;
        QTest::newRow("size 10") << size << "10" << 10240;
        QTest::newRow("size 1.5") << size << "1.5" << 1536;
        QTest::newRow("size half byte down") << size << "0.00048828125" << 0;
        QTest::newRow("size one and a half up") << size << "0.00146484375" << 2;
        QTest::newRow("size empty") << size << "" << 10240;
        QTest::newRow("size comma") << size << "1,5" << 10240;
        QTest::newRow("size beyond 32 bits") << size << "3000000" << max;
        QTest::newRow("length 12.5 to even") << len << "12.5" << 12;
        QTest::newRow("length 13.5 to even") << len << "13.5" << 14;
        QTest::newRow("length spaces") << len << " 42 " << 42;
        QTest::newRow("length trailing junk") << len << "12abc" << 100;
        QTest::newRow("length empty") << len << "" << 100;
        QTest::newRow("length negative") << len << "-5" << 0;
        QTest::newRow("length huge") << len << "1e12" << max;
    }

    void numberConversions()
    {
        QFETCH(int, box);
        QFETCH(QString, text);
        QFETCH(int, expected);
        OptionsModel m;
        m.setText(Text(box), text);
        QCOMPARE(m.text(Text(box)), text);
        const qint32 got = Text(box) == Text::MaxListLength ? m.GetMaxListLength()
                           : Text(box) == Text::MaxListSize ? m.GetMaxListSize()
                                                            : m.GetAutoReconnectPeriod();
        QCOMPARE(got, expected);
    }

    void storedCheckValues_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("verbose");       // default 0
        QTest::addColumn<int>("caseSensitive"); // default 1
        QTest::newRow("zero") << QByteArray("0") << 0 << 0;
        QTest::newRow("one") << QByteArray("1") << 1 << 1;
        QTest::newRow("grey") << QByteArray("2") << 2 << 2;
        QTest::newRow("three") << QByteArray("3") << 0 << 1;
        QTest::newRow("minus one") << QByteArray("-1") << 0 << 1;
        QTest::newRow("word") << QByteArray("yes") << 0 << 1;
        QTest::newRow("empty") << QByteArray("") << 0 << 1;
        QTest::newRow("spaces") << QByteArray(" 1 ") << 1 << 1;
    }

    void storedCheckValues()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, verbose);
        QFETCH(int, caseSensitive);
        writeOptions(
            QStringLiteral("VerboseLogging=%1\nCaseInsensitive=%1\n").arg(QString::fromLatin1(stored)));
        OptionsModel m;
        QCOMPARE(m.check(Check::VerboseLogging), verbose);
        QCOMPARE(m.check(Check::CaseInsensitive), caseSensitive);
        // Only a checked box (1) is on; the grey state is not.
        QCOMPARE(m.VerboseLogging(), verbose == 1);
        QCOMPARE(m.CaseSensitive(), caseSensitive == 1);
        QCOMPARE(m_log.lines.value(1), QStringLiteral("    Verbose logging is ") +
                                           (verbose == 1 ? QStringLiteral("ON") : QStringLiteral("OFF")));
        // OK writes the box's state back, so a damaged value is replaced by the default.
        m.SaveOptions();
        QCOMPARE(m_settings->store().Read(OptionsModel::kSection, QStringLiteral("VerboseLogging")),
                 QString::number(verbose));
    }

    void liveEditsThenOK()
    {
        OptionsModel m;
        QSignalSpy hide(&m, &OptionsModel::hideRequested);
        m_log.lines.clear();
        m.setCheck(Check::VerboseLogging, 1);
        QVERIFY(m.VerboseLogging());
        m.setCheck(Check::VerboseLogging, 1); // no change, no click
        m.setCheck(Check::ClearAllLists, 1);
        m.setCheck(Check::ClearAllLists, 5); // not a check state
        QCOMPARE(m.check(Check::ClearAllLists), 1);
        m.setText(Text::MaxListLength, QStringLiteral("200"));
        QCOMPARE(m.GetMaxListLength(), 200);
        m.announce(Text::MaxListLength);
        m.setText(Text::MaxListSize, QStringLiteral("64"));
        m.announce(Text::MaxListSize);
        m.setText(Text::ReconnectPeriod, QStringLiteral("750"));
        m.announce(Text::ReconnectPeriod);
        m.setText(Text::MessageSeparator, QStringLiteral("\\09"));
        m.announce(Text::MessageSeparator);
        QCOMPARE(m_log.lines, QStringList({
                                  QStringLiteral("Verbose logging is ON"),
                                  QStringLiteral("Clear all lists is ON"),
                                  QStringLiteral("The maximum list length is 200 rows"),
                                  QStringLiteral("The maximum list size is 64 KBytes"),
                                  QStringLiteral("The auto reconnection period is 750 mSecs"),
                                  QStringLiteral("The message separator is '\\09'"),
                              }));
        // Nothing reaches the store before OK.
        QVERIFY(m_settings->store().ReadAll(OptionsModel::kSection).isEmpty());
        QCOMPARE(hide.count(), 0);

        m.cmdOK_Click();
        QCOMPARE(hide.count(), 1);
        m_settings->reopen();
        const auto saved = m_settings->store().ReadAll(OptionsModel::kSection);
        QStringList keys;
        for (const auto &kv : saved)
            keys << kv.first;
        QCOMPARE(keys.join(QLatin1Char(',')),
                 QStringLiteral(
                     "VerboseLogging,CaseInsensitive,AutoDisconnect,ConcatMsgSeps,DisplayFieldSeparator,"
                     "DisplayMessageSeparator,MaxListLength,MaxListSize,AutoReconnect,AutoReconnectPeriod,"
                     "MessageSeparatorText,FieldSeparatorText,FieldSeparatorIngoreBetween,"
                     "FieldSeparatorIngoreOn,AllowMultipleClients,ClearAllLists"));
        QCOMPARE(saved.value(0).second, QStringLiteral("1"));
        QCOMPARE(saved.value(1).second, QStringLiteral("1"));
        QCOMPARE(saved.value(6).second, QStringLiteral("200"));
        QCOMPARE(saved.value(10).second, QStringLiteral("\\09"));
        QCOMPARE(saved.value(11).second, OptionsModel::kNoSplitting);
        QCOMPARE(saved.value(15).second, QStringLiteral("1"));
    }

    void textsAreSavedAsTyped()
    {
        OptionsModel m;
        m.setText(Text::MaxListLength, QStringLiteral(" 12 rows"));
        m.setText(Text::IgnoreBetweenText, QStringLiteral("'"));
        m.cmdOK_Click();
        m_settings->reopen();
        QCOMPARE(m_settings->store().Read(OptionsModel::kSection, QStringLiteral("MaxListLength")),
                 QStringLiteral(" 12 rows"));
        QCOMPARE(
            m_settings->store().Read(OptionsModel::kSection, QStringLiteral("FieldSeparatorIngoreBetween")),
            QStringLiteral("'"));
        // The next run reads it back as typed, and the getter falls back to its default.
        m_log.lines.clear();
        OptionsModel next;
        QCOMPARE(next.text(Text::MaxListLength), QStringLiteral(" 12 rows"));
        QCOMPARE(next.GetMaxListLength(), 100);
        QCOMPARE(next.IgnoreFieldSepsBetweenText(), QByteArray("'"));
    }

    void cancelReloadsAndWritesBlockAgain()
    {
        writeOptions(QStringLiteral("MaxListLength=150"));
        OptionsModel m;
        QSignalSpy hide(&m, &OptionsModel::hideRequested);
        m.setCheck(Check::VerboseLogging, 1);
        m.setText(Text::MaxListLength, QStringLiteral("5"));
        m.setText(Text::MessageSeparator, QStringLiteral("\\09"));
        m_log.lines.clear();

        m.cmdCancel_Click();
        QCOMPARE(hide.count(), 1);
        QVERIFY(!m.mblnLoading());
        QVERIFY(!m.VerboseLogging());
        QCOMPARE(m.GetMaxListLength(), 150);
        // The reload converts at once, so the pending edit never shows.
        QCOMPARE(m.GetMessageSeparator(), QByteArray("\r\n"));
        QStringList expected = kDefaultBlock;
        expected[6] = QStringLiteral("    The maximum list length is 150 rows");
        QCOMPARE(m_log.lines, expected);
        QCOMPARE(m_settings->store().ReadAll(OptionsModel::kSection).size(), 1);
    }

    void separatorWaitsForItsTimer()
    {
        OptionsModel m;
        QSignalSpy converted(&m, &OptionsModel::separatorConverted);
        QVERIFY(converted.wait()); // the field separator's timer, started at creation
        converted.clear();

        m.setText(Text::MessageSeparator, QStringLiteral("\\0A"));
        m.setText(Text::MessageSeparator, QStringLiteral("\\09\\0"));
        // No event has run since the edit: the old bytes still stand.
        QCOMPARE(m.GetMessageSeparator(), QByteArray("\r\n"));
        QTRY_COMPARE(m.GetMessageSeparator(), QByteArray("\t\\0"));
        // Both edits fell within one period: one conversion, of the last text.
        QCOMPARE(converted.count(), 1);
        QCOMPARE(converted.at(0).at(0).value<Text>(), Text::MessageSeparator);

        m.setText(Text::FieldSeparator, QStringLiteral(";"));
        m.setText(Text::IgnoreBetweenText, QStringLiteral("'"));
        // Splitting follows the text at once; the bytes follow the timer.
        QVERIFY(m.SpiltMessageIntoFields());
        QCOMPARE(m.GetFieldSeparator(), OptionsModel::kNoSplitting.toLatin1());
        QCOMPARE(m.IgnoreFieldSepsBetweenText(), QByteArray("\""));
        QTRY_COMPARE(m.GetFieldSeparator(), QByteArray(";"));
        QTRY_COMPARE(m.IgnoreFieldSepsBetweenText(), QByteArray("'"));
    }

    void ignoreBetweenFollowsFieldSplitting()
    {
        writeOptions(QStringLiteral("FieldSeparatorIngoreOn=1"));
        OptionsModel m;
        QSignalSpy enabling(&m, &OptionsModel::enablingChanged);
        QCOMPARE(m.check(Check::IgnoreBetween), 1);
        QVERIFY(!m.IgnoreFieldSepsBetween());
        QVERIFY(!m.chkIgnoreBetweenEnabled());
        QVERIFY(!m.cboIgnoreBetweenEnabled());

        m.setText(Text::FieldSeparator, QStringLiteral("\\09"));
        QVERIFY(enabling.count() > 0);
        QVERIFY(m.chkIgnoreBetweenEnabled());
        QVERIFY(m.cboIgnoreBetweenEnabled());
        QVERIFY(m.IgnoreFieldSepsBetween());

        m.setCheck(Check::IgnoreBetween, 0);
        QVERIFY(m.chkIgnoreBetweenEnabled());
        QVERIFY(!m.cboIgnoreBetweenEnabled());
        QVERIFY(!m.IgnoreFieldSepsBetween());
        m.setCheck(Check::IgnoreBetween, 1);

        m.setText(Text::FieldSeparator, OptionsModel::kNoSplitting);
        QVERIFY(!m.chkIgnoreBetweenEnabled());
        QVERIFY(!m.IgnoreFieldSepsBetween());
        QCOMPARE(m.check(Check::IgnoreBetween), 1);
    }

    void reconnectEnabling()
    {
        OptionsModel m;
        QVERIFY(m.chkAutoReconnectEnabled());
        QVERIFY(!m.txtReconnectPeriodEnabled());
        m.setCheck(Check::AutoDisconnect, 0);
        m_log.lines.clear();
        m.setCheck(Check::AutoReconnect, 1);
        QCOMPARE(m_log.lines, QStringList{QStringLiteral("Auto reconnection is ON")});
        QVERIFY(!m.chkAutoReconnectEnabled());
        QVERIFY(!m.txtReconnectPeriodEnabled());
        m.setCheck(Check::AutoDisconnect, 1);
        QVERIFY(m.chkAutoReconnectEnabled());
        QVERIFY(m.txtReconnectPeriodEnabled());
    }

    void firstUseThroughOptionsWritesBlockFirst()
    {
        writeOptions(QStringLiteral("MaxListLength=42"));
        m_log.readLimit = true;
        OptionsModel::install();
        tw::events().AddEvent(QStringLiteral("first"));
        QStringList expected = kDefaultBlock;
        expected[6] = QStringLiteral("    The maximum list length is 42 rows");
        expected << QStringLiteral("first");
        QCOMPARE(m_log.lines, expected);
        // Every read, the block's own included, saw the loaded model: one model, one block.
        QCOMPARE(m_log.limits, QList<qint32>(expected.size(), 42));
        QCOMPARE(QCoreApplication::instance()->findChildren<OptionsModel *>().size(), 1);
        QCOMPARE(static_cast<const OptionsSource *>(OptionsModel::current()), &tw::options());
    }

    void discardDropsEditsAndNextUseReloads()
    {
        OptionsModel::install();
        OptionsModel *first = OptionsModel::current();
        QVERIFY(first);
        QCOMPARE(m_log.lines.count(kDefaultBlock.first()), 1);
        first->setCheck(Check::MultipleClients, 1);
        QVERIFY(tw::options().AllowMultipleClients());

        QSignalSpy gone(first, &QObject::destroyed);
        first->discard();
        QVERIFY(!tw::options().AllowMultipleClients());
        QCOMPARE(m_log.lines.count(kDefaultBlock.first()), 2);
        QVERIFY(OptionsModel::current() != first);
        QVERIFY(gone.wait());
    }

    void storeThatCannotBeWrittenSaysSo()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SettingsStore store(blocker.fileName() + QStringLiteral("/tarnwell.ini"));
        SettingsStore::setInstance(&store);
        OptionsModel m;
        m_log.lines.clear();
        QVERIFY(!m.SaveOptions());
        QCOMPARE(m_log.lines.size(), 1);
        QVERIFY(m_log.lines.first().contains(QStringLiteral("cannot be written")));
        SettingsStore::setInstance(&m_settings->store());
    }
};

QTEST_GUILESS_MAIN(TestOptionsModel)
#include "tst_optionsmodel.moc"
