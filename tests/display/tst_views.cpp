#include "core/bytes.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/detailslayout.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/indicators.h"
#include "display/messagefilter.h"
#include "support/recordingevents.h"
#include "support/testenv.h"
#include "ui/twips.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>

namespace {

using Icon = DataListModel::RowIcon;

// A list with the load-time columns, every change checked against the model rules.
class Model : public DataListModel
{
public:
    Model()
    {
        setColumns({{QStringLiteral("#"), 645},
                    {QStringLiteral("Time"), 1170},
                    {QStringLiteral("I/O"), 435},
                    {QStringLiteral("Sock#"), 660},
                    {QStringLiteral("Message"), 6180}});
    }
    QString text(int row, int column) const { return data(index(row, column), Qt::DisplayRole).toString(); }
    QStringList column(int c) const
    {
        QStringList out;
        for (int r = 0; r < rowCount(); ++r)
            out << text(r, c);
        return out;
    }
    void add(const QByteArray &message, bool incoming = true, Icon rowIcon = Icon::None)
    {
        NewRow r;
        r.incoming = incoming;
        r.icon = rowIcon;
        r.direction = incoming ? QStringLiteral("In") : QStringLiteral("Out");
        r.socket = QStringLiteral("NA");
        r.raw = message + "\r\n";
        r.cells.append(message);
        appendRow(std::move(r));
    }

    QAbstractItemModelTester tester{this, QAbstractItemModelTester::FailureReportingMode::QtTest};
};

QStringList latin1(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromLatin1(item);
    return out;
}

// What the document must show for a byte stream: one line per CR, LF or CR LF.
QStringList expectedLines(const QByteArray &bytes)
{
    return QString::fromLatin1(QByteArray(bytes).replace("\r\n", "\n").replace('\r', '\n')).split(u'\n');
}

QStringList documentLines(const DataTextView &view)
{
    QStringList lines;
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

QColor colourAt(const DataTextView &view, int position)
{
    const QTextBlock block = view.document()->findBlock(position);
    for (const QTextLayout::FormatRange &r : block.textFormats()) {
        const int start = block.position() + r.start;
        if (position >= start && position < start + r.length)
            return r.format.foreground().color();
    }
    return {};
}

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
        model.attachView(&list);
        for (const char *message : {"r0", "r1", "r2"})
            model.add(message);
        text.append(QByteArray(200, 'a') + QByteArray(200, 'b'), true);
        list.setCurrentIndex(QModelIndex());
    }
    frmDetails::DataTab tab(bool listView) { return {listView, &list, &text}; }
    Model model;
    QTreeView list;
    DataTextView text;
};

} // namespace

class TestViews : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rowContents()
    {
        Model m;
        m.add("hello", true, Icon::Tick);
        m.add("bye", false, Icon::Unplugged);
        m.add("plain", false, Icon::None);
        QCOMPARE(m.column(DataListModel::ColDirection), latin1({"In", "Out", "Out"}));
        // The raw tag keeps the separator, whatever column is asked.
        QCOMPARE(m.data(m.index(0, 3), DataListModel::RawRole).toByteArray(), QByteArray("hello\r\n"));

        // Only the "#" cell is coloured by direction.
        QCOMPARE(m.data(m.index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        QCOMPARE(m.data(m.index(1, 0), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
        QVERIFY(!m.data(m.index(0, 4), Qt::ForegroundRole).isValid());

        // Tick and unplugged cable differ; no icon shows nothing.
        const QIcon tick = m.data(m.index(0, 0), Qt::DecorationRole).value<QIcon>();
        const QIcon unplugged = m.data(m.index(1, 0), Qt::DecorationRole).value<QIcon>();
        QVERIFY(!tick.isNull() && !unplugged.isNull());
        QVERIFY(tick.pixmap(16, 16).toImage() != unplugged.pixmap(16, 16).toImage());
        QVERIFY(!m.data(m.index(2, 0), Qt::DecorationRole).isValid());

        // Out of range asks give nothing rather than garbage.
        QVERIFY(!m.data(m.index(5, 0), Qt::DisplayRole).isValid());
        QCOMPARE(m.rawTag(-1), QByteArray());
        QCOMPARE(m.rawTag(3), QByteArray());

        // Packed cells keep every byte; fields a row lacks are empty.
        for (const char *field : {"Field 2", "Field 3", "Field 4"})
            m.appendColumn(QString::fromLatin1(field), 1200);
        DataListModel::NewRow r;
        r.socket = QStringLiteral("3");
        r.time = QTime(14, 3, 9, 500);
        r.cells = {QByteArray("first"), QByteArray(), QByteArray("a\0b", 3)};
        m.appendRow(std::move(r));
        QCOMPARE(m.text(3, DataListModel::ColTime), QStringLiteral("14:03:09.500"));
        QCOMPARE(m.column(DataListModel::ColSocket), latin1({"NA", "NA", "NA", "3"}));
        QCOMPARE(m.cell(3, 6), QByteArray("a\0b", 3));
        QCOMPARE(m.text(3, 6), QString::fromLatin1("a\0b", 3));
        QCOMPARE(m.cell(3, 7), QByteArray()); // beyond this row's fields
        QCOMPARE(m.text(0, 4), QStringLiteral("hello"));
        QCOMPARE(m.text(0, 5), QString());
    }

    void longCellsShowABoundedPrefix_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("fromRaw");
        QTest::addColumn<QString>("shown");
        const qsizetype n = DataListModel::kCellChars;
        const QString more(QChar(DataListModel::kMoreMark));
        const QByteArray big(1 << 20, 'x');
        QTest::newRow("message at the bound") << QByteArray(n, 'a') << true << QString(n, u'a');
        QTest::newRow("1 MB message") << big << true << QString(n, u'x') + more;
        // Escaped, the bytes at the bound grow past it: the escape is not cut through.
        QTest::newRow("escape across the bound")
            << QByteArray(n - 2, 'a') + "\x01" << true << QString(n - 2, u'a') + more;
        QTest::newRow("1 MB field") << big << false << QString(n, u'x') + more;
        QTest::newRow("field of escapes")
            << QByteArray(n, '\x01') << false << QString(QStringLiteral("\\01")).repeated(n / 3) + more;
    }

    void longCellsShowABoundedPrefix()
    {
        QFETCH(QByteArray, raw);
        QFETCH(bool, fromRaw);
        QFETCH(QString, shown);
        Model m;
        DataListModel::NewRow r;
        r.raw = raw + "\r\n";
        if (fromRaw)
            r.cellFromRawChop = 2;
        else
            r.cells.append(Bytes::GetChar(raw));
        m.appendRow(std::move(r));
        QCOMPARE(m.text(0, DataListModel::ColMessage), shown);
        // The row keeps the whole: the details viewer's tag and the cell.
        QCOMPARE(m.rawTag(0), raw + "\r\n");
        QCOMPARE(m.cell(0, DataListModel::ColMessage), Bytes::GetChar(raw));
        QCOMPARE(m.data(m.index(0, DataListModel::ColMessage), DataListModel::WholeTextRole).toString(),
                 QString::fromLatin1(Bytes::GetChar(raw)));
    }

    void longCellsSortAndCopyWhole()
    {
        // Two messages alike in every byte the cells show.
        const QByteArray prefix(DataListModel::kCellChars + 10, 'x');
        Model m;
        m.add(prefix + "b");
        m.add(prefix + "a");
        QCOMPARE(m.text(0, 4), m.text(1, 4));
        m.sortByHeader(4);
        QCOMPARE(m.column(0), latin1({"002", "001"}));

        QTreeView view;
        m.attachView(&view);
        view.setCurrentIndex(m.index(1, 4));
        QTest::keySequence(&view, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), QString::fromLatin1(prefix + "b"));
    }

    void batchAnnouncesOnceAtFlush()
    {
        Model m;
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        m.beginBatch();
        m.beginBatch(); // nested: only the outermost end announces
        for (int i = 0; i < 50; ++i)
            m.add("a");
        QCOMPARE(m.rowCount(), 0);
        // Held rows are numbered and reachable before views hear of them.
        QCOMPARE(m.numberText(49), QStringLiteral("050"));
        m.flush();
        QCOMPARE(m.rowCount(), 50);
        QCOMPARE(inserted.count(), 1);

        // Columns may change while rows are held.
        m.add("b");
        m.appendColumn(QStringLiteral("Field 2"), 1200);
        m.setHeaderText(4, QStringLiteral("Field 1"));
        m.endBatch();
        QCOMPARE(m.rowCount(), 50);
        m.endBatch();
        QCOMPARE(m.rowCount(), 51);
        QCOMPARE(inserted.count(), 2);

        // Outside a batch every row is announced at once; an unbalanced end does no harm.
        m.endBatch();
        m.add("c");
        QCOMPARE(m.rowCount(), 52);
        QCOMPARE(inserted.count(), 3);
    }

    void sortByHeader_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("expected");
        // Messages added in this order: b, A, c, a, B (rows 001 to 005).
        QTest::newRow("message ascending, case ignored, ties keep order")
            << QList<int>{4} << 4 << latin1({"A", "a", "b", "B", "c"});
        QTest::newRow("numbers keep their rows")
            << QList<int>{4} << 0 << latin1({"002", "004", "001", "005", "003"});
        QTest::newRow("same column again reverses")
            << QList<int>{4, 4} << 4 << latin1({"c", "b", "B", "A", "a"});
        QTest::newRow("another column starts ascending")
            << QList<int>{4, 4, 0} << 0 << latin1({"001", "002", "003", "004", "005"});
    }

    void sortByHeader()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, column);
        Model m;
        for (const char *s : {"b", "A", "c", "a", "B"})
            m.add(s);
        const QPersistentModelIndex kept(m.index(0, 4));
        for (int c : clicks)
            m.sortByHeader(c);
        QTEST(m.column(column), "expected");
        // Indexes held elsewhere follow their rows; a new row goes at the end,
        // numbered from the row count.
        QCOMPARE(m.text(kept.row(), 0), QStringLiteral("001"));
        QCOMPARE(kept.data().toString(), QStringLiteral("b"));
        m.add("z");
        QCOMPARE(m.text(5, 0), QStringLiteral("006"));
    }

    void attachedViewSortsSizesAndShowsLastRow()
    {
        Model m;
        QTreeView view;
        view.header()->setStretchLastSection(false);
        m.attachView(&view);
        view.resize(800, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        m.appendColumn(QStringLiteral("Field 2"), 1200);
        m.setColumnWidthTwips(4, 1000);
        QCOMPARE(view.columnWidth(4), Twips::toPixelsX(1000));
        QCOMPARE(view.columnWidth(5), Twips::toPixelsX(1200));

        for (const char *s : {"m", "z", "a"})
            m.add(s);
        QHeaderView *header = view.header();
        const auto click = [header](int section) {
            const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };
        click(4);
        click(4);
        QCOMPARE(m.column(4), latin1({"z", "m", "a"}));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

        m.beginBatch();
        for (int i = 0; i < 500; ++i)
            m.add(QByteArray::number(i));
        m.showLastRow(); // announces held rows first
        QCOMPARE(view.currentIndex().row(), 502);
        QVERIFY(view.selectionModel()->isRowSelected(502, QModelIndex()));
        QTRY_VERIFY(view.visualRect(m.index(502, 0)).intersects(view.viewport()->rect()));

        // Clearing, held rows too, goes without a reset, so the view keeps its
        // column widths and hidden columns; numbering starts again.
        view.setColumnWidth(1, 123);
        view.setColumnHidden(3, true);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
        m.clear();
        QCOMPARE(m.heldRowCount(), 0);
        QCOMPARE(m.columnCount(), 6);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(view.columnWidth(1), 123);
        QVERIFY(view.isColumnHidden(3));
        m.add("new");
        m.endBatch();
        QTRY_COMPARE(m.column(0), latin1({"001"}));
    }

    void lengthCountsBytes_data()
    {
        QTest::addColumn<QList<QByteArray>>("appends");
        QTest::addColumn<bool>("renderBetween");
        QTest::newRow("CR LF, lone CR and LF, blank lines")
            << QList<QByteArray>{"a\r\nb\rc\n\r\n\n\r"} << false;
        QTest::newRow("escapes and empty appends")
            << QList<QByteArray>{"", "x\\0D", "", "y\\5C\r\n"} << false;
        // A CR LF whose halves arrive apart is still one line break.
        const QList<QByteArray> split{"one\r", "\ntwo\r", "\r\nthree"};
        QTest::newRow("CR LF split") << split << false;
        QTest::newRow("CR LF split, shown between") << split << true;
        // Clearing drops what is shown and what waits to be.
        QTest::newRow("cleared") << QList<QByteArray>{"abc\r\ndef", "<clear>", "\nnew"} << true;
    }

    void lengthCountsBytes()
    {
        QFETCH(QList<QByteArray>, appends);
        QFETCH(bool, renderBetween);
        DataTextView view;
        QByteArray all;
        bool incoming = true;
        for (const QByteArray &a : appends) {
            if (a == "<clear>") {
                view.append("pending", true);
                view.clear();
                QVERIFY(!view.hasPendingRender());
                all.clear();
                continue;
            }
            view.append(a, incoming);
            incoming = !incoming;
            all += a;
            if (renderBetween)
                view.renderAll();
        }
        QCOMPARE(view.bytes(), all);
        view.renderAll();
        QCOMPARE(documentLines(view), expectedLines(all));
        QCOMPARE(view.caretOffset(), all.size());
    }

    void caretRoundTripsEveryOffset()
    {
        QRandomGenerator rng(7);
        static const char *const kPieces[] = {"\r\n", "\r", "\n", "ab", "\\0D", "xyz", "\r\n\r\n"};
        DataTextView view;
        QByteArray all;
        for (int i = 0; i < 60; ++i) {
            const QByteArray piece = kPieces[rng.bounded(7)];
            view.append(piece, rng.bounded(2) == 0);
            all += piece;
            if (i % 13 == 0)
                view.renderAll();
        }
        for (qsizetype offset = 0; offset <= all.size(); ++offset) {
            view.setCaretOffset(offset);
            QCOMPARE(view.caretOffset(), offset);
            QCOMPARE(view.textAfterCaret(300), all.mid(offset, 300));
            QCOMPARE(view.textAfterCaret(3), all.mid(offset, 3));
        }
        // From the document side, as a click or a key places the caret: every
        // position is one byte, but a CR LF is one position (at its CR).
        QList<qsizetype> expected, offsets;
        for (qsizetype i = 0; i <= all.size(); ++i) {
            if (i == 0 || all[i - 1] != '\r' || i == all.size() || all[i] != '\n')
                expected << i;
        }
        for (int position = 0; position < view.document()->characterCount(); ++position) {
            QTextCursor c = view.textCursor();
            c.setPosition(position);
            view.setTextCursor(c);
            offsets << view.caretOffset();
        }
        QCOMPARE(offsets, expected);
        // Beyond the ends the caret stops at the ends.
        view.setCaretOffset(-5);
        QCOMPARE(view.caretOffset(), 0);
        view.setCaretOffset(all.size() + 10);
        QCOMPARE(view.caretOffset(), all.size());
    }

    // Each byte is coloured by its direction, within a line too; a copy keeps
    // the line breaks' own bytes.
    void coloursAndCopy()
    {
        DataTextView view;
        view.append("ab\r\ncd", true);
        view.append("x\ref\n", false);
        view.append("gh", true);
        view.renderAll();
        const QTextDocument *document = view.document();
        QCOMPARE(colourAt(view, 1), QColor(255, 0, 0));
        QCOMPARE(colourAt(view, document->findBlockByNumber(1).position() + 1), QColor(255, 0, 0));
        QCOMPARE(colourAt(view, document->findBlockByNumber(1).position() + 2), QColor(0, 0, 255));
        QCOMPARE(colourAt(view, document->findBlockByNumber(2).position() + 1), QColor(0, 0, 255));
        QCOMPARE(colourAt(view, document->findBlockByNumber(3).position()), QColor(255, 0, 0));
        QVERIFY(view.isIncomingAt(5) && !view.isIncomingAt(6) && !view.isIncomingAt(10) &&
                view.isIncomingAt(11));

        QTextCursor c = view.textCursor();
        c.setPosition(1);
        c.setPosition(document->findBlockByNumber(3).position() + 1, QTextCursor::KeepAnchor);
        view.setTextCursor(c);
        view.copy();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("b\r\ncdx\ref\ng"));
    }

    void hiddenViewCatchesUpWhenShown()
    {
        DataTextView view;
        view.append("line 1\r\nline 2", true);
        QVERIFY(view.document()->isEmpty());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_VERIFY(!view.hasPendingRender());

        // A large append while shown reaches the document in slices, in order.
        QByteArray big;
        for (int i = 0; i < 20000; ++i)
            big += "message " + QByteArray::number(i) + "\r\n";
        view.append(big, false);
        QTRY_VERIFY(!view.hasPendingRender());
        QCOMPARE(documentLines(view), expectedLines("line 1\r\nline 2" + big));
    }

    void indicators()
    {
        // The gauge's scale grows by tens to hold the buffer and shrinks back when it empties.
        PauseGaugeScale scale;
        QList<int> seen;
        for (const qint64 length : {10, 30, 60, 1000, 1001, 2500, 12345678, 0, 500})
            seen << scale.percentFor(length);
        QCOMPARE(seen, (QList<int>{1, 3, 6, 100, 10, 25, 12, 0, 50}));

        Lamp lamp(QStringLiteral("Data received"));
        const QColor idle = lamp.colour();
        lamp.light(Lamp::kReceived);
        QCOMPARE(lamp.colour(), QColor(255, 0, 0));
        lamp.dim();
        QCOMPARE(lamp.colour(), idle);
    }

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
        QTest::addColumn<bool>("passesInsensitive");
        QTest::addColumn<bool>("passesSensitive");
        const auto row = [](const char *name, const Strings &strings, const QByteArray &message,
                            bool insensitive, bool sensitive) {
            QTest::newRow(name) << strings << message << insensitive << sensitive;
        };
        row("GET: get", {"GET"}, "get /index.html HTTP/1.0\r\n", true, false);
        row("GET: POST fails", {"GET"}, "POST /\r\n", false, false);
        row("fourth box matches", {"x", "y", "", "POST"}, "POST /", true, true);
        row("all boxes empty: nothing passes", {}, "get /\r\n", false, false);
        row("blanks only are ignored", {"   ", "", " "}, "a b", false, false);
        row("blank kept: ' a' matches 'x a'", {" a"}, "x a", true, true);
        row("blank kept: ' a' misses 'xa'", {" a"}, "xa", false, false);
        row("separator typed in the box", {"end\r\n"}, "the end\r\n", true, true);
        row("NUL and 255 compare as bytes", {QByteArray("\x00\xFF", 2)}, QByteArray("a\x00\xFFz", 4), true,
            true);
        // Latin-1 letters above 127 fold without regard to case, and only then.
        row("E acute", {"\xC9T\xC9"}, "l'\xE9t\xE9", true, false);
        row("A tilde folds like a letter", {"\xC3"}, "\xE3\xA9", true, false);
        row("times and divide never fold", {"\xD7"}, "\xF7", false, false);
        row("sharp s and y diaeresis stay", {"\xDF"}, "\xFF", false, false);
        row("@ and ` are not letters", {"@["}, "`{", false, false);
    }

    void caseRules()
    {
        QFETCH(Strings, strings);
        QFETCH(QByteArray, message);
        MessageFilter filter;
        for (int i = 0; i < strings.size(); ++i)
            filter.setString(i, strings[i]);
        // A large message is folded in a buffer of its own, with the same result.
        const QByteArray padded = QByteArray(100 * 1024, '-') + message;
        QTEST(filter.passes(message, false), "passesInsensitive");
        QTEST(filter.passes(padded, false), "passesInsensitive");
        QTEST(filter.passes(message, true), "passesSensitive");
        QTEST(filter.passes(padded, true), "passesSensitive");
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

QTEST_MAIN(TestViews)
#include "tst_views.moc"
