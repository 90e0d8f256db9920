#include "core/optionssource.h"
#include "display/frmfilter.h"
#include "display/messagefilter.h"
#include "support/recordingevents.h"
#include "support/testenv.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using Strings = QList<QByteArray>;

class TestFilter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void caseRules_data();
    void caseRules();
    void foldingIsLatin1Lowering();
    void settingsAndEvents();
};

void TestFilter::caseRules_data()
{
    QTest::addColumn<Strings>("strings");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("passes");

    const QByteArray get = "get /index.html HTTP/1.0\r\n";
    QTest::newRow("GET, insensitive: get passes") << Strings{"GET"} << get << false << true;
    QTest::newRow("GET, sensitive: get fails") << Strings{"GET"} << get << true << false;
    QTest::newRow("GET: POST fails") << Strings{"GET"} << QByteArray("POST /\r\n") << false << false;
    QTest::newRow("fourth box matches")
        << Strings{"x", "y", "", "POST"} << QByteArray("POST /") << true << true;
    QTest::newRow("all boxes empty: nothing passes") << Strings{} << get << false << false;
    QTest::newRow("blanks only are ignored")
        << Strings{"   ", "", " "} << QByteArray("a b") << false << false;
    QTest::newRow("blank kept: ' a' matches 'x a'") << Strings{" a"} << QByteArray("x a") << true << true;
    QTest::newRow("blank kept: ' a' misses 'xa'") << Strings{" a"} << QByteArray("xa") << true << false;
    QTest::newRow("separator typed in the box")
        << Strings{"end\r\n"} << QByteArray("the end\r\n") << true << true;
    QTest::newRow("NUL and 255 compare as bytes")
        << Strings{QByteArray("\x00\xFF", 2)} << QByteArray("a\x00\xFFz", 4) << true << true;
    // Latin-1 letters above 127 fold without regard to case, and only then.
    QTest::newRow("E acute, insensitive")
        << Strings{"\xC9T\xC9"} << QByteArray("l'\xE9t\xE9") << false << true;
    QTest::newRow("E acute, sensitive") << Strings{"\xC9T\xC9"} << QByteArray("l'\xE9t\xE9") << true << false;
    QTest::newRow("A tilde folds like a letter")
        << Strings{"\xC3"} << QByteArray("\xE3\xA9") << false << true;
    QTest::newRow("times and divide never fold") << Strings{"\xD7"} << QByteArray("\xF7") << false << false;
    QTest::newRow("sharp s and y diaeresis stay") << Strings{"\xDF"} << QByteArray("\xFF") << false << false;
    QTest::newRow("@ and ` are not letters") << Strings{"@["} << QByteArray("`{") << false << false;
}

void TestFilter::caseRules()
{
    QFETCH(Strings, strings);
    QFETCH(QByteArray, message);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, passes);
    MessageFilter filter;
    for (int i = 0; i < strings.size(); ++i)
        filter.setString(i, strings[i]);
    QCOMPARE(filter.passes(message, caseSensitive), passes);
    // A large message is folded in a buffer of its own, with the same result.
    const QByteArray padded = QByteArray(100 * 1024, '-') + message;
    QCOMPARE(filter.passes(padded, caseSensitive), passes);

    // The window gives the same answer for the same strings typed into it,
    // the option read at each message.
    TempSettings settings;
    RecordingEvents events;
    DefaultOptions options;
    options.caseSensitive = caseSensitive;
    tw::setOptions(&options);
    frmFilter window;
    for (int i = 0; i < strings.size(); ++i)
        window.txtFilter[size_t(i)]->setText(QString::fromLatin1(strings[i]));
    QCOMPARE(window.PassesFilter(message), passes);
    options.caseSensitive = !caseSensitive;
    QCOMPARE(window.PassesFilter(message), filter.passes(message, !caseSensitive));
    tw::setOptions(nullptr);
}

void TestFilter::foldingIsLatin1Lowering()
{
    // Every byte folds to the lower case of its Latin-1 character.
    for (int b = 0; b < 256; ++b)
        QCOMPARE(int(uchar(MessageFilter::foldCase(char(b)))), int(QChar(char16_t(b)).toLower().unicode()));
}

void TestFilter::settingsAndEvents()
{
    TempSettings settings;
    RecordingEvents events;
    DefaultOptions options;
    options.caseSensitive = false;
    tw::setOptions(&options);
    settings.writeIni("[Filter]\nFilter1=GET\nFilter2=\\x20caf\xC3\xA9\nFilterState=1\n");
    frmFilter window;
    QSignalSpy changed(&window, &frmFilter::FilterChanged);
    window.LoadSettings();
    // Restored like the user's own edits: the boxes while still off, then the switch.
    const QString on = QStringLiteral("The filtering has been enabled. ('GET', ' caf\u00E9', '' or '')");
    const QString off = QStringLiteral("The filtering has been disabled.");
    QCOMPARE(events.lines, (QStringList{off, off, on}));
    QCOMPARE(changed.count(), 3);
    QVERIFY(window.FilterOn());
    QVERIFY(window.PassesFilter(" CAF\xC9 au lait"));

    // Each edit while on adds one enabled event.
    events.lines.clear();
    QTest::keyClicks(window.txtFilter[3], QStringLiteral("ab"));
    QCOMPARE(events.lines.size(), 2);
    QCOMPARE(events.lines.last(),
             QStringLiteral("The filtering has been enabled. ('GET', ' caf\u00E9', '' or 'ab')"));
    window.chkFilterOn->click();
    QCOMPARE(events.lines.last(), off);
    QVERIFY(!window.FilterOn());

    // Only Close saves; the next run restores exactly what was saved.
    settings.reopen();
    QCOMPARE(settings.store().Read(QStringLiteral("Filter"), QStringLiteral("Filter4")), QString());
    window.show();
    window.cmdOK->click();
    QVERIFY(!window.isVisible());
    settings.reopen();
    const SettingsStore &store = settings.store();
    QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("Filter2")), QStringLiteral(" caf\u00E9"));
    QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("Filter4")), QStringLiteral("ab"));
    QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("FilterState")), QStringLiteral("0"));
    tw::setOptions(nullptr);
}

QTEST_MAIN(TestFilter)
#include "tst_filter.moc"
