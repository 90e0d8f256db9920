#include "core/bytes.h"

#include <QTest>
#include <numeric>

namespace {

QByteArray allBytes()
{
    QByteArray out(256, Qt::Uninitialized);
    std::iota(out.begin(), out.end(), char(0));
    return out;
}

} // namespace

class TestBytes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cellsOfEveryByte();
    void fromEscaped_data();
    void fromEscaped();
    void textMapping();
};

void TestBytes::cellsOfEveryByte()
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
    const QByteArray raw = allBytes();
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

void TestBytes::fromEscaped_data()
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

void TestBytes::fromEscaped()
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

void TestBytes::textMapping()
{
    // Every byte survives the trip through text, one character each.
    const QByteArray raw = allBytes();
    const QString text = Bytes::toText(raw);
    QCOMPARE(text.size(), raw.size());
    for (int v = 0; v < 256; ++v)
        QCOMPARE(text.at(v).unicode(), char16_t(v));
    QCOMPARE(Bytes::fromText(text), raw);

    // Beyond 255 a character becomes its UTF-8 bytes; half a pair the
    // replacement character, never '?'.
    QCOMPARE(Bytes::fromText(QStringLiteral("a") + QChar(0x20AC) + QChar(0xFF) + QChar(0x3A9)),
             QByteArray("a\xe2\x82\xac\xff\xce\xa9"));
    QCOMPARE(Bytes::fromText(QString::fromUcs4(U"\U0001F600")), QByteArray("\xf0\x9f\x98\x80"));
    QCOMPARE(Bytes::fromText(QString(QChar(0xD800)) + QLatin1Char('a')), QByteArray("\xef\xbf\xbd"
                                                                                    "a"));
}

QTEST_GUILESS_MAIN(TestBytes)
#include "tst_bytes.moc"
