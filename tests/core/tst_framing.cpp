#include "core/framing.h"

#include <QTest>
#include <functional>

namespace {

struct Scan
{
    QByteArrayList pieces;
    QList<qint64> counts;
    bool ended = false; // the last call said nothing follows and reset the position
};

// Calls a scanner step (piece, count, position -> more) until it says
// nothing follows, as every caller does; gives up, with ended false, when
// the position stops advancing.
Scan scanWith(qint64 pos, const std::function<bool(QByteArray &, qint64 &, qint64 &)> &step)
{
    for (Scan scan;;) {
        QByteArray piece;
        qint64 count = -1;
        const qint64 before = pos;
        const bool more = step(piece, count, pos);
        scan.pieces << piece;
        scan.counts << count;
        scan.ended = !more && pos == 0;
        if (!more || pos <= before)
            return scan;
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

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void messages_data();
    void messages();
    void positions();
    void fields_data();
    void fields();
};

void TestFraming::messages_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<bool>("concat");
    QTest::addColumn<bool>("include");
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QList<qint64>>("counts");

    using L = QByteArrayList;
    using C = QList<qint64>;
    const QByteArray crlf("\r\n"), twoSeps("a\r\n\r\nb"), nul(1, '\0');
    QTest::newRow("two terminated") << QByteArray("a\r\nb\r\n") << crlf << false << false << L{"a", "b"}
                                    << C{1, 1};
    QTest::newRow("concat included") << twoSeps << crlf << true << true << L{"a\r\n\r\n", "b"} << C{2, 0};
    QTest::newRow("no concat excluded") << twoSeps << crlf << false << false << L{"a", "", "b"} << C{1, 1, 0};
    QTest::newRow("empty data") << QByteArray() << crlf << true << false << L{""} << C{0};
    QTest::newRow("overlapping separator")
        << QByteArray("xaaay") << QByteArray("aa") << true << false << L{"x", "ay"} << C{1, 0};
    QTest::newRow("empty separator") << QByteArray("abc\r\ndef") << QByteArray() << true << true
                                     << L{"abc\r\ndef"} << C{0};
    QTest::newRow("NUL separator") << QByteArray("a\0b\0\0c", 6) << nul << true << false << L{"a", "b", "c"}
                                   << C{1, 2, 0};
    const qint64 run = 40000; // more separators than a 16-bit count holds
    QTest::newRow("long run") << "a" + QByteArray(run, '\0') + "b" << nul << true << true
                              << L{"a" + QByteArray(run, '\0'), "b"} << C{run, 0};
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
    // Wherever a scan starts, the pieces with their separators are the rest
    // of the data, and without them the rest less the counted separators.
    for (qint64 start = 0; start <= qMin(data.size(), 64); ++start) {
        const Scan with = scanMessages(data, separator, concat, true, start);
        const Scan without = scanMessages(data, separator, concat, false, start);
        QVERIFY(with.ended && without.ended);
        QCOMPARE(with.pieces.join(), data.mid(start));
        QCOMPARE(with.counts, without.counts);
        for (qsizetype i = 0; i < without.pieces.size(); ++i)
            QCOMPARE(with.pieces[i], without.pieces[i] + separator.repeated(without.counts[i]));
    }
}

void TestFraming::positions()
{
    // The position counts the characters consumed, separators included.
    const QByteArray data("a\r\n\r\nb");
    QByteArray message("old");
    qint64 pos = 0, count = 5;
    QVERIFY(Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(pos, 5);

    pos = data.size() + 1;
    QVERIFY(!Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(pos, 0);
    QCOMPARE(message, QByteArray());
    QCOMPARE(count, 0);

    pos = -7; // starts at the beginning
    QVERIFY(Framing::GetNextMessage(data, pos, message, false, count, "\r\n", true));
    QCOMPARE(message, QByteArray("a"));

    // An empty field separator leaves field and position alone.
    pos = 2;
    QVERIFY(!Framing::GetNextField(data, pos, message, false, QByteArrayView(), true, "\""));
    QCOMPARE(message, QByteArray("a"));
    QCOMPARE(pos, 2);
}

void TestFraming::fields_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<bool>("include");
    QTest::addColumn<bool>("ignore");
    QTest::addColumn<QByteArray>("ignoreText");
    QTest::addColumn<QByteArrayList>("pieces");

    using L = QByteArrayList;
    const QByteArray comma(","), quote("\"");
    QTest::newRow("quoted comma ignored")
        << QByteArray("x,\"a,b\",y") << comma << false << true << quote << L{"x", "\"a,b\"", "y"};
    QTest::newRow("second stretch not honoured")
        << QByteArray("\"a,b\"\"c,d\"") << comma << false << true << quote << L{"\"a,b\"\"c", "d\""};
    QTest::newRow("unclosed ignore text")
        << QByteArray("x,\"a,b") << comma << false << true << quote << L{"x", "\"a,b"};
    QTest::newRow("adjacent and trailing")
        << QByteArray("a,,b,") << comma << false << false << quote << L{"a", "", "b"};
    QTest::newRow("separators included")
        << QByteArray("\"1,2\",3,4") << comma << true << true << quote << L{"\"1,2\",", "3,", "4"};
    QTest::newRow("multi-byte both") << QByteArray("a::''b::c''::d") << QByteArray("::") << false << true
                                     << QByteArray("''") << L{"a", "''b::c''", "d"};
    QTest::newRow("empty message") << QByteArray() << comma << false << true << quote << L{""};
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
    // From every start the pieces with their separators are the rest of the data.
    for (qint64 start = 0; start <= data.size(); ++start) {
        const Scan with = scanFields(data, separator, true, ignore, ignoreText, start);
        QVERIFY(with.ended);
        QCOMPARE(with.pieces.join(), data.mid(start));
    }
}

QTEST_GUILESS_MAIN(TestFraming)
#include "tst_framing.moc"
