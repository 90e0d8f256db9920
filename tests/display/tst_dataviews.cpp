#include "core/bytes.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/indicators.h"
#include "ui/twips.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QRandomGenerator>
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

} // namespace

class TestDataViews : public QObject
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
        view.setModel(&m);
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
        view.setModel(&m);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
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
};

QTEST_MAIN(TestDataViews)
#include "tst_dataviews.moc"
