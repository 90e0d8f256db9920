#include "core/allocator.h"
#include "core/bytes.h"
#include "core/framing.h"
#include "core/frmtimer.h"
#include "core/itemreader.h"
#include "support/testenv.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using Problem = ItemReader::Records::Problem;
Q_DECLARE_METATYPE(ItemReader::Records::Problem)

namespace {

struct Scan
{
    QByteArrayList pieces;
    QList<qint64> counts;
    bool ended = false; // the last call said nothing follows and reset the position
};

} // namespace

class TestCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cellsOfEveryByte()
    {
        // Every cell of every representation against an independent formatting.
        QByteArray hex, ascii, octal, binary, escaped;
        QByteArrayList cells;
        for (int v = 0; v < 256; ++v) {
            const QByteArray h = QByteArray::number(v, 16).toUpper().rightJustified(2, '0');
            const QByteArray b = QByteArray::number(v, 2).rightJustified(8, '0');
            QCOMPARE(Bytes::GetHexDigit(v), h);
            QCOMPARE(Bytes::Bin(v), b);
            hex += h + ' ';
            binary += b + ' ';
            ascii += QByteArray::number(v).rightJustified(3, '0') + ' ';
            octal += QByteArray::number(v, 8).rightJustified(3, '0') + ' ';
            const bool printable = v >= 32 && v <= 126 && v != 92;
            QCOMPARE(Bytes::IsPrintable(char(v)), printable);
            cells << (printable ? QByteArray(1, char(v)) : "\\" + h);
            escaped += cells.last();
        }
        // Each byte at each place among printable ones, and each pair side by
        // side, as in text: plain runs are taken sixteen and eight bytes at a
        // time.
        const auto kept = [&](int v) { return v == 10 || v == 13 ? QByteArray(1, char(v)) : cells[v]; };
        for (int v = 0; v < 256; ++v) {
            for (int at = 0; at < 25; ++at) {
                QByteArray text("abcdefghijklmnopqrstuvwxy");
                text[at] = char(v);
                QCOMPARE(Bytes::GetChar(text), text.left(at) + cells[v] + text.mid(at + 1));
                QCOMPARE(Bytes::GetChar2(text), text.left(at) + kept(v) + text.mid(at + 1));
            }
            for (int w = 0; w < 256; ++w) {
                const QByteArray text = "abcdefghijklmnopqrs" + QByteArray(1, char(v)) + char(w) + "vwxy";
                QCOMPARE(Bytes::GetChar(text), "abcdefghijklmnopqrs" + cells[v] + cells[w] + "vwxy");
                QCOMPARE(Bytes::GetChar2(text), "abcdefghijklmnopqrs" + kept(v) + kept(w) + "vwxy");
            }
        }
        const QByteArray raw = everyByte();
        QCOMPARE(Bytes::GetHex(raw), hex);
        QCOMPARE(Bytes::GetAscII(raw), ascii);
        QCOMPARE(Bytes::GetOctal(raw), octal);
        QCOMPARE(Bytes::GetBinary(raw), binary);
        QCOMPARE(Bytes::GetChar(raw), escaped);
        QCOMPARE(Bytes::GetChar2(raw), QByteArray(escaped).replace("\\0A", "\n").replace("\\0D", "\r"));
        QCOMPARE(Bytes::FromEscaped(Bytes::GetChar(raw)), raw);
        QCOMPARE(Bytes::FromEscaped(Bytes::GetChar2(raw)), raw);
        for (auto represent : {&Bytes::GetHex, &Bytes::GetAscII, &Bytes::GetOctal, &Bytes::GetBinary,
                               &Bytes::GetChar, &Bytes::GetChar2})
            QVERIFY(represent({}).isEmpty());

        // Out of range: the low byte, never a longer text or a crash.
        QCOMPARE(Bytes::GetHexDigit(256), QByteArray("00"));
        QCOMPARE(Bytes::GetHexDigit(-1), QByteArray("FF"));
        QCOMPARE(Bytes::Bin(-1), QByteArray("11111111"));
        QCOMPARE(Bytes::GetTime(false, QTime(9, 5, 7, 42)), QStringLiteral("09:05:07"));
        QCOMPARE(Bytes::GetTime(true, QTime(9, 5, 7, 42)), QStringLiteral("09:05:07.042"));
    }

    void fromEscaped_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("escapes, either case")
            << QByteArray("\\0d\\0A\\ff\\aB\\5C") << QByteArray("\r\n\xff\xab\\");
        QTest::newRow("doubled backslash") << QByteArray("\\\\") << QByteArray("\\");
        QTest::newRow("NUL") << QByteArray("a\\00b") << QByteArray("a\0b", 3);
        QTest::newRow("not hex") << QByteArray("\\G1\\x41") << QByteArray("\\G1\\x41");
        QTest::newRow("trailing backslash") << QByteArray("ab\\") << QByteArray("ab\\");
        QTest::newRow("one digit at end") << QByteArray("x\\4") << QByteArray("x\\4");
        QTest::newRow("escape before doubling") << QByteArray("\\\\41") << QByteArray("\\41");
        QTest::newRow("three backslashes") << QByteArray("\\\\\\") << QByteArray("\\\\");
        QTest::newRow("odd run of backslashes") << QByteArray(17, '\\') + "4" << QByteArray(9, '\\') + "4";
        QTest::newRow("plain and high bytes") << QByteArray("GET / \x80\xff") << QByteArray("GET / \x80\xff");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void fromEscaped()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, raw);
        QCOMPARE(Bytes::FromEscaped(text), raw);
        // Decoded in steps of any size, wherever a step ends.
        for (qsizetype slice = 1; slice <= text.size() + 1; ++slice) {
            Bytes::EscapeDecoder decoder(text);
            for (qsizetype steps = 0; !decoder.step(slice); ++steps)
                QVERIFY(decoder.position() <= decoder.length() && steps < text.size());
            QCOMPARE(decoder.result(), raw);
        }
    }

    void textMapping()
    {
        // Every byte survives the trip through text, one character each.
        const QByteArray raw = everyByte();
        const QString text = Bytes::toText(raw);
        QCOMPARE(text, QString::fromLatin1(raw));
        QCOMPARE(Bytes::fromText(text), raw);

        // Beyond 255 a character becomes its UTF-8 bytes; half a pair the
        // replacement character, never '?'.
        QCOMPARE(Bytes::fromText(QStringLiteral("a") + QChar(0x20AC) + QChar(0xFF) + QChar(0x3A9)),
                 QByteArray("a\xe2\x82\xac\xff\xce\xa9"));
        QCOMPARE(Bytes::fromText(QString::fromUcs4(U"\U0001F600")), QByteArray("\xf0\x9f\x98\x80"));
        QCOMPARE(Bytes::fromText(QString(QChar(0xD800)) + QLatin1Char('a')), QByteArray("\xef\xbf\xbd"
                                                                                        "a"));
    }

    // Messages and fields, scanned from the start and from every place after it.
    void scans_data()
    {
        // F fields (else messages), C concatenated separators, I separators included, Q ignore between
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("separator");
        QTest::addColumn<QByteArray>("ignoreText");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QList<qint64>>("counts"); // messages only

        using L = QByteArrayList;
        using C = QList<qint64>;
        const QByteArray crlf("\r\n"), twoSeps("a\r\n\r\nb"), nul(1, '\0'), comma(","), quote("\"");
        const auto row = [](const char *name, const char *flags) -> QTestData & {
            return QTest::newRow(name) << QString::fromLatin1(flags);
        };
        row("two terminated", "") << QByteArray("a\r\nb\r\n") << crlf << quote << L{"a", "b"} << C{1, 1};
        row("concat included", "CI") << twoSeps << crlf << quote << L{"a\r\n\r\n", "b"} << C{2, 0};
        row("no concat excluded", "") << twoSeps << crlf << quote << L{"a", "", "b"} << C{1, 1, 0};
        row("empty data", "C") << QByteArray() << crlf << quote << L{""} << C{0};
        row("overlapping separator", "C")
            << QByteArray("xaaay") << QByteArray("aa") << quote << L{"x", "ay"} << C{1, 0};
        row("empty separator", "CI") << QByteArray("abc\r\ndef") << QByteArray() << quote << L{"abc\r\ndef"}
                                     << C{0};
        row("NUL separator", "C") << QByteArray("a\0b\0\0c", 6) << nul << quote << L{"a", "b", "c"}
                                  << C{1, 2, 0};
        const qint64 run = 40000; // more separators than a 16-bit count holds
        row("long run", "CI") << "a" + QByteArray(run, '\0') + "b" << nul << quote
                              << L{"a" + QByteArray(run, '\0'), "b"} << C{run, 0};
        row("fields: quoted comma ignored", "FQ")
            << QByteArray("x,\"a,b\",y") << comma << quote << L{"x", "\"a,b\"", "y"} << C{};
        row("fields: second stretch not honoured", "FQ")
            << QByteArray("\"a,b\"\"c,d\"") << comma << quote << L{"\"a,b\"\"c", "d\""} << C{};
        row("fields: unclosed ignore text", "FQ")
            << QByteArray("x,\"a,b") << comma << quote << L{"x", "\"a,b"} << C{};
        row("fields: adjacent and trailing", "F")
            << QByteArray("a,,b,") << comma << quote << L{"a", "", "b"} << C{};
        row("fields: separators included", "FIQ")
            << QByteArray("\"1,2\",3,4") << comma << quote << L{"\"1,2\",", "3,", "4"} << C{};
        row("fields: multi-byte both", "FQ") << QByteArray("a::''b::c''::d") << QByteArray("::")
                                             << QByteArray("''") << L{"a", "''b::c''", "d"} << C{};
        row("fields: empty message", "FQ") << QByteArray() << comma << quote << L{""} << C{};
    }

    void scans()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, separator);
        QFETCH(QString, flags);
        QFETCH(QByteArray, ignoreText);
        const bool fields = flags.contains(u'F'), concat = flags.contains(u'C'),
                   ignore = flags.contains(u'Q');
        // Calls the scanner until it says nothing follows, as every caller does;
        // gives up, with ended false, when the position stops advancing.
        const auto scan = [&](bool include, qint64 pos) {
            Scan out;
            for (qint64 before = -1; pos > before;) {
                QByteArray piece;
                qint64 count = -1;
                before = pos;
                const bool more =
                    fields ? Framing::GetNextField(data, pos, piece, include, separator, ignore, ignoreText)
                           : Framing::GetNextMessage(data, pos, piece, include, count, separator, concat);
                out.pieces << piece;
                out.counts << count;
                out.ended = !more && pos == 0;
                if (!more)
                    break;
            }
            return out;
        };
        const Scan first = scan(flags.contains(u'I'), 0);
        QVERIFY(first.ended);
        QTEST(first.pieces, "pieces");
        if (!fields)
            QTEST(first.counts, "counts");
        // Wherever a scan starts, the pieces with their separators are the rest
        // of the data, and without them the rest less the counted separators.
        for (qint64 start = 0; start <= qMin(data.size(), 64); ++start) {
            const Scan with = scan(true, start);
            const Scan without = scan(false, start);
            QVERIFY(with.ended && without.ended);
            QCOMPARE(with.pieces.join(), data.mid(start));
            QCOMPARE(with.counts, without.counts);
            for (qsizetype i = 0; i < without.pieces.size() && !fields; ++i)
                QCOMPARE(with.pieces[i], without.pieces[i] + separator.repeated(without.counts[i]));
        }
    }

    void positions()
    {
        // Past the end: nothing follows, and all is reset.
        const QByteArray data("a\r\n\r\nb");
        QByteArray message("old");
        qint64 count = 5, pos = data.size() + 1;
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

    void items_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::addColumn<bool>("unclosed");

        using L = QByteArrayList;
        const auto row = [](const char *name, const QByteArray &data, const L &items, bool unclosed = false) {
            QTest::newRow(name) << data << items << unclosed;
        };
        row("empty", "", {});
        row("only blanks and breaks", " \t\r\n\n\r ", {});
        row("commas", "a,b,c", {"a", "b", "c"});
        row("blanks before kept out, trailing blanks dropped", "  a  ,\tb c\t,c", {"a", "b c", "c"});
        row("two commas make an empty item", "a,,b", {"a", "", "b"});
        row("quoted empty item", "\"\",b", {"", "b"});
        row("quoted keeps commas, blanks and line breaks", "\" x, y \",\"GET /\r\nHost: h\r\n\r\n\"\r\n",
            {" x, y ", "GET /\r\nHost: h\r\n\r\n"});
        row("after the closing quote up to the separator is ignored", "\"a\" junk,b", {"a", "b"});
        row("blank lines and a text on the next line", "G,n,\r\n\r\n\"text\"\n\nH", {"G", "n", "text", "H"});
        row("trailing comma at the end adds nothing", "a,b,", {"a", "b"});
        row("comma at a line start is an empty item", "a\n,b", {"a", "", "b"});
        row("bytes above 127 and NUL kept", QByteArray("\xE9t\xE9,\"\x00\xFF\"", 9),
            {"\xE9t\xE9", QByteArray("\x00\xFF", 2)});
        row("quote that never closes", "a,\"b,c\r\nd", {"a"}, true);
    }

    void items()
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

    void records_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("length");
        QTest::addColumn<QList<QByteArrayList>>("expected");
        QTest::addColumn<Problem>("problem");
        QTest::addColumn<int>("problemLine");
        QTest::addColumn<QByteArrayList>("partial");

        // CR LF, a lone CR and a lone LF are the same separator, outside quotes;
        // inside quotes each is kept as it is, and each counts in the problem's line.
        for (const char *eol : {"\r\n", "\r", "\n"}) {
            const QByteArray e(eol);
            QTest::addRow("line ends %s", e.toHex().constData())
                << "G1," + e + "n1," + e + "\"a" + e + "b\"" + e + e + "G2,n2,t" + e + "G3,n3" << 3
                << QList<QByteArrayList>{{"G1", "n1", "a" + e + "b"}, {"G2", "n2", "t"}}
                << Problem::ShortRecord << 7 << QByteArrayList{"G3", "n3"};
        }
        QTest::newRow("two-item records run on across lines")
            << QByteArray("21,ftp,22\nssh\n") << 2 << QList<QByteArrayList>{{"21", "ftp"}, {"22", "ssh"}}
            << Problem::None << 0 << QByteArrayList{};
        QTest::newRow("unclosed quote keeps the records before")
            << QByteArray("A,x,\"1\"\nB,y,\"never\nclosed") << 3 << QList<QByteArrayList>{{"A", "x", "1"}}
            << Problem::UnclosedQuote << 2 << QByteArrayList{"B", "y"};
    }

    void records()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, length);

        const ItemReader::Records r = ItemReader::readRecords(data, length);
        QTEST(r.records, "expected");
        QTEST(r.problem, "problem");
        QTEST(r.problemLine, "problemLine");
        QTEST(r.partial, "partial");
    }

    // Repeating until stopped, one-shot once and never early; a restart
    // postpones, a stop prevents; the caller's id comes back with each firing.
    void firesAsStartedAndStopped()
    {
        frmTimer t;
        QSignalSpy spy(&t, &frmTimer::TimerFired);
        t.StartTimer(20, false, QStringLiteral("reconnect"));
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 5000);
        t.StopTimer();
        const int n = spy.count();
        QTest::qWait(100);
        QCOMPARE(spy.count(), n);
        QCOMPARE(spy.last().first().toString(), QStringLiteral("reconnect"));

        spy.clear();
        QElapsedTimer clock;
        clock.start();
        t.StartTimer(200, true);
        QTest::qWait(100);
        t.StartTimer(200, true); // a full new interval from now
        QVERIFY(spy.wait(5000));
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(spy.last().first(), QVariant(qint16(0)));
        t.StartTimer(50, true);
        t.StopTimer();
        QTest::qWait(150);
        QCOMPARE(spy.count(), 1);
        QVERIFY(!t.isRunning());

        // A repeating timer turned one-shot from its own handler fires once more.
        int fired = 0;
        connect(&t, &frmTimer::TimerFired, &t, [&] {
            if (++fired == 1)
                t.StartTimer(30, true);
        });
        t.StartTimer(20, false);
        QTRY_COMPARE_WITH_TIMEOUT(fired, 2, 5000);
        QTest::qWait(150);
        QCOMPARE(fired, 2);
    }

    void longIntervalRunsInLaps()
    {
        // Laps of 40 ms stand for the real 65000 ms laps: 150 = 30 + 40 + 40 + 40.
        frmTimer t(nullptr, 40);
        QSignalSpy spy(&t, &frmTimer::TimerFired);
        QElapsedTimer clock;
        clock.start();
        t.StartTimer(150, true);
        QList<int> laps{t.currentLapMs()};
        for (int last = t.lapsLeft(); spy.isEmpty() && clock.elapsed() < 5000;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (t.lapsLeft() != last) {
                last = t.lapsLeft();
                laps << t.currentLapMs();
            }
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(laps, (QList<int>{30, 40, 40, 40}));
        QVERIFY(clock.elapsed() >= 150);
    }
    // A flood leaves free pieces between buffers still in use; they must go
    // back to the system, or the process keeps the size of its worst moment.
    void freeHeapGoesBackToTheSystem()
    {
#if defined(__SANITIZE_ADDRESS__) || !defined(__GLIBC__)
        QSKIP("the heap is not the system allocator's");
#endif
        constexpr int kBlocks = 1024, kBlock = 64 * 1024;
        std::vector<std::unique_ptr<char[]>> blocks;
        for (int i = 0; i < kBlocks; ++i) {
            blocks.emplace_back(new char[kBlock]);
            std::fill_n(blocks.back().get(), kBlock, char(i));
        }
        for (int i = 0; i < kBlocks; i += 2)
            blocks[i].reset();
        const double before = statusMiB("VmRSS:");
        QVERIFY(trimHeap());
        QVERIFY2(before - statusMiB("VmRSS:") >= 24, qPrintable(QString::number(before - statusMiB("VmRSS:"))));
        QCOMPARE(blocks[1][kBlock - 1], char(1)); // what is in use stays
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
