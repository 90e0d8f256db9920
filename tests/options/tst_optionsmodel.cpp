#include "core/eventlog.h"
#include "options/optionsmodel.h"
#include "support/recordingevents.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QtTest>
#include <limits>
#include <memory>
#include <optional>

using Check = OptionsModel::Check;
using Text = OptionsModel::Text;

namespace {
// Like the real history, reads the row limit before each line, which is what
// makes the first line of a run create the options model.
struct LimitReadingEvents : RecordingEvents
{
    void AddEvent(const QString &strEvent) override
    {
        limits << tw::options().GetMaxListLength();
        RecordingEvents::AddEvent(strEvent);
    }
    QList<qint32> limits;
};

const QString kBlockStart = QStringLiteral("Options are being loaded {");

// Whether lines are one whole option block holding every given line.
bool isBlockWith(const QStringList &lines, std::initializer_list<const char *> held)
{
    if (lines.size() != 17 || lines.first() != kBlockStart || lines.last() != QLatin1String("}"))
        return false;
    return std::all_of(held.begin(), held.end(),
                       [&](const char *line) { return lines.contains(QString::fromLatin1(line)); });
}
} // namespace

class TestOptionsModel : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TempSettings> m_settings;
    std::optional<RecordingEvents> m_log;

    // Stores "key=value" lines through the store itself, then reopens it as a new run would.
    void writeOptions(const QString &lines)
    {
        for (const QString &line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            m_settings->store().Save(OptionsModel::kSection, line.left(eq), line.mid(eq + 1));
        }
        m_settings->reopen();
    }
    QString stored(const char *key)
    {
        return m_settings->store().Read(OptionsModel::kSection, QString::fromLatin1(key));
    }
    QStringList &lines() { return m_log->lines; }

private Q_SLOTS:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_log.emplace();
        dropOptions();
    }

    void cleanup()
    {
        dropOptions();
        m_log.reset();
        m_settings.reset();
    }

    void storedValuesReachBlockAndGetters()
    {
        writeOptions(QStringLiteral("VerboseLogging=1\nMaxListLength= 250\nMessageSeparatorText=\\2C\n"
                                    "FieldSeparatorText=\\09\n"));
        OptionsModel m;
        QVERIFY(isBlockWith(lines(),
                            {"    Verbose logging is ON", "    The maximum list length is  250 rows",
                             "    The message separator is '\\2C'", "    The field separator is '\\09'"}));
        QVERIFY(m.VerboseLogging());
        QCOMPARE(m.GetMaxListLength(), 250);
        // Loading converts at once, without waiting for a change timer.
        QCOMPARE(m.GetMessageSeparator(), QByteArray(","));
        QCOMPARE(m.GetFieldSeparator(), QByteArray("\t"));
        // Loading is not editing: nothing more is written to the store.
        QCOMPARE(m_settings->store().ReadAll(OptionsModel::kSection).size(), 4);
    }

    void numberConversions_data()
    {
        QTest::addColumn<Text>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        const Text len = Text::MaxListLength, size = Text::MaxListSize, period = Text::ReconnectPeriod;
        QTest::newRow("period 2.5 -> 3.5 to even") << period << "2.5" << 4;
        QTest::newRow("period not a number") << period << "soon" << 501;
        QTest::newRow("size 1.5") << size << "1.5" << 1536;
        QTest::newRow("size half byte down") << size << "0.00048828125" << 0;
        QTest::newRow("size comma") << size << "1,5" << 10240;
        QTest::newRow("size beyond 32 bits") << size << "3000000" << std::numeric_limits<qint32>::max();
        QTest::newRow("length 12.5 to even") << len << "12.5" << 12;
        QTest::newRow("length spaces") << len << " 42 " << 42;
        QTest::newRow("length trailing junk") << len << "12abc" << 100;
        QTest::newRow("length negative") << len << "-5" << 0;
    }

    void numberConversions()
    {
        QFETCH(Text, box);
        QFETCH(QString, text);
        OptionsModel m;
        m.setText(box, text);
        QTEST(box == Text::MaxListLength ? m.GetMaxListLength()
              : box == Text::MaxListSize ? m.GetMaxListSize()
                                         : m.GetAutoReconnectPeriod(),
              "expected");
    }

    void storedCheckValues_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("verbose");       // default 0
        QTest::addColumn<int>("caseSensitive"); // default 1
        QTest::addColumn<bool>("told");         // the default's use is announced
        QTest::newRow("grey") << QByteArray("2") << 2 << 2 << false;
        QTest::newRow("three") << QByteArray("3") << 0 << 1 << true;
        QTest::newRow("word") << QByteArray("yes") << 0 << 1 << true;
        QTest::newRow("spaces") << QByteArray(" 1 ") << 1 << 1 << false;
    }

    void storedCheckValues()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, verbose);
        QFETCH(bool, told);
        writeOptions(
            QStringLiteral("VerboseLogging=%1\nCaseInsensitive=%1\n").arg(QString::fromLatin1(stored)));
        OptionsModel m;
        QCOMPARE(
            lines().contains(tw::invalidSettingEvent(OptionsModel::kSection, QStringLiteral("VerboseLogging"),
                                                     QString::fromLatin1(stored), QStringLiteral("0"))),
            told);
        QCOMPARE(m.check(Check::VerboseLogging), verbose);
        QTEST(m.check(Check::CaseInsensitive), "caseSensitive");
        // Only a checked box (1) is on; the grey state is not.
        QCOMPARE(m.VerboseLogging(), verbose == 1);
        // Saving writes the box's state back, so a damaged value is replaced by the default.
        m.SaveOptions();
        QCOMPARE(this->stored("VerboseLogging"), QString::number(verbose));
    }

    // Edits are live at once and reach the store only with OK; Cancel reloads the store.
    void editsThenOKOrCancel_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }

    void editsThenOKOrCancel()
    {
        QFETCH(bool, ok);
        writeOptions(QStringLiteral("MaxListLength=150"));
        OptionsModel m;
        QSignalSpy hide(&m, &OptionsModel::hideRequested);
        lines().clear();
        m.setCheck(Check::VerboseLogging, 1);
        m.setCheck(Check::VerboseLogging, 1); // no change, no line
        m.setCheck(Check::ClearAllLists, 5);  // not a check state
        QCOMPARE(m.check(Check::ClearAllLists), 0);
        m.setText(Text::MaxListLength, QStringLiteral("200"));
        m.announce(Text::MaxListLength);
        m.setText(Text::ReconnectPeriod, QStringLiteral(" 7 ms"));
        m.setText(Text::MessageSeparator, QStringLiteral("\\09"));
        QCOMPARE(lines(), QStringList({QStringLiteral("Verbose logging is ON"),
                                       QStringLiteral("The maximum list length is 200 rows")}));
        QVERIFY(m.VerboseLogging());
        QCOMPARE(m_settings->store().ReadAll(OptionsModel::kSection).size(), 1);
        lines().clear();

        ok ? m.cmdOK_Click() : m.cmdCancel_Click();
        QCOMPARE(hide.count(), 1);
        QVERIFY(!m.mblnLoading());
        m_settings->reopen();
        QCOMPARE(m_settings->store().ReadAll(OptionsModel::kSection).size(), ok ? 16 : 1);
        QCOMPARE(stored("MaxListLength"), ok ? QStringLiteral("200") : QStringLiteral("150"));
        QCOMPARE(m.VerboseLogging(), ok);
        if (ok) {
            QVERIFY(lines().isEmpty());
            // Texts are kept as typed; only the getter falls back to its default.
            QCOMPARE(stored("AutoReconnectPeriod"), QStringLiteral(" 7 ms"));
            QCOMPARE(m.GetAutoReconnectPeriod(), 501);
        } else {
            QVERIFY(isBlockWith(lines(),
                                {"    Verbose logging is OFF", "    The maximum list length is 150 rows"}));
            // The reload converts at once, so the pending edit never shows.
            QCOMPARE(m.GetMessageSeparator(), QByteArray("\r\n"));
        }
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

        m.setText(Text::FieldSeparator, QStringLiteral(";"));
        // Splitting follows the text at once; the bytes follow the timer.
        QVERIFY(m.SpiltMessageIntoFields());
        QCOMPARE(m.GetFieldSeparator(), OptionsModel::kNoSplitting.toLatin1());
        QTRY_COMPARE(m.GetFieldSeparator(), QByteArray(";"));
    }

    void ignoreBetweenNeedsFieldSplitting()
    {
        writeOptions(QStringLiteral("FieldSeparatorIngoreOn=1"));
        OptionsModel m;
        QVERIFY(!m.IgnoreFieldSepsBetween() && !m.chkIgnoreBetweenEnabled());
        m.setText(Text::FieldSeparator, QStringLiteral("\\09"));
        QVERIFY(m.IgnoreFieldSepsBetween() && m.cboIgnoreBetweenEnabled());
        m.setCheck(Check::IgnoreBetween, 0);
        QVERIFY(!m.IgnoreFieldSepsBetween() && !m.cboIgnoreBetweenEnabled());
    }

    void firstUseWritesBlockFirstAndDiscardReloads()
    {
        writeOptions(QStringLiteral("MaxListLength=42"));
        m_log.reset();
        LimitReadingEvents log;
        OptionsModel::install();
        tw::events().AddEvent(QStringLiteral("first"));
        QVERIFY(isBlockWith(log.lines.mid(0, 17), {"    The maximum list length is 42 rows"}));
        QCOMPARE(log.lines.mid(17), QStringList{QStringLiteral("first")});
        // Every read, the block's own included, saw the loaded model: one model, one block.
        QCOMPARE(log.limits, QList<qint32>(18, 42));
        QCOMPARE(QCoreApplication::instance()->findChildren<OptionsModel *>().size(), 1);

        // Discarding drops the edits; the next use loads a new model, with its block.
        OptionsModel *first = OptionsModel::current();
        first->setCheck(Check::MultipleClients, 1);
        QSignalSpy gone(first, &QObject::destroyed);
        first->discard();
        QVERIFY(!tw::options().AllowMultipleClients());
        QCOMPARE(log.lines.count(kBlockStart), 2);
        QVERIFY(OptionsModel::current() != first);
        QVERIFY(gone.wait());
    }

    void storeThatCannotBeWrittenSaysSo()
    {
        UnwritableSettings blocked(*m_settings);
        ScriptedUi ui;
        OptionsModel m;
        QVERIFY(!m.SaveOptions());
        QCOMPARE(ui.messages(), QStringList{UnwritableSettings::told()});
    }
};

QTEST_GUILESS_MAIN(TestOptionsModel)
#include "tst_optionsmodel.moc"
