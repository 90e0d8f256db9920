#include "core/eventlog.h"
#include "options/frmoptions.h"
#include "options/optionsmodel.h"
#include "options/settingsstore.h"
#include "support/recordingevents.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"
#include "ui/updown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

using Changes = SettingsStore::Changes;
using Check = OptionsModel::Check;
using Text = OptionsModel::Text;

namespace {
const QString kNumbers = QStringLiteral("Numbers");

// The writer half of the two-process test: opens the store, says it is
// ready, waits for "go" on its input, then saves `count` keys of its own and
// reserves `count` numbers in one shared section, each in one locked step.
int runWriter(const QString &path, const QString &tag, int count)
{
    SettingsStore store(path);
    std::cout << "ready" << std::endl;
    std::string go;
    std::getline(std::cin, go);
    for (int i = 0; i < count; ++i) {
        const OsError e = store.Update([&](const SettingsStore &s) {
            int n = 0;
            while (s.contains(kNumbers, QString::number(n)))
                ++n;
            return Changes{{kNumbers, QString::number(n), tag + QString::number(i)},
                           {tag, QString::number(i), QStringLiteral("v")}};
        });
        if (e.isError()) {
            std::cerr << e.number << ' ' << qPrintable(e.description) << std::endl;
            return 1;
        }
    }
    return 0;
}

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

// Records what the window hands its separator viewers.
struct FakeViewer : frmOptions::SeparatorViewer
{
    explicit FakeViewer(QWidget *owner) : w(new QWidget(owner, Qt::Window)) {}
    QWidget *window() override { return w; }
    void AddDetails(const QByteArray &bytes) override { shown = bytes; }
    void showAsCharacters() override { asCharacters = true; }
    QWidget *w;
    QByteArray shown = "untouched";
    bool asCharacters = false;
};
} // namespace

// The settings store, the options model over it and the options window.
class TestOptions : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TempSettings> m_settings;
    std::optional<RecordingEvents> m_log;
    std::optional<ScriptedUi> m_ui;
    frmOptions *m_w = nullptr;
    FakeViewer *m_viewer = nullptr; // the last one the window made

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

    OptionsModel &model() { return *m_w->model(); }
    QStringList takeLines() { return std::exchange(m_log->lines, {}); }
    void openWindow()
    {
        m_w = frmOptions::open();
        takeLines();
    }

private Q_SLOTS:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_log.emplace();
        m_ui.emplace();
        dropOptions();
        frmOptions::setViewerFactory([this](QWidget *owner) {
            auto v = std::make_unique<FakeViewer>(owner);
            m_viewer = v.get();
            return v;
        });
    }

    void cleanup()
    {
        frmOptions::setViewerFactory({});
        dropOptions();
        m_w = nullptr;
        m_viewer = nullptr;
        m_ui.reset();
        m_log.reset();
        m_settings.reset();
    }

    void contractOfReadAndSave()
    {
        TempSettings &t = *m_settings;
        SettingsStore &s = t.store();
        QVERIFY(!s.SaveMany({{QStringLiteral("StartUp"), QStringLiteral("Width"), QStringLiteral("6750")},
                             {QStringLiteral("Startup"), QStringLiteral("Height"), QStringLiteral("6540")},
                             {QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QString()},
                             {QStringLiteral("Send\\3"), QStringLiteral("Data"), QStringLiteral("\\0D\\0A")}})
                     .isError());
        // One write for the four keys; saving what is already there writes nothing.
        QVERIFY(
            !s.Save(QStringLiteral("STARTUP"), QStringLiteral("width"), QStringLiteral("6750")).isError());
        QCOMPARE(s.writeCount(), 1);
        t.reopen();
        QCOMPARE(t.store().Read(QStringLiteral("EndPoints"), QStringLiteral("ClientEP"), QStringLiteral("x")),
                 QString());
        QCOMPARE(t.store().ReadAll(QStringLiteral("startup")).size(), 2);
        QVERIFY(t.store().ReadAll(QStringLiteral("Send")).isEmpty());
        // Nested sections and the escapes of send data stay readable by hand.
        const QByteArray file = fileBytes(t.iniPath());
        QVERIFY(file.contains("[Send\\3]\nData=\\0D\\0A\n"));
        QCOMPARE(file.count("[StartUp]"), 1);
        QVERIFY(t.store().problems().isEmpty());
        // Nothing is left beside the file: no lock, no temporary file.
        QVERIFY(!t.store().CheckWritable().isError());
        QCOMPARE(QDir(t.dir()).entryList(QDir::Files), QStringList{QStringLiteral("tarnwell.ini")});

        // Every UTF-16 code unit, in a name and in a value.
        QString every;
        for (int c = 0; c < 0x10000; ++c)
            every += QChar(char16_t(c));
        QVERIFY(!t.store().SaveMany({{every, every, every}}).isError());
        t.reopen();
        QCOMPARE(t.store().ReadAll(every), (QList<QPair<QString, QString>>{{every, every}}));

        // Removing a key written twice by hand removes both lines.
        t.writeIni("[S]\nk=1\nK=2\n");
        QVERIFY(!t.store().SaveMany({{QStringLiteral("s"), QStringLiteral("k"), std::nullopt}}).isError());
        t.reopen();
        QVERIFY(!t.store().contains(QStringLiteral("S"), QStringLiteral("k")));
    }

    // Files written by earlier versions or by hand read as they were meant;
    // lines that cannot be read are skipped and told once. A save changes
    // only its own line: every other byte stays.
    void filesRead_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("skipped"); // the start of the problem, or empty
        QTest::addColumn<QString>("orphan");  // a key under the damage, not given to the section
        const auto row = [](const char *name, const QByteArray &file, const char *section, const char *key,
                            const char *value, const char *skipped = "", const char *orphan = "") {
            QTest::newRow(name) << file << QString::fromLatin1(section) << QString::fromLatin1(key)
                                << QString::fromUtf8(value) << QString::fromLatin1(skipped)
                                << QString::fromLatin1(orphan);
        };
        row("nested section", "[Send\\3]\nData=x\n\n", "send\\3", "data", "x");
        row("escaped backslashes", "[Send\\3]\nData=\\\\0D\\\\0A\n", "Send\\3", "Data", "\\0D\\0A");
        row("escaped controls and edge blanks", "[S]\nk=\\x20a\\x0D\\x0Ab\\x20\n", "S", "k", " a\r\nb ");
        row("equals sign in a key", "[S]\na\\x3Db=c=d\n", "S", "a=b", "c=d");
        row("CR LF line ends", "[S]\r\nk=v\r\n", "S", "k", "v");
        row("UTF-8", "[S]\nk=\xe2\x82\xac\xc2\xa0\n", "S", "k", "\u20AC\u00A0");
        row("one section, two spellings", "[StartUp]\nWidth=1\n[Startup]\nHeight=2\n", "STARTUP", "height",
            "2");
        row("blanks around a key", "[S]\n  k  =v\n", "S", "k", "v");
        row("later line of a key holds", "[S]\nk=1\nk=2\n", "S", "k", "2");
        row("backslash typed by hand", "[S]\nk=C:\\Temp\\x\n", "S", "k", "C:\\Temp\\x");
        row("comments", "; note\n[S]\n# note\nk=v\n", "S", "k", "v");
        row("not UTF-8", "[S]\nk=v\nbad=\xff\xfe\nk2=v2\n", "S", "k2", "v2", "Line 3 ", "bad");
        row("binary", "[S]\nk=v\n" + QByteArray("\0\1\xff garbage", 11) + "\nk2=v2\n", "S", "k2", "v2",
            "Line 3 ");
        row("no equals sign", "[S]\nk=v\nhello world\nk2=v2\n", "S", "k2", "v2", "Line 3 ");
        row("key before any section", "x=1\n[S]\nk=v\nk2=v2\n", "S", "k2", "v2", "Line 1 ", "x");
        row("heading without its bracket", "[S]\nk=v\nk2=v2\n[T\ny=1\nz=2\n", "S", "k2", "v2",
            "Lines 4 to 6 ", "y");
        row("heading with a note", "[S]\nk=v\nk2=v2\n[T] ; mine\ny=1\n", "S", "k2", "v2", "Lines 4 to 5 ",
            "y");
    }

    void filesRead()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, skipped);
        QFETCH(QString, orphan);
        TempSettings &t = *m_settings;
        t.writeIni(file);
        SettingsStore &s = t.store();
        QTEST(s.Read(section, key), "value");
        QCOMPARE(s.problems().size(), skipped.isEmpty() ? 0 : 1);
        if (!skipped.isEmpty()) {
            QVERIFY2(s.problems().first().startsWith(skipped), qPrintable(s.problems().first()));
            QCOMPARE(s.Read(QStringLiteral("S"), QStringLiteral("k")), QStringLiteral("v"));
        }
        if (!orphan.isEmpty())
            QVERIFY(!s.contains(QStringLiteral("S"), orphan));
        // Around damage the save rewrites a line in its place; elsewhere it adds one.
        if (skipped.isEmpty()) {
            QVERIFY(!s.Save(QStringLiteral("Other"), QStringLiteral("k"), QStringLiteral("v")).isError());
            QVERIFY(fileBytes(t.iniPath()).startsWith(file));
        } else {
            QVERIFY(!s.Save(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("w")).isError());
            QByteArray expected = file;
            expected.replace(expected.indexOf("k=v\n"), 4, "k=w\n");
            QCOMPARE(fileBytes(t.iniPath()), expected);
            t.reopen();
            QCOMPARE(t.store().problems().size(), 1);
        }
    }

    // A removal takes away only its key, not one another store saved meanwhile
    // (that saves bring in each other's keys is the two processes' test).
    void removalKeepsAnotherStoresKeys()
    {
        SettingsStore a(m_settings->iniPath());
        SettingsStore b(m_settings->iniPath());
        QVERIFY(!b.Save(QStringLiteral("Send"), QStringLiteral("0"), QStringLiteral("state")).isError());
        QVERIFY(!a.Save(QStringLiteral("Options"), QStringLiteral("AutoReconnect"), QStringLiteral("1"))
                     .isError());
        QVERIFY(!b.SaveMany({{QStringLiteral("Send"), QStringLiteral("0"), std::nullopt}}).isError());
        m_settings->reopen();
        QCOMPARE(m_settings->store().Read(QStringLiteral("Options"), QStringLiteral("AutoReconnect")),
                 QStringLiteral("1"));
        QVERIFY(m_settings->store().ReadAll(QStringLiteral("Send")).isEmpty());
    }

    void twoProcessesLoseNothing()
    {
        TempSettings &t = *m_settings;
        constexpr int kCount = 40;
        QProcess writers[2];
        const QStringList tags = {QStringLiteral("A"), QStringLiteral("B")};
        for (int i = 0; i < 2; ++i) {
            writers[i].start(QCoreApplication::applicationFilePath(),
                             {QStringLiteral("--writer"), t.iniPath(), tags[i], QString::number(kCount)});
            QVERIFY(writers[i].waitForStarted());
        }
        // Both have read the (empty) file before either writes.
        for (QProcess &w : writers) {
            while (!w.canReadLine())
                QVERIFY(w.waitForReadyRead(30000));
            QCOMPARE(w.readLine(), QByteArray("ready\n"));
        }
        for (QProcess &w : writers)
            w.write("go\n");
        for (QProcess &w : writers) {
            QVERIFY(w.waitForFinished(120000));
            QVERIFY2(w.exitCode() == 0, w.readAllStandardError().constData());
        }
        t.reopen();
        QCOMPARE(t.store().ReadAll(tags[0]).size(), kCount);
        QCOMPARE(t.store().ReadAll(tags[1]).size(), kCount);
        // No number was given out twice.
        QSet<QString> owners;
        for (int n = 0; n < 2 * kCount; ++n)
            owners.insert(t.store().Read(kNumbers, QString::number(n)));
        QCOMPARE(owners.size(), 2 * kCount);
        QVERIFY(!owners.contains(QString()));
    }

    void failedSaveSaysWhyAndChangesNothing_data()
    {
        QTest::addColumn<QString>("blocker"); // what stands in the way of the file
        QTest::addColumn<int>("number");
        QTest::newRow("folder is a regular file") << "file" << ENOTDIR;
        QTest::newRow("file is a folder") << "folder" << EISDIR;
        QTest::newRow("another copy holds the lock") << "lock" << EBUSY;
    }

    void failedSaveSaysWhyAndChangesNothing()
    {
        QFETCH(QString, blocker);
        QFETCH(int, number);
        TempSettings &t = *m_settings;
        QString path = t.path(QStringLiteral("other.ini"));
        QLockFile lock(path + QStringLiteral(".lock"));
        if (blocker == QLatin1String("file")) {
            path = t.underAFile(QStringLiteral("tarnwell.ini"));
        } else if (blocker == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(path));
        } else {
            QVERIFY(lock.tryLock(0));
        }
        SettingsStore s(path);
        for (const OsError &e : {s.Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QStringLiteral("2")),
                                 s.CheckWritable()}) {
            QCOMPARE(e.number, number);
            QVERIFY2(e.description.startsWith(qt_error_string(number)), qPrintable(e.description));
        }
        QCOMPARE(s.Read(QStringLiteral("Mode"), QStringLiteral("Mode"), 0), QStringLiteral("0"));
        QCOMPARE(s.writeCount(), 0);
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

    void separatorWaitsForItsTimer()
    {
        writeOptions(QStringLiteral("FieldSeparatorIngoreOn=1"));
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

        // Ignoring separators between characters needs field splitting.
        QVERIFY(!m.IgnoreFieldSepsBetween() && !m.chkIgnoreBetweenEnabled());
        m.setText(Text::FieldSeparator, QStringLiteral(";"));
        // Splitting follows the text at once; the bytes follow the timer.
        QVERIFY(m.SpiltMessageIntoFields());
        QVERIFY(m.IgnoreFieldSepsBetween() && m.cboIgnoreBetweenEnabled());
        QCOMPARE(m.GetFieldSeparator(), OptionsModel::kNoSplitting.toLatin1());
        QTRY_COMPARE(m.GetFieldSeparator(), QByteArray(";"));
        m.setCheck(Check::IgnoreBetween, 0);
        QVERIFY(!m.IgnoreFieldSepsBetween() && !m.cboIgnoreBetweenEnabled());
    }

    // The stored values reach the option block and the getters; the block is
    // written before the first line of a run, by the model that line creates.
    // (Discarding and loading anew is the close box row of endings.)
    void firstUseWritesTheBlockFirst()
    {
        writeOptions(QStringLiteral("VerboseLogging=1\nMaxListLength= 250\nMessageSeparatorText=\\2C\n"
                                    "FieldSeparatorText=\\09\n"));
        m_log.reset();
        LimitReadingEvents log;
        OptionsModel::install();
        tw::events().AddEvent(QStringLiteral("first"));
        QVERIFY(isBlockWith(log.lines.mid(0, 17),
                            {"    Verbose logging is ON", "    The maximum list length is  250 rows",
                             "    The message separator is '\\2C'", "    The field separator is '\\09'"}));
        QCOMPARE(log.lines.mid(17), QStringList{QStringLiteral("first")});
        // Every read, the block's own included, saw the loaded model: one model, one block.
        QCOMPARE(log.limits, QList<qint32>(18, 250));
        QCOMPARE(QCoreApplication::instance()->findChildren<OptionsModel *>().size(), 1);
        // Loading converts at once, without waiting for a change timer.
        QCOMPARE(tw::options().GetMessageSeparator(), QByteArray(","));
        QCOMPARE(tw::options().GetFieldSeparator(), QByteArray("\t"));
        // Loading is not editing: nothing more is written to the store.
        QCOMPARE(m_settings->store().ReadAll(OptionsModel::kSection).size(), 4);
    }

    void storeThatCannotBeWrittenSaysSo()
    {
        UnwritableSettings blocked(*m_settings);
        OptionsModel m;
        QVERIFY(!m.SaveOptions());
        QCOMPARE(m_ui->messages(), QStringList{UnwritableSettings::told()});
    }

    // A control of each kind announces the user's change once, in the history's own words;
    // fields are split, ignoring between ticked and auto reconnection on beforehand.
    void announcements_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("input"); // "click", "up", "down", or the text typed before leaving
        QTest::addColumn<QString>("line");

        const auto row = [](const char *name, const char *control, const char *input, const char *line) {
            QTest::newRow(name) << QString::fromUtf8(control) << QString::fromUtf8(input)
                                << QString::fromUtf8(line);
        };
        row("verbose", "chkVerboseLogging", "click", "Verbose logging is ON");
        row("concat", "chkConcatMsgSeps", "click", "Message separator concatenation is OFF");
        row("message display", "chkMessageSeparator", "click", "Display of message separator is ON");
        row("ignore between", "chkIgnoreBetween", "click",
            "Ignore field separator between a special character is OFF");
        row("auto reconnect", "chkAutoReconnect", "click", "Auto reconnection is OFF");
        row("message separator", "cboMessage", ";", "The message separator is ';'");
        row("field separator", "cboField", "\\2C", "The field separator is '\\2C'");
        row("ignore text", "cboIgnoreBetween", "'", "Ignore field separator string is '''");
        row("list size", "txtMaxListSize", "x1", "The maximum list size is x1 KBytes");
        row("period", "txtReconnectPeriod", "750", "The auto reconnection period is 750 mSecs");
        row("rows spinner", "upRows", "up", "The maximum list length is 110 rows");
        row("kilobytes spinner", "upKilobytes", "down", "The maximum list size is 0 KBytes");
        row("period spinner", "upReconnection", "up", "The auto reconnection period is 510 mSecs");
    }

    void announcements()
    {
        QFETCH(QString, control);
        QFETCH(QString, input);
        QFETCH(QString, line);
        openWindow();
        model().setText(Text::FieldSeparator, QStringLiteral("\\09"));
        model().setCheck(Check::IgnoreBetween, 1);
        model().setCheck(Check::AutoReconnect, 1);
        takeLines();
        QWidget *w = m_w->findChild<QWidget *>(control);
        QVERIFY2(w && w->isEnabled(), "the control must be usable for this step");
        if (input == QLatin1String("click")) {
            qobject_cast<QCheckBox *>(w)->click();
        } else if (auto *spinner = qobject_cast<UpDown *>(w)) {
            (input == QLatin1String("up") ? spinner->upButton() : spinner->downButton())->click();
        } else {
            auto *combo = qobject_cast<QComboBox *>(w);
            QLineEdit *edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit *>(w);
            edit->clear();
            QTest::keyClicks(edit, input);
            QVERIFY(takeLines().isEmpty()); // typing alone announces nothing
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            QCoreApplication::sendEvent(w, &out);
        }
        QCOMPARE(takeLines(), QStringList{line});
    }

    // Edits are live at once and reach the store only with OK; Cancel reloads
    // the store and shows its values again, both hiding the window; the close
    // box drops the window with its edits, and the next use builds it from the store.
    void endings_data()
    {
        QTest::addColumn<QString>("ending");
        for (const char *ending : {"OK", "Cancel", "close"})
            QTest::newRow(ending) << QString::fromLatin1(ending);
    }

    void endings()
    {
        QFETCH(QString, ending);
        const bool ok = ending == QLatin1String("OK");
        writeOptions(QStringLiteral("MaxListLength=150"));
        openWindow();
        OptionsModel &m = model();
        m_w->chkVerboseLogging->click();
        m.setCheck(Check::VerboseLogging, 1); // no change, no line
        m.setCheck(Check::ClearAllLists, 5);  // not a check state
        QCOMPARE(m.check(Check::ClearAllLists), 0);
        m_w->txtMaxListLength->setText(QStringLiteral("200"));
        m.announce(Text::MaxListLength);
        m.setText(Text::ReconnectPeriod, QStringLiteral(" 7 ms"));
        m.setText(Text::MessageSeparator, QStringLiteral("\\09"));
        QCOMPARE(takeLines(), texts({"Verbose logging is ON", "The maximum list length is 200 rows"}));
        QVERIFY(tw::options().VerboseLogging());
        QCOMPARE(tw::options().GetMaxListLength(), 200);

        QPointer<frmOptions> w = m_w;
        if (ending == QLatin1String("close")) {
            m_w->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!w);
            m_w = frmOptions::open();
            // The dropped model went with its window: one model, the new one.
            QCOMPARE(QCoreApplication::instance()->findChildren<OptionsModel *>().size(), 1);
        } else {
            (ok ? m_w->cmdOK : m_w->cmdCancel)->click();
            QVERIFY(w && !w->isVisible());
            QVERIFY(!m.mblnLoading());
        }
        m_settings->reopen();
        QCOMPARE(m_settings->store().ReadAll(OptionsModel::kSection).size(), ok ? 16 : 1);
        QCOMPARE(stored("MaxListLength"), ok ? QStringLiteral("200") : QStringLiteral("150"));
        QCOMPARE(m_w->txtMaxListLength->text(), ok ? QStringLiteral("200") : QStringLiteral("150"));
        QCOMPARE(m_w->chkVerboseLogging->isChecked(), ok);
        QCOMPARE(tw::options().VerboseLogging(), ok);
        if (ok) {
            QVERIFY(lines().isEmpty());
            // Texts are kept as typed (the getter's fallback is a number conversion row).
            QCOMPARE(stored("AutoReconnectPeriod"), QStringLiteral(" 7 ms"));
        } else {
            QVERIFY(isBlockWith(lines(),
                                {"    Verbose logging is OFF", "    The maximum list length is 150 rows"}));
            // The reload converts at once, so the pending edit never shows.
            QCOMPARE(tw::options().GetMessageSeparator(), QByteArray("\r\n"));
        }
    }

    void httpPassThrough_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("No") << false << QStringList{};
        QTest::newRow("Yes") << true
                             << texts({"Auto reconnection is ON",
                                       "Allowing multiple client to connect in Pass Through mode is OFF"});
    }

    void httpPassThrough()
    {
        QFETCH(bool, yes);
        openWindow();
        model().setCheck(Check::MultipleClients, 1);
        takeLines();
        m_ui->yesNoAnswers.enqueue(yes);
        m_w->cmdHTTPPassThrough->click();
        QCOMPARE(m_ui->prompts.size(), 1);
        QTEST(takeLines(), "lines");
        QCOMPARE(m_w->txtReconnectPeriod->text(), yes ? QStringLiteral("1000") : QStringLiteral("500"));
        QCOMPARE(m_w->txtReconnectPeriod->isEnabled(), yes);
        QCOMPARE(m_w->chkMultipleClients->isChecked(), !yes);
    }

    void separatorDetails_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("shown");
        const auto row = [](const char *name, const char *button, const char *combo, const char *text,
                            const QByteArray &shown) {
            QTest::newRow(name) << QString::fromLatin1(button) << QString::fromLatin1(combo)
                                << QString::fromLatin1(text) << shown;
        };
        row("no splitting", "cmdFieldDetails", "cboField", "<No message splitting>", "");
        row("field", "cmdFieldDetails", "cboField", "a\\5C\\FF", "a\\\xFF");
    }

    void separatorDetails()
    {
        QFETCH(QString, button);
        QFETCH(QString, combo);
        QFETCH(QString, text);
        openWindow();
        m_w->findChild<QComboBox *>(combo)->setEditText(text);
        m_w->findChild<QPushButton *>(button)->click();
        QVERIFY(m_viewer && m_viewer->w->isVisible() && m_viewer->asCharacters);
        QTEST(m_viewer->shown, "shown");
        // OK hides the viewers with the window.
        m_w->cmdOK->click();
        QVERIFY(!m_viewer->w->isVisible());
    }
};

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--writer") == 0) {
        QCoreApplication app(argc, argv);
        return runWriter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    }
    QApplication app(argc, argv);
    TestOptions test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_options.moc"
