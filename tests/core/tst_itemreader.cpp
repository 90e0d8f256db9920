#include "core/itemreader.h"

#include <QTest>

using Problem = ItemReader::Records::Problem;
Q_DECLARE_METATYPE(ItemReader::Records::Problem)

class TestItemReader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void items_data();
    void items();
    void records_data();
    void records();
    void everyLineEndSplitsTheSame();
};

void TestItemReader::items_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<bool>("unclosed");

    QTest::newRow("empty") << QByteArray() << QByteArrayList{} << false;
    QTest::newRow("only blanks and breaks") << QByteArray(" \t\r\n\n\r ") << QByteArrayList{} << false;
    QTest::newRow("commas") << QByteArray("a,b,c") << QByteArrayList{"a", "b", "c"} << false;
    QTest::newRow("blanks before kept out, trailing blanks dropped")
        << QByteArray("  a  ,\tb c\t,c") << QByteArrayList{"a", "b c", "c"} << false;
    QTest::newRow("two commas make an empty item")
        << QByteArray("a,,b") << QByteArrayList{"a", "", "b"} << false;
    QTest::newRow("quoted empty item") << QByteArray("\"\",b") << QByteArrayList{"", "b"} << false;
    QTest::newRow("quoted keeps commas, blanks and line breaks")
        << QByteArray("\" x, y \",\"GET /\r\nHost: h\r\n\r\n\"\r\n")
        << QByteArrayList{" x, y ", "GET /\r\nHost: h\r\n\r\n"} << false;
    QTest::newRow("after the closing quote up to the separator is ignored")
        << QByteArray("\"a\" junk,b") << QByteArrayList{"a", "b"} << false;
    QTest::newRow("blank lines and a text on the next line")
        << QByteArray("G,n,\r\n\r\n\"text\"\n\nH") << QByteArrayList{"G", "n", "text", "H"} << false;
    QTest::newRow("trailing comma at the end adds nothing")
        << QByteArray("a,b,") << QByteArrayList{"a", "b"} << false;
    QTest::newRow("comma at a line start is an empty item")
        << QByteArray("a\n,b") << QByteArrayList{"a", "", "b"} << false;
    QTest::newRow("bytes above 127 and NUL kept")
        << QByteArray("\xE9t\xE9,\"\x00\xFF\"", 9) << QByteArrayList{"\xE9t\xE9", QByteArray("\x00\xFF", 2)}
        << false;
    QTest::newRow("quote that never closes") << QByteArray("a,\"b,c\r\nd") << QByteArrayList{"a"} << true;
}

void TestItemReader::items()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, unclosed);

    ItemReader reader(data);
    QByteArrayList got;
    QByteArray item;
    ItemReader::Status s;
    while ((s = reader.next(item)) == ItemReader::Status::Item)
        got << item;
    QTEST(got, "expected");
    QCOMPARE(s, unclosed ? ItemReader::Status::UnclosedQuote : ItemReader::Status::End);
    // Once finished, the reader stays finished.
    QCOMPARE(reader.next(item), s);
}

void TestItemReader::records_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<QByteArrayList>>("expected");
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<int>("problemLine");
    QTest::addColumn<QByteArrayList>("partial");

    QTest::newRow("three-item records")
        << QByteArray("A,x,\"1\"\r\nA,y,\"2\"\r\n") << 3
        << QList<QByteArrayList>{{"A", "x", "1"}, {"A", "y", "2"}} << Problem::None << 0 << QByteArrayList{};
    QTest::newRow("two-item records run on across lines")
        << QByteArray("21,ftp,22\nssh\n") << 2 << QList<QByteArrayList>{{"21", "ftp"}, {"22", "ssh"}}
        << Problem::None << 0 << QByteArrayList{};
    QTest::newRow("record cut short by the end")
        << QByteArray("A,x,\"1\"\r\nB,y") << 3 << QList<QByteArrayList>{{"A", "x", "1"}}
        << Problem::ShortRecord << 2 << QByteArrayList{"B", "y"};
    QTest::newRow("unclosed quote keeps the records before")
        << QByteArray("A,x,\"1\"\nB,y,\"never\nclosed") << 3 << QList<QByteArrayList>{{"A", "x", "1"}}
        << Problem::UnclosedQuote << 2 << QByteArrayList{"B", "y"};
}

void TestItemReader::records()
{
    QFETCH(QByteArray, data);
    QFETCH(int, length);

    const ItemReader::Records r = ItemReader::readRecords(data, length);
    QTEST(r.records, "expected");
    QTEST(r.problem, "problem");
    QTEST(r.problemLine, "problemLine");
    QTEST(r.partial, "partial");
}

// CR LF, a lone CR and a lone LF are the same separator, outside quotes;
// inside quotes each is kept as it is.
void TestItemReader::everyLineEndSplitsTheSame()
{
    for (const QByteArray eol : {QByteArray("\r\n"), QByteArray("\r"), QByteArray("\n")}) {
        const QByteArray data = "G1," + eol + "n1," + eol + "\"a" + eol + "b\"" + eol + eol + "G2,n2,t" + eol;
        const ItemReader::Records r = ItemReader::readRecords(data, 3);
        QCOMPARE(r.problem, Problem::None);
        QCOMPARE(r.records, (QList<QByteArrayList>{{"G1", "n1", "a" + eol + "b"}, {"G2", "n2", "t"}}));
        QCOMPARE(ItemReader::lineAt(data, data.indexOf("G2")), 6);
    }
}

QTEST_GUILESS_MAIN(TestItemReader)
#include "tst_itemreader.moc"
