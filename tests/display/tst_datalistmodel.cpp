#include "core/bytes.h"
#include "display/datalistmodel.h"
#include "ui/twips.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

namespace {

using Row = DataListModel::NewRow;
using Icon = DataListModel::RowIcon;

QList<DataListModel::Column_> loadColumns()
{
    return {{QStringLiteral("#"), 645},
            {QStringLiteral("Time"), 1170},
            {QStringLiteral("I/O"), 435},
            {QStringLiteral("Sock#"), 660},
            {QStringLiteral("Message"), 6180}};
}

Row makeRow(const QByteArray &message, bool incoming = true, Icon icon = Icon::None,
            const QString &socket = QStringLiteral("NA"))
{
    Row r;
    r.incoming = incoming;
    r.icon = icon;
    r.direction = incoming ? QStringLiteral("In") : QStringLiteral("Out");
    r.socket = socket;
    r.raw = message + "\r\n";
    r.cells.append(message);
    return r;
}

QStringList latin1(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromLatin1(item);
    return out;
}

QString text(const DataListModel &m, int row, int column)
{
    return m.data(m.index(row, column), Qt::DisplayRole).toString();
}

QStringList columnTexts(const DataListModel &m, int column)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << text(m, r, column);
    return out;
}

} // namespace

class TestDataListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowContents();
    void numbering();
    void fieldCellsKeepEveryByte();
    void cellMadeFromRaw_data();
    void cellMadeFromRaw();
    void stampIsTheLocalTimeOfDay();
    void batchAnnouncesOnceAtFlush();
    void clearKeepsColumnsAndRestartsNumbering();
    void sortByHeader_data();
    void sortByHeader();
    void sortKeepsPersistentIndexes();
    void headerClicksOnRealView();
    void attachedViewFollowsColumnsAndLastRow();
    void testerThroughEveryChange();
};

void TestDataListModel::rowContents()
{
    DataListModel m;
    m.setColumns(loadColumns());
    Row in = makeRow("hello", true, Icon::Tick, QStringLiteral("3"));
    in.time = QTime(14, 3, 9, 500);
    m.appendRow(std::move(in));
    m.appendRow(makeRow("bye", false, Icon::Unplugged));
    m.appendRow(makeRow("plain", false, Icon::None));

    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(text(m, 0, DataListModel::ColNumber), QStringLiteral("001"));
    QCOMPARE(text(m, 0, DataListModel::ColTime), QStringLiteral("14:03:09.500"));
    QCOMPARE(text(m, 0, DataListModel::ColDirection), QStringLiteral("In"));
    QCOMPARE(text(m, 0, DataListModel::ColSocket), QStringLiteral("3"));
    QCOMPARE(text(m, 0, DataListModel::ColMessage), QStringLiteral("hello"));
    QCOMPARE(text(m, 1, DataListModel::ColDirection), QStringLiteral("Out"));
    QCOMPARE(text(m, 1, DataListModel::ColSocket), QStringLiteral("NA"));

    // The raw tag keeps the separator, whatever column is asked.
    QCOMPARE(m.data(m.index(0, 3), DataListModel::RawRole).toByteArray(), QByteArray("hello\r\n"));
    QCOMPARE(m.rawTag(1), QByteArray("bye\r\n"));

    // Only the "#" cell is coloured by direction.
    QCOMPARE(m.data(m.index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(m.data(m.index(1, 0), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    QVERIFY(!m.data(m.index(0, 4), Qt::ForegroundRole).isValid());
    QVERIFY(!m.data(m.index(1, 1), Qt::ForegroundRole).isValid());

    // Icons: tick and unplugged cable differ, none shows nothing.
    const QIcon tick = m.data(m.index(0, 0), Qt::DecorationRole).value<QIcon>();
    const QIcon unplugged = m.data(m.index(1, 0), Qt::DecorationRole).value<QIcon>();
    QVERIFY(!tick.isNull());
    QVERIFY(!unplugged.isNull());
    QVERIFY(tick.pixmap(16, 16).toImage() != unplugged.pixmap(16, 16).toImage());
    QVERIFY(!m.data(m.index(2, 0), Qt::DecorationRole).isValid());
    QVERIFY(!m.data(m.index(0, 4), Qt::DecorationRole).isValid());
    QCOMPARE(m.icon(0), Icon::Tick);
    QCOMPARE(m.icon(2), Icon::None);

    // Out of range asks give nothing rather than garbage.
    QVERIFY(!m.data(m.index(5, 0), Qt::DisplayRole).isValid());
    QCOMPARE(m.rawTag(-1), QByteArray());
    QCOMPARE(m.rawTag(3), QByteArray());
}

void TestDataListModel::numbering()
{
    DataListModel m;
    m.setColumns(loadColumns());
    for (int i = 0; i < 1001; ++i)
        m.appendRow(makeRow(QByteArray::number(i)));
    QCOMPARE(text(m, 0, 0), QStringLiteral("001"));
    QCOMPARE(text(m, 9, 0), QStringLiteral("010"));
    QCOMPARE(text(m, 998, 0), QStringLiteral("999"));
    QCOMPARE(text(m, 999, 0), QStringLiteral("1000"));
    QCOMPARE(text(m, 1000, 0), QStringLiteral("1001"));
}

void TestDataListModel::fieldCellsKeepEveryByte()
{
    DataListModel m;
    m.setColumns(loadColumns());
    m.appendColumn(QStringLiteral("Field 2"), 1200);
    m.appendColumn(QStringLiteral("Field 3"), 1200);
    m.appendColumn(QStringLiteral("Field 4"), 1200);

    Row r = makeRow("x");
    r.cells = {QByteArray("first"), QByteArray(), QByteArray("a\0b", 3)};
    m.appendRow(std::move(r));
    Row single = makeRow("only");
    m.appendRow(std::move(single));

    QCOMPARE(m.cell(0, 4), QByteArray("first"));
    QCOMPARE(m.cell(0, 5), QByteArray());
    QCOMPARE(m.cell(0, 6), QByteArray("a\0b", 3));
    QCOMPARE(m.cell(0, 7), QByteArray()); // beyond this row's fields
    QCOMPARE(text(m, 0, 6), QString::fromLatin1("a\0b", 3));
    QCOMPARE(text(m, 1, 4), QStringLiteral("only"));
    QCOMPARE(text(m, 1, 5), QString());
}

void TestDataListModel::cellMadeFromRaw_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("chop");
    QTest::addColumn<QByteArray>("cell");
    QTest::newRow("separator left off") << QByteArray("hello\r\n") << 2 << QByteArray("hello");
    QTest::newRow("separator shown") << QByteArray("hello\r\n") << 0 << QByteArray("hello\\0D\\0A");
    QTest::newRow("every kind of byte") << QByteArray("a\0\xff\x7f\\b", 6) << 0 << Bytes::GetChar(QByteArray("a\0\xff\x7f\\b", 6));
    QTest::newRow("nothing left") << QByteArray("\r\n") << 2 << QByteArray();
    QTest::newRow("more left off than there is") << QByteArray("ab") << 5 << QByteArray();
}

// Rows whose one cell is made from the raw message when asked show the same
// as rows given that cell, and keep their direction, icon and tag.
void TestDataListModel::cellMadeFromRaw()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, chop);
    QFETCH(QByteArray, cell);
    DataListModel m;
    m.setColumns(loadColumns());
    for (const Icon icon : {Icon::None, Icon::Tick, Icon::Unplugged}) {
        Row r;
        r.incoming = icon != Icon::Tick;
        r.icon = icon;
        r.direction = QStringLiteral("C2S");
        r.socket = QStringLiteral("ALL");
        r.raw = raw;
        r.cellFromRawChop = chop;
        m.appendRow(std::move(r));
    }
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(m.cell(row, DataListModel::ColMessage), cell);
        QCOMPARE(text(m, row, DataListModel::ColMessage), Bytes::toText(cell));
        QCOMPARE(m.cell(row, DataListModel::ColMessage + 1), QByteArray());
        QCOMPARE(m.rawTag(row), raw);
        QCOMPARE(text(m, row, DataListModel::ColSocket), QStringLiteral("ALL"));
    }
    QCOMPARE(m.icon(0), Icon::None);
    QCOMPARE(m.icon(1), Icon::Tick);
    QCOMPARE(m.icon(2), Icon::Unplugged);
    QVERIFY(m.isIncoming(0));
    QVERIFY(!m.isIncoming(1));
    QVERIFY(!m.data(m.index(0, 0), Qt::DecorationRole).isValid());
    QVERIFY(m.data(m.index(1, 0), Qt::DecorationRole).isValid());

    // Sorting by the message column sees the made cells.
    Row other = makeRow("~last");
    m.appendRow(std::move(other));
    m.sort(DataListModel::ColMessage, Qt::DescendingOrder);
    QCOMPARE(text(m, 0, DataListModel::ColMessage), QStringLiteral("~last"));
    QCOMPARE(m.cell(3, DataListModel::ColMessage), cell);
}

void TestDataListModel::stampIsTheLocalTimeOfDay()
{
    DataListModel m;
    m.setColumns(loadColumns());
    for (int i = 0; i < 3; ++i) {
        const QTime before = QTime::currentTime();
        m.appendRow(makeRow("now"));
        const QTime after = QTime::currentTime();
        if (after < before)
            continue; // midnight passed in between
        const QTime stamp =
            QTime::fromString(text(m, i, DataListModel::ColTime), QStringLiteral("HH:mm:ss.zzz"));
        QVERIFY(stamp.isValid());
        QVERIFY2(before <= stamp && stamp <= after,
                 qPrintable(before.toString() + QLatin1Char(' ') + stamp.toString() + QLatin1Char(' ') +
                            after.toString()));
    }
}

void TestDataListModel::batchAnnouncesOnceAtFlush()
{
    DataListModel m;
    m.setColumns(loadColumns());
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);

    m.beginBatch();
    m.beginBatch(); // nested: only the outermost end announces
    for (int i = 0; i < 50; ++i)
        m.appendRow(makeRow("a"));
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(m.heldRowCount(), 50);
    // Held rows are numbered and reachable before views hear of them.
    QCOMPARE(m.numberText(49), QStringLiteral("050"));
    m.flush();
    QCOMPARE(m.rowCount(), 50);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 49);

    for (int i = 0; i < 10; ++i)
        m.appendRow(makeRow("b"));
    m.endBatch();
    QCOMPARE(m.rowCount(), 50);
    m.endBatch();
    QCOMPARE(m.rowCount(), 60);
    QCOMPARE(inserted.count(), 2);

    // Outside a batch every row is announced at once.
    m.appendRow(makeRow("c"));
    QCOMPARE(m.rowCount(), 61);
    QCOMPARE(inserted.count(), 3);
    // An unbalanced end does no harm.
    m.endBatch();
    m.appendRow(makeRow("d"));
    QCOMPARE(m.rowCount(), 62);
}

void TestDataListModel::clearKeepsColumnsAndRestartsNumbering()
{
    DataListModel m;
    m.setColumns(loadColumns());
    m.appendColumn(QStringLiteral("Field 2"), 1200);
    QTreeView view;
    view.setModel(&m);
    m.attachView(&view);
    view.setColumnWidth(1, 123);
    view.setColumnHidden(3, true);
    for (int i = 0; i < 5; ++i)
        m.appendRow(makeRow("a"));
    m.beginBatch();
    m.appendRow(makeRow("held"));

    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    m.clear();
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(m.heldRowCount(), 0);
    QCOMPARE(m.columnCount(), 6);
    // Rows go without a reset, so the view keeps its column widths and hidden columns.
    QCOMPARE(reset.count(), 0);
    QCOMPARE(view.columnWidth(1), 123);
    QVERIFY(view.isColumnHidden(3));

    m.appendRow(makeRow("new"));
    m.endBatch();
    QCOMPARE(m.rowCount(), 1);
    QCOMPARE(text(m, 0, 0), QStringLiteral("001"));
    QCOMPARE(text(m, 0, 2), QStringLiteral("In"));
}

void TestDataListModel::sortByHeader_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("expected");

    // Messages added in this order: b, A, c, a, B (rows 001 to 005).
    QTest::newRow("message ascending, case ignored, ties keep order")
        << QList<int>{4} << 4 << latin1({"A", "a", "b", "B", "c"});
    QTest::newRow("same column again reverses")
        << QList<int>{4, 4} << 4 << latin1({"c", "b", "B", "A", "a"});
    QTest::newRow("third click ascends again")
        << QList<int>{4, 4, 4} << 4 << latin1({"A", "a", "b", "B", "c"});
    QTest::newRow("another column starts ascending")
        << QList<int>{4, 4, 0} << 0 << latin1({"001", "002", "003", "004", "005"});
    QTest::newRow("numbers keep their rows")
        << QList<int>{4} << 0 << latin1({"002", "004", "001", "005", "003"});
}

void TestDataListModel::sortByHeader()
{
    QFETCH(QList<int>, clicks);
    QFETCH(int, column);
    QFETCH(QStringList, expected);

    DataListModel m;
    m.setColumns(loadColumns());
    for (const char *s : {"b", "A", "c", "a", "B"})
        m.appendRow(makeRow(s));
    for (int c : clicks)
        m.sortByHeader(c);
    QCOMPARE(columnTexts(m, column), expected);
    QCOMPARE(m.sortColumn(), clicks.last());
}

void TestDataListModel::sortKeepsPersistentIndexes()
{
    DataListModel m;
    m.setColumns(loadColumns());
    for (int i = 0; i < 1200; ++i)
        m.appendRow(makeRow(QByteArray::number(i % 7)));
    const QPersistentModelIndex kept(m.index(1000, 4));
    QCOMPARE(m.data(QModelIndex(kept), Qt::DisplayRole).toString(), QStringLiteral("6"));

    m.sort(0, Qt::AscendingOrder);
    // Numbers compare as texts: "1000" comes before "101".
    const int at1000 = columnTexts(m, 0).indexOf(QStringLiteral("1000"));
    QCOMPARE(columnTexts(m, 0).indexOf(QStringLiteral("101")), at1000 + 10);
    QCOMPARE(text(m, kept.row(), 0), QStringLiteral("1001"));
    QCOMPARE(m.data(QModelIndex(kept), Qt::DisplayRole).toString(), QStringLiteral("6"));

    // A new row after a sort goes at the end, numbered from the row count.
    m.appendRow(makeRow("z"));
    QCOMPARE(text(m, m.rowCount() - 1, 0), QStringLiteral("1201"));
    QCOMPARE(m.rawTag(m.rowCount() - 1), QByteArray("z\r\n"));
}

void TestDataListModel::headerClicksOnRealView()
{
    DataListModel m;
    m.setColumns(loadColumns());
    QTreeView view;
    view.setModel(&m);
    m.attachView(&view);
    view.resize(800, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const char *s : {"m", "z", "a"})
        m.appendRow(makeRow(s));

    QHeaderView *header = view.header();
    const auto click = [header](int section) {
        const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    click(4);
    QCOMPARE(columnTexts(m, 4), (latin1({"a", "m", "z"})));
    QCOMPARE(header->sortIndicatorSection(), 4);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    click(4);
    QCOMPARE(columnTexts(m, 4), (latin1({"z", "m", "a"})));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    click(0);
    QCOMPARE(columnTexts(m, 4), (latin1({"m", "z", "a"})));
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
}

void TestDataListModel::attachedViewFollowsColumnsAndLastRow()
{
    DataListModel m;
    m.setColumns(loadColumns());
    QTreeView view;
    view.setModel(&m);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.header()->setStretchLastSection(false);
    m.attachView(&view);
    view.resize(600, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    m.appendColumn(QStringLiteral("Field 2"), 1200);
    QCOMPARE(view.columnWidth(5), Twips::toPixelsX(1200));
    m.setColumnWidthTwips(4, 1200);
    QCOMPARE(view.columnWidth(4), Twips::toPixelsX(1200));

    m.beginBatch();
    for (int i = 0; i < 500; ++i)
        m.appendRow(makeRow(QByteArray::number(i)));
    m.showLastRow(); // announces held rows first
    QCOMPARE(view.currentIndex().row(), 499);
    QVERIFY(view.selectionModel()->isRowSelected(499, QModelIndex()));
    QTRY_VERIFY(view.visualRect(m.index(499, 0)).intersects(view.viewport()->rect()));
    m.endBatch();
}

void TestDataListModel::testerThroughEveryChange()
{
    DataListModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.setColumns(loadColumns());
    for (int i = 0; i < 20; ++i)
        m.appendRow(makeRow(QByteArray::number(i), i % 2 == 0, Icon(i % 3)));
    m.beginBatch();
    for (int i = 0; i < 20; ++i)
        m.appendRow(makeRow("batched"));
    m.flush();
    m.appendColumn(QStringLiteral("Field 2"), 1200);
    m.setHeaderText(4, QStringLiteral("Field 1"));
    m.endBatch();
    m.sort(4, Qt::DescendingOrder);
    m.sortByHeader(1);
    m.clear();
    m.appendRow(makeRow("after"));
    QCOMPARE(m.rowCount(), 1);
}

QTEST_MAIN(TestDataListModel)
#include "tst_datalistmodel.moc"
