#include "core/bytes.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/detailslayout.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/messagefilter.h"
#include "support/recordingevents.h"
#include "support/testenv.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

namespace {

using Strings = QList<QByteArray>;
using Rep = DetailsLayout::Representation;
using Pos = DetailsLayout::Position;

// Random bytes, with every kind of line break sprinkled in.
QByteArray randomData(quint32 seed, qsizetype size)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(rng.bounded(256));
    const char *const breaks[] = {"\r\n", "\r", "\n", "\n\r", "\r\r\n"};
    for (int i = 0; i < size / 40; ++i) {
        const QByteArray b(breaks[rng.bounded(5)]);
        const qsizetype at = rng.bounded(qMax<qsizetype>(1, size - b.size()));
        out.replace(at, b.size(), b);
    }
    return out;
}

// A row of a list and a text view, as a data tab holds them.
struct Tab
{
    Tab()
    {
        model.setColumns({{QStringLiteral("#"), 645}, {QStringLiteral("Message"), 6000}});
        list.setModel(&model);
        model.attachView(&list);
        for (const char *raw : {"r0\r\n", "r1\r\n", "r2\r\n"}) {
            DataListModel::NewRow row;
            row.raw = raw;
            model.appendRow(std::move(row));
        }
        text.append(QByteArray(200, 'a') + QByteArray(200, 'b'), true);
        list.setCurrentIndex(QModelIndex());
    }
    frmDetails::DataTab tab(bool listView) { return {listView, &list, &text}; }
    DataListModel model;
    QTreeView list;
    DataTextView text;
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void representations_data()
    {
        QTest::addColumn<int>("rep");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("caption");

        // The worked example, A CR LF, and random data, in each representation.
        struct Case
        {
            const char *name;
            const char *caption;
            QByteArray aCrLf;
            QByteArray (*convert)(QByteArrayView);
        };
        const Case cases[] = {
            {"WYSIWYG", "Details - WYSIWYG", "A\r\n", nullptr},
            {"Chr", "Details - Character", "A\\0D\\0A", Bytes::GetChar},
            {"Dec", "Details - AscII (Decimal)", "065 013 010 ", Bytes::GetAscII},
            {"Hex", "Details - AscII (Hexadecimal)", "41 0D 0A ", Bytes::GetHex},
            {"Bin", "Details - AscII (Binary)", "01000001 00001101 00001010 ", Bytes::GetBinary},
            {"Oct", "Details - AscII (Octal)", "101 015 012 ", Bytes::GetOctal},
        };
        const QByteArray random = randomData(14, 3000);
        for (int r = 0; r < DetailsLayout::kRepresentationCount; ++r) {
            const Case &c = cases[r];
            const QString caption = QString::fromLatin1(c.caption);
            QTest::addRow("%s of A CR LF", c.name) << r << QByteArray("A\r\n") << c.aCrLf << caption;
            QTest::addRow("%s of random", c.name)
                << r << random << (c.convert ? c.convert(random) : random) << caption;
        }
        QTest::newRow("Hex of nothing") << int(Rep::Hex) << QByteArray() << QByteArray()
                                        << QStringLiteral("Details - AscII (Hexadecimal)");
    }

    void representations()
    {
        QFETCH(int, rep);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected);

        // Switching representation renders the text the window holds anew.
        frmDetails window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Details"));
        window.AddDetails(data);
        window.optDetails[size_t(rep)]->click();
        QCOMPARE(window.representation(), Rep(rep));
        QTEST(window.windowTitle(), "caption");
        QCOMPARE(window.currentText(), data);
        QCOMPARE(window.txtDetails->renderedText(), expected);
        window.txtDetails->selectAll();
        QCOMPARE(window.txtDetails->selectedText(), expected);

        // At any width and however the scan is sliced, the rows together are
        // the text, no row is wider than asked, and every position addresses
        // its own character of the text.
        const int widths[] = {9, 10, 47, 80};
        for (int width : widths) {
            DetailsLayout layout;
            layout.setText(data, Rep(rep), width);
            while (!layout.layOutSome(97)) {
            }
            DetailsLayout atOnce;
            atOnce.setText(data, Rep(rep), width);
            atOnce.layOutSome(data.size() + 1);
            QCOMPARE(layout.rowCount(), atOnce.rowCount());

            auto offsetOf = [&](Pos p) {
                return DetailsLayout::render(QByteArrayView(data).first(p.byte), Rep(rep)).size() + p.offset;
            };
            QByteArray joined;
            for (qsizetype row = 0; row < layout.rowCount(); ++row) {
                QCOMPARE(layout.rowStart(row), atOnce.rowStart(row));
                QCOMPARE(layout.rowStart(row), qsizetype(row == 0 ? 0 : layout.rowEnd(row - 1)));
                const QString text = layout.rowText(row);
                QVERIFY(text.size() <= width);
                QCOMPARE(text.size(), qsizetype(layout.rowLength(row)));
                const QByteArray piece =
                    layout.textBetween({layout.rowStart(row), 0}, {layout.rowEnd(row), 0});
                // Only WYSIWYG rows carry a line break beyond what they show.
                const QByteArray rest = piece.mid(text.size());
                QCOMPARE(Bytes::toText(piece.first(text.size())), text);
                QVERIFY(rest.isEmpty() ||
                        (rep == Rep::WYSIWYG && (rest == "\r\n" || rest == "\r" || rest == "\n")));
                joined += piece;

                for (int column = 0; column <= text.size() + 1; ++column) {
                    const Pos p = layout.positionAt(row, column);
                    const qsizetype fromRow =
                        DetailsLayout::render(
                            QByteArrayView(data).sliced(layout.rowStart(row), p.byte - layout.rowStart(row)),
                            Rep(rep))
                            .size() +
                        p.offset;
                    QCOMPARE(fromRow, qsizetype(qMin(column, int(text.size()))));
                    QCOMPARE(layout.columnOf(row, p), qMin(column, int(text.size())));
                }
            }
            QCOMPARE(joined, expected);
            QCOMPARE(layout.rowOf(layout.end()), layout.rowCount() - 1);

            // Any stretch between two positions is that stretch of the text.
            QRandomGenerator rng{quint32(width)};
            for (int i = 0; i < 50 && layout.rowCount() > 0; ++i) {
                const qsizetype r1 = rng.bounded(int(layout.rowCount()));
                const qsizetype r2 = rng.bounded(int(layout.rowCount()));
                const Pos p1 = layout.positionAt(r1, rng.bounded(width + 1));
                const Pos p2 = layout.positionAt(r2, rng.bounded(width + 1));
                const qsizetype o1 = offsetOf(p1);
                const qsizetype o2 = offsetOf(p2);
                QCOMPARE(layout.textBetween(p1, p2), expected.mid(qMin(o1, o2), qAbs(o2 - o1)));
                QVERIFY(layout.rowOf(p1) == r1 ||
                        (layout.rowOf(p1) == r1 + 1 && p1.byte == layout.rowEnd(r1)));
            }
        }
    }

    void largeMessageShowsItsFirstScreenAtOnce()
    {
        const QByteArray big = randomData(10, 10 * 1024 * 1024);
        frmDetails window;
        window.resize(800, 600);
        window.show();
        for (Rep rep : {Rep::WYSIWYG, Rep::Chr, Rep::Bin}) {
            window.setRepresentation(rep);
            window.AddDetails(big);
            const DetailsLayout &layout = window.txtDetails->layout();
            // The first screen is there before the event loop has had a turn;
            // WYSIWYG and Chr find their remaining rows in later turns.
            QVERIFY(layout.rowCount() > 40);
            QCOMPARE(layout.complete(), rep == Rep::Bin);
            const qsizetype end = layout.rowEnd(39);
            QVERIFY(end < big.size() / 16);
            QCOMPARE(layout.textBetween({0, 0}, {end, 0}), DetailsLayout::render(big.first(end), rep));
            window.txtDetails->grab();

            QTRY_VERIFY(layout.complete());
            const qsizetype last = layout.rowCount() - 1;
            const QByteArrayView tail = QByteArrayView(big).sliced(layout.rowStart(last));
            QCOMPARE(layout.textBetween({layout.rowStart(last), 0}, layout.end()),
                     DetailsLayout::render(tail, rep));

            // Rows wrap anew to a new width; the byte at the top stays at the top.
            window.txtDetails->verticalScrollBar()->setValue(int(last / 2));
            const qsizetype topByte = layout.rowStart(window.txtDetails->topRow());
            const int rowChars = layout.rowChars();
            window.resize(window.width() == 800 ? 500 : 800, 600);
            QTRY_VERIFY(layout.rowChars() != rowChars && layout.complete());
            const qsizetype top = window.txtDetails->topRow();
            QVERIFY(layout.rowStart(top) <= topByte && topByte < layout.rowEnd(top));
        }
    }

    void openAndFollow_data()
    {
        QTest::addColumn<QString>("call"); // "open", or the newest data with tracking "ticked" or "unticked"
        QTest::addColumn<bool>("listView");
        // open: the list's row (-1 none) or the caret from the end; else the text's length
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("shown");
        const QByteArray a200(200, 'a'), b100(100, 'b');
        QTest::newRow("list: the selected row's message")
            << "open" << true << 1 << QByteArray("r1\r\n") << true;
        QTest::newRow("list: no row selected, text kept")
            << "open" << true << -1 << QByteArray("before") << true;
        QTest::newRow("text: caret 100 before the end") << "open" << false << 100 << b100 << true;
        QTest::newRow("text: 300 after the caret") << "open" << false << 400 << a200 + b100 << true;
        QTest::newRow("text: caret at the end") << "open" << false << 0 << QByteArray() << true;
        QTest::newRow("not ticked: nothing") << "unticked" << true << 400 << QByteArray("before") << false;
        QTest::newRow("not ticked, text view: nothing")
            << "unticked" << false << 400 << QByteArray("before") << false;
        QTest::newRow("list: the last row, window not shown")
            << "ticked" << true << 400 << QByteArray("r2\r\n") << false;
        QTest::newRow("text: the last 300, window shown")
            << "ticked" << false << 400 << QByteArray(100, 'a') + QByteArray(200, 'b') << true;
        QTest::newRow("text: shorter than 300, all") << "ticked" << false << 5 << QByteArray("aaaaa") << true;
    }

    // Opening takes the selected row or the text after the caret; tracking the
    // newest data takes the last row or the last 300 characters.
    void openAndFollow()
    {
        QFETCH(QString, call);
        QFETCH(bool, listView);
        QFETCH(int, at);
        Tab tab;
        frmDetails window;
        window.AddDetails("before");
        if (call == QLatin1String("open")) {
            if (listView && at >= 0)
                tab.list.setCurrentIndex(tab.model.index(at, 0));
            if (!listView)
                tab.text.setCaretOffset(tab.text.length() - at);
            window.OpenDetails(tab.tab(listView));
        } else {
            tab.text.clear();
            tab.text.append(QByteArray(qMin(at, 200), 'a') + QByteArray(qMax(0, at - 200), 'b'), true);
            tab.list.setCurrentIndex(tab.model.index(0, 0));
            window.chkTrackLatestData->setChecked(call == QLatin1String("ticked"));
            window.LatestDataAdded(tab.tab(listView));
            if (call == QLatin1String("ticked") && !listView)
                QCOMPARE(tab.text.caretOffset(), qMax(0, at - 300));
        }
        QTEST(window.currentText(), "expected");
        QTEST(window.isVisible(), "shown");
    }

    void caseRules_data()
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
        QTest::newRow("E acute, sensitive")
            << Strings{"\xC9T\xC9"} << QByteArray("l'\xE9t\xE9") << true << false;
        QTest::newRow("A tilde folds like a letter")
            << Strings{"\xC3"} << QByteArray("\xE3\xA9") << false << true;
        QTest::newRow("times and divide never fold")
            << Strings{"\xD7"} << QByteArray("\xF7") << false << false;
        QTest::newRow("sharp s and y diaeresis stay")
            << Strings{"\xDF"} << QByteArray("\xFF") << false << false;
        QTest::newRow("@ and ` are not letters") << Strings{"@["} << QByteArray("`{") << false << false;
    }

    void caseRules()
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
    }

    void foldingIsLatin1Lowering()
    {
        // Every byte folds to the lower case of its Latin-1 character.
        for (int b = 0; b < 256; ++b)
            QCOMPARE(int(uchar(MessageFilter::foldCase(char(b)))),
                     int(QChar(char16_t(b)).toLower().unicode()));
    }

    void settingsAndEvents()
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
        QVERIFY(!window.PassesFilter("CAF\xC9 au lait")); // the blank typed is kept
        // The option is read at each message.
        options.caseSensitive = true;
        QVERIFY(!window.PassesFilter(" CAF\xC9 au lait"));
        options.caseSensitive = false;

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
        QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("Filter2")),
                 QStringLiteral(" caf\u00E9"));
        QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("Filter4")), QStringLiteral("ab"));
        QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("FilterState")), QStringLiteral("0"));
        tw::setOptions(nullptr);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
