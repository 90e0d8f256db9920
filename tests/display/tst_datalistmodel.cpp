#include "core/bytes.h"
#include "display/datalistmodel.h"
#include "ui/twips.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
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

} // namespace

class TestDataListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowContents();
    void packedCellsKeepEveryByte();
    void longCellsShowABoundedPrefix_data();
    void longCellsShowABoundedPrefix();
    void longCellsSortAndCopyWhole();
    void batchAnnouncesOnceAtFlush();
    void clearKeepsColumnsAndRestartsNumbering();
    void sortByHeader_data();
    void sortByHeader();
    void sortKeepsPersistentIndexes();
    void attachedViewSortsSizesAndShowsLastRow();
};

void TestDataListModel::rowContents()
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
}

void TestDataListModel::packedCellsKeepEveryByte()
{
    Model m;
    m.appendColumn(QStringLiteral("Field 2"), 1200);
    m.appendColumn(QStringLiteral("Field 3"), 1200);
    m.appendColumn(QStringLiteral("Field 4"), 1200);
    DataListModel::NewRow r;
    r.socket = QStringLiteral("3");
    r.time = QTime(14, 3, 9, 500);
    r.cells = {QByteArray("first"), QByteArray(), QByteArray("a\0b", 3)};
    m.appendRow(std::move(r));
    m.add("only");

    QCOMPARE(m.text(0, DataListModel::ColTime), QStringLiteral("14:03:09.500"));
    QCOMPARE(m.column(DataListModel::ColSocket), latin1({"3", "NA"}));

    QCOMPARE(m.cell(0, 6), QByteArray("a\0b", 3));
    QCOMPARE(m.text(0, 6), QString::fromLatin1("a\0b", 3));
    QCOMPARE(m.cell(0, 7), QByteArray()); // beyond this row's fields
    QCOMPARE(m.text(1, 4), QStringLiteral("only"));
    QCOMPARE(m.text(1, 5), QString());
}

void TestDataListModel::longCellsShowABoundedPrefix_data()
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

void TestDataListModel::longCellsShowABoundedPrefix()
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

void TestDataListModel::longCellsSortAndCopyWhole()
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
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(prefix + "b"));
}

void TestDataListModel::batchAnnouncesOnceAtFlush()
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

void TestDataListModel::clearKeepsColumnsAndRestartsNumbering()
{
    Model m;
    m.appendColumn(QStringLiteral("Field 2"), 1200);
    QTreeView view;
    view.setModel(&m);
    m.attachView(&view);
    view.setColumnWidth(1, 123);
    view.setColumnHidden(3, true);
    m.add("a");
    m.beginBatch();
    m.add("held");

    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    m.clear();
    QCOMPARE(m.heldRowCount(), 0);
    QCOMPARE(m.columnCount(), 6);
    // Rows go without a reset, so the view keeps its column widths and hidden columns.
    QCOMPARE(reset.count(), 0);
    QCOMPARE(view.columnWidth(1), 123);
    QVERIFY(view.isColumnHidden(3));

    m.add("new");
    m.endBatch();
    QCOMPARE(m.column(0), latin1({"001"}));
}

void TestDataListModel::sortByHeader_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("expected");
    // Messages added in this order: b, A, c, a, B (rows 001 to 005).
    QTest::newRow("message ascending, case ignored, ties keep order")
        << QList<int>{4} << 4 << latin1({"A", "a", "b", "B", "c"});
    QTest::newRow("numbers keep their rows") << QList<int>{4} << 0 << latin1({"002", "004", "001", "005", "003"});
    QTest::newRow("same column again reverses") << QList<int>{4, 4} << 4 << latin1({"c", "b", "B", "A", "a"});
    QTest::newRow("another column starts ascending")
        << QList<int>{4, 4, 0} << 0 << latin1({"001", "002", "003", "004", "005"});
}

void TestDataListModel::sortByHeader()
{
    QFETCH(QList<int>, clicks);
    QFETCH(int, column);
    Model m;
    for (const char *s : {"b", "A", "c", "a", "B"})
        m.add(s);
    for (int c : clicks)
        m.sortByHeader(c);
    QTEST(m.column(column), "expected");
}

void TestDataListModel::sortKeepsPersistentIndexes()
{
    Model m;
    for (int i = 0; i < 20; ++i)
        m.add(QByteArray::number(i % 7));
    const QPersistentModelIndex kept(m.index(13, 4));
    m.sort(4, Qt::DescendingOrder);
    QCOMPARE(m.text(kept.row(), 0), QStringLiteral("014"));
    QCOMPARE(m.data(QModelIndex(kept), Qt::DisplayRole).toString(), QStringLiteral("6"));
    // A new row after a sort goes at the end, numbered from the row count.
    m.add("z");
    QCOMPARE(m.text(20, 0), QStringLiteral("021"));
}

void TestDataListModel::attachedViewSortsSizesAndShowsLastRow()
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
    m.endBatch();
}

QTEST_MAIN(TestDataListModel)
#include "tst_datalistmodel.moc"
