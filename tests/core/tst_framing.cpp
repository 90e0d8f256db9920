#include "core/framing.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

struct Scan
{
    QByteArrayList pieces;
    QList<qint64> counts;
    bool ended = false; // the last call returned false and reset the position
};

// Calls a scanner step (piece, count, position -> more) until it reports
// that nothing follows, as every caller does; gives up, with ended false,
// when the position stops advancing.
template<typename Step>
Scan scanWith(qint64 start, Step step)
{
    Scan scan;
    for (qint64 pos = start;;) {
        QByteArray piece;
        qint64 count = -1;
        const qint64 before = pos;
        const bool more = step(piece, count, pos);
        scan.pieces << piece;
        scan.counts << count;
        if (!more || pos <= before) {
            scan.ended = !more && pos == 0;
            return scan;
        }
    }
}

Scan scanMessages(QByteArrayView data, QByteArrayView sep, bool concat, bool include, qint64 start = 0)
{
    return scanWith(start, [&](QByteArray &piece, qint64 &count, qint64 &pos) {
        return Framing::GetNextMessage(data, pos, piece, include, count, sep, concat);
    });
}

Scan scanFields(QByteArrayView data, QByteArrayView sep, bool include, bool ignore, QByteArrayView ignoreText,
                qint64 start = 0)
{
    return scanWith(start, [&](QByteArray &piece, qint64 &, qint64 &pos) {
        return Framing::GetNextField(data, pos, piece, include, sep, ignore, ignoreText);
    });
}

QByteArray randomOver(QRandomGenerator &rng, const QByteArray &alphabet, qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = alphabet.at(rng.bounded(int(alphabet.size())));
    return out;
}

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void messages_data();
    void messages();
    void messagePositions();
    void messageOutOfRange();
    void emptySeparator();
    void longRunOfSeparators();
    void messagesFromEveryStart_data();
    void messagesFromEveryStart();
    void messagesOfEverySplit();
    void fields_data();
    void fields();
    void emptyFieldSeparatorLeavesAllAlone();
    void fieldsFromEveryStart_data();
    void fieldsFromEveryStart();
    void megabyteOfFields();
};

void TestFraming::messages_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<bool>("concat");
    QTest::addColumn<bool>("include");
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QList<qint64>>("counts");

    const QByteArray crlf("\r\n");
    QTest::newRow("two terminated") << QByteArray("a\r\nb\r\n") << crlf << false << false
                                    << QByteArrayList{"a", "b"} << QList<qint64>{1, 1};
    QTest::newRow("unterminated rest") << QByteArray("a\r\nb") << crlf << false << false
                                       << QByteArrayList{"a", "b"} << QList<qint64>{1, 0};
    QTest::newRow("concat included") << QByteArray("a\r\n\r\nb") << crlf << true << true
                                     << QByteArrayList{"a\r\n\r\n", "b"} << QList<qint64>{2, 0};
    QTest::newRow("concat excluded") << QByteArray("a\r\n\r\nb") << crlf << true << false
                                     << QByteArrayList{"a", "b"} << QList<qint64>{2, 0};
    QTest::newRow("no concat included") << QByteArray("a\r\n\r\nb") << crlf << false << true
                                        << QByteArrayList{"a\r\n", "\r\n", "b"} << QList<qint64>{1, 1, 0};
    QTest::newRow("no concat excluded") << QByteArray("a\r\n\r\nb") << crlf << false << false
                                        << QByteArrayList{"a", "", "b"} << QList<qint64>{1, 1, 0};
    QTest::newRow("empty data") << QByteArray() << crlf << true << false << QByteArrayList{""} << QList<qint64>{0};
    QTest::newRow("only separators, concat") << QByteArray("\r\n\r\n\r\n") << crlf << true << true
                                             << QByteArrayList{"\r\n\r\n\r\n"} << QList<qint64>{3};
    QTest::newRow("leading separators, concat") << QByteArray("\r\n\r\nb") << crlf << true << false
                                                << QByteArrayList{"", "b"} << QList<qint64>{2, 0};
    QTest::newRow("separator longer than data") << QByteArray("ab") << QByteArray("abc") << true << true
                                                << QByteArrayList{"ab"} << QList<qint64>{0};
    QTest::newRow("half a separator at end") << QByteArray("a\r\nb\r") << crlf << true << true
                                             << QByteArrayList{"a\r\n", "b\r"} << QList<qint64>{1, 0};
    QTest::newRow("overlapping separator") << QByteArray("xaaay") << QByteArray("aa") << true << false
                                           << QByteArrayList{"x", "ay"} << QList<qint64>{1, 0};
    QTest::newRow("case matters") << QByteArray("aXbxc") << QByteArray("x") << false << false
                                  << QByteArrayList{"aXb", "c"} << QList<qint64>{1, 0};
    QTest::newRow("NUL separator") << QByteArray("a\0b\0\0c", 6) << QByteArray(1, '\0') << true << false
                                   << QByteArrayList{"a", "b", "c"} << QList<qint64>{1, 2, 0};
    QTest::newRow("high bytes") << QByteArray("\xff\xfe\x80\xfe\x80\x01") << QByteArray("\xfe\x80") << true << true
                                << QByteArrayList{"\xff\xfe\x80\xfe\x80", "\x01"} << QList<qint64>{2, 0};
}

void TestFraming::messages()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, separator);
    QFETCH(bool, concat);
    QFETCH(bool, include);
    QFETCH(QByteArrayList, pieces);
    QFETCH(QList<qint64>, counts);
    const Scan scan = scanMessages(data, separator, concat, include);
    QVERIFY(scan.ended);
    QCOMPARE(scan.pieces, pieces);
    QCOMPARE(scan.counts, counts);
}

void TestFraming::messagePositions()
{
    // The position counts the characters consumed, separators included.
    const QByteArray data("ab\r\n\r\ncd\r\nef");
    qint64 pos = 0, count = 0;
    QByteArray message;
    QVERIFY(Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(pos, 6);
    QVERIFY(Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(message, QByteArray("cd"));
    QCOMPARE(pos, 10);
    QVERIFY(!Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(message, QByteArray("ef"));
    QCOMPARE(pos, 0);
}

void TestFraming::messageOutOfRange()
{
    const QByteArray data("a\r\nb");
    QByteArray message("old");
    qint64 count = 5;
    qint64 pos = data.size() + 1;
    QVERIFY(!Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(pos, 0);
    QCOMPARE(message, QByteArray());
    QCOMPARE(count, 0);

    pos = data.size();
    QVERIFY(!Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(message, QByteArray());

    // A negative position starts at the beginning.
    pos = -7;
    QVERIFY(Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(message, QByteArray("a"));
}

void TestFraming::emptySeparator()
{
    // The rest of the data is one unterminated message, and the loop ends.
    const QByteArray data("abc\r\ndef");
    for (bool concat : {false, true}) {
        for (qint64 start : {0, 2, 8}) {
            const Scan scan = scanMessages(data, QByteArrayView(), concat, true, start);
            QVERIFY(scan.ended);
            QCOMPARE(scan.pieces, QByteArrayList{data.mid(start)});
            QCOMPARE(scan.counts, QList<qint64>{0});
        }
    }
    const Scan none = scanMessages(QByteArray(), QByteArrayView(), true, false);
    QVERIFY(none.ended);
    QCOMPARE(none.pieces, QByteArrayList{""});
}

void TestFraming::longRunOfSeparators()
{
    // More consecutive separators than a 16-bit count can hold.
    const qint64 run = 40000;
    const QByteArray data = "a" + QByteArray(run, '\0') + "b";
    const Scan included = scanMessages(data, QByteArray(1, '\0'), true, true);
    QVERIFY(included.ended);
    QCOMPARE(included.pieces, (QByteArrayList{"a" + QByteArray(run, '\0'), "b"}));
    QCOMPARE(included.counts, (QList<qint64>{run, 0}));

    const QByteArray pairs = "a" + QByteArray(2 * run, '\0');
    const Scan excluded = scanMessages(pairs, QByteArray(2, '\0'), true, false);
    QVERIFY(excluded.ended);
    QCOMPARE(excluded.pieces, QByteArrayList{"a"});
    QCOMPARE(excluded.counts, QList<qint64>{run});
}

void TestFraming::messagesFromEveryStart_data()
{
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<bool>("concat");
    QTest::newRow("one byte") << QByteArray("|") << false;
    QTest::newRow("one byte concat") << QByteArray("|") << true;
    QTest::newRow("two bytes") << QByteArray("\r\n") << false;
    QTest::newRow("two bytes concat") << QByteArray("\r\n") << true;
    QTest::newRow("self-overlapping") << QByteArray("aa") << true;
}

void TestFraming::messagesFromEveryStart()
{
    // Wherever a scan starts, the pieces with their separators are exactly
    // the rest of the data, and without them they are the rest minus the
    // counted separators: no byte lost, none invented.
    QFETCH(QByteArray, separator);
    QFETCH(bool, concat);
    QRandomGenerator rng(7);
    for (int round = 0; round < 30; ++round) {
        const QByteArray data = randomOver(rng, "a\r\n|b", rng.bounded(0, 60));
        for (qint64 start = 0; start <= data.size(); ++start) {
            const Scan with = scanMessages(data, separator, concat, true, start);
            const Scan without = scanMessages(data, separator, concat, false, start);
            QVERIFY(with.ended && without.ended);
            QCOMPARE(with.pieces.join(), data.mid(start));
            QCOMPARE(with.counts, without.counts);
            QByteArray rebuilt;
            for (qsizetype i = 0; i < without.pieces.size(); ++i) {
                QVERIFY(!without.pieces[i].contains(separator));
                rebuilt += without.pieces[i] + separator.repeated(without.counts[i]);
                QCOMPARE(with.pieces[i], without.pieces[i] + separator.repeated(without.counts[i]));
            }
            QCOMPARE(rebuilt, data.mid(start));
        }
    }
}

void TestFraming::messagesOfEverySplit()
{
    // Data arriving in two pieces, split anywhere, is framed piece by piece
    // without losing or duplicating a byte of either piece.
    const QByteArray data("GET / HTTP/1.0\r\nHost: x\r\n\r\n\r\nbody\r");
    for (qsizetype split = 0; split <= data.size(); ++split) {
        QByteArray rebuilt;
        for (const QByteArray &part : {data.left(split), data.mid(split)}) {
            const Scan scan = scanMessages(part, "\r\n", true, true);
            QVERIFY(scan.ended);
            rebuilt += scan.pieces.join();
        }
        QCOMPARE(rebuilt, data);
    }
}

void TestFraming::fields_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<bool>("include");
    QTest::addColumn<bool>("ignore");
    QTest::addColumn<QByteArray>("ignoreText");
    QTest::addColumn<QByteArrayList>("pieces");

    const QByteArray comma(","), quote("\"");
    QTest::newRow("quoted comma ignored") << QByteArray("x,\"a,b\",y") << comma << false << true << quote
                                          << QByteArrayList{"x", "\"a,b\"", "y"};
    QTest::newRow("quoted comma, ignoring off") << QByteArray("x,\"a,b\",y") << comma << false << false << quote
                                                << QByteArrayList{"x", "\"a", "b\"", "y"};
    QTest::newRow("second stretch not honoured") << QByteArray("\"a,b\"\"c,d\"") << comma << false << true << quote
                                                 << QByteArrayList{"\"a,b\"\"c", "d\""};
    QTest::newRow("unclosed ignore text") << QByteArray("x,\"a,b") << comma << false << true << quote
                                          << QByteArrayList{"x", "\"a,b"};
    QTest::newRow("quote after separator") << QByteArray("a,\"b") << comma << false << true << quote
                                           << QByteArrayList{"a", "\"b"};
    QTest::newRow("empty ignore text ignores nothing") << QByteArray("a,b,c") << comma << false << true << QByteArray()
                                                       << QByteArrayList{"a", "b", "c"};
    QTest::newRow("adjacent separators") << QByteArray("a,,b") << comma << false << false << quote
                                         << QByteArrayList{"a", "", "b"};
    QTest::newRow("trailing separator") << QByteArray("a,b,") << comma << false << false << quote
                                        << QByteArrayList{"a", "b"};
    QTest::newRow("separator included") << QByteArray("a,b,c") << comma << true << false << quote
                                        << QByteArrayList{"a,", "b,", "c"};
    QTest::newRow("ignored stretch included") << QByteArray("\"1,2\",3") << comma << true << true << quote
                                              << QByteArrayList{"\"1,2\",", "3"};
    QTest::newRow("multi-byte both") << QByteArray("a::''b::c''::d") << QByteArray("::") << false << true
                                     << QByteArray("''") << QByteArrayList{"a", "''b::c''", "d"};
    QTest::newRow("separator longer than data") << QByteArray("ab") << QByteArray("abc") << false << true << quote
                                                << QByteArrayList{"ab"};
    QTest::newRow("empty message") << QByteArray() << comma << false << true << quote << QByteArrayList{""};
    QTest::newRow("only a separator") << QByteArray(",") << comma << false << false << quote << QByteArrayList{""};
}

void TestFraming::fields()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, separator);
    QFETCH(bool, include);
    QFETCH(bool, ignore);
    QFETCH(QByteArray, ignoreText);
    QFETCH(QByteArrayList, pieces);
    const Scan scan = scanFields(data, separator, include, ignore, ignoreText);
    QVERIFY(scan.ended);
    QCOMPARE(scan.pieces, pieces);
}

void TestFraming::emptyFieldSeparatorLeavesAllAlone()
{
    QByteArray field("before");
    qint64 pos = 2;
    QVERIFY(!Framing::GetNextField("a,b", pos, field, false, QByteArrayView(), true, "\""));
    QCOMPARE(field, QByteArray("before"));
    QCOMPARE(pos, 2);

    // Past the end still resets, as for any separator.
    pos = 9;
    QVERIFY(!Framing::GetNextField("a,b", pos, field, false, ",", false, "\""));
    QCOMPARE(pos, 0);
    QCOMPARE(field, QByteArray());
}

void TestFraming::fieldsFromEveryStart_data()
{
    QTest::addColumn<bool>("ignore");
    QTest::addColumn<QByteArray>("ignoreText");
    QTest::newRow("plain") << false << QByteArray("\"");
    QTest::newRow("quotes") << true << QByteArray("\"");
    QTest::newRow("empty ignore text") << true << QByteArray();
}

void TestFraming::fieldsFromEveryStart()
{
    QFETCH(bool, ignore);
    QFETCH(QByteArray, ignoreText);
    QRandomGenerator rng(11);
    for (int round = 0; round < 40; ++round) {
        const QByteArray data = randomOver(rng, "a,\"b", rng.bounded(0, 40));
        for (qint64 start = 0; start <= data.size(); ++start) {
            const Scan with = scanFields(data, ",", true, ignore, ignoreText, start);
            const Scan without = scanFields(data, ",", false, ignore, ignoreText, start);
            QVERIFY(with.ended && without.ended);
            QCOMPARE(with.pieces.join(), data.mid(start));
            QCOMPARE(with.pieces.size(), without.pieces.size());
            for (qsizetype i = 0; i < with.pieces.size(); ++i) {
                // Only the last piece may be an unterminated rest.
                const bool last = i + 1 == with.pieces.size();
                QVERIFY(with.pieces[i] == without.pieces[i] + ',' || (last && with.pieces[i] == without.pieces[i]));
            }
            if (!ignore || ignoreText.isEmpty()) {
                for (const QByteArray &field : without.pieces)
                    QVERIFY(!field.contains(','));
            }
        }
    }
}

void TestFraming::megabyteOfFields()
{
    // A long message of many short fields, with and without ignore text
    // present, comes back whole (and in linear time: the run must finish).
    QByteArray data;
    for (int i = 0; i < 100000; ++i)
        data += QByteArray::number(i) + (i % 1000 == 0 ? ",\"q,q\"," : ",");
    for (bool ignore : {false, true}) {
        const Scan scan = scanFields(data, ",", true, ignore, "\"");
        QVERIFY(scan.ended);
        QCOMPARE(scan.pieces.join(), data);
        QCOMPARE(scan.pieces.size(), ignore ? 100100 : 100200);
    }
}

QTEST_GUILESS_MAIN(TestFraming)
#include "tst_framing.moc"
