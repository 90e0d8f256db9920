#include "core/bytes.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray randomBytes(QRandomGenerator &rng, qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = static_cast<char>(rng.bounded(256));
    return out;
}

QByteArray allBytes()
{
    QByteArray out;
    for (int v = 0; v < 256; ++v)
        out.append(static_cast<char>(v));
    return out;
}

enum Representation { Char, Char2, AscII, Hex, Binary, Octal };

QByteArray represent(int kind, const QByteArray &raw)
{
    switch (kind) {
    case Char: return Bytes::GetChar(raw);
    case Char2: return Bytes::GetChar2(raw);
    case AscII: return Bytes::GetAscII(raw);
    case Hex: return Bytes::GetHex(raw);
    case Binary: return Bytes::GetBinary(raw);
    case Octal: return Bytes::GetOctal(raw);
    }
    return {};
}

} // namespace

class TestBytes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void isPrintable_data();
    void isPrintable();
    void representations_data();
    void representations();
    void cellsOfEveryByte();
    void digits_data();
    void digits();
    void fromEscaped_data();
    void fromEscaped();
    void escapeRoundTrip();
    void decoderInSlices_data();
    void decoderInSlices();
    void getTime_data();
    void getTime();
    void onlyNumbers_data();
    void onlyNumbers();
    void textMapping_data();
    void textMapping();
    void textRoundTripOfEveryByte();
};

void TestBytes::isPrintable_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("printable");
    QTest::newRow("NUL") << 0 << false;
    QTest::newRow("US") << 31 << false;
    QTest::newRow("blank") << 32 << true;
    QTest::newRow("A") << int('A') << true;
    QTest::newRow("backslash") << 92 << false;
    QTest::newRow("tilde") << 126 << true;
    QTest::newRow("DEL") << 127 << false;
    QTest::newRow("255") << 255 << false;
}

void TestBytes::isPrintable()
{
    QFETCH(int, code);
    QFETCH(bool, printable);
    QCOMPARE(Bytes::IsPrintable(static_cast<char>(code)), printable);
}

void TestBytes::representations_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray aCr("A\r");
    QTest::newRow("char A CR") << int(Char) << aCr << QByteArray("A\\0D");
    QTest::newRow("char2 A CR") << int(Char2) << aCr << aCr;
    QTest::newRow("ascii A CR") << int(AscII) << aCr << QByteArray("065 013 ");
    QTest::newRow("hex A CR") << int(Hex) << aCr << QByteArray("41 0D ");
    QTest::newRow("binary A CR") << int(Binary) << aCr << QByteArray("01000001 00001101 ");
    QTest::newRow("octal A CR") << int(Octal) << aCr << QByteArray("101 015 ");

    QTest::newRow("char backslash") << int(Char) << QByteArray("\\") << QByteArray("\\5C");
    QTest::newRow("char2 CR LF tab") << int(Char2) << QByteArray("\r\n\t") << QByteArray("\r\n\\09");
    QTest::newRow("octal 7") << int(Octal) << QByteArray("\x07") << QByteArray("007 ");
    QTest::newRow("octal 255") << int(Octal) << QByteArray("\xff") << QByteArray("377 ");
    QTest::newRow("ascii 0") << int(AscII) << QByteArray(1, '\0') << QByteArray("000 ");

    for (int kind = Char; kind <= Octal; ++kind)
        QTest::addRow("empty %d", kind) << kind << QByteArray() << QByteArray();
}

void TestBytes::representations()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, expected);
    QCOMPARE(represent(kind, raw), expected);
}

void TestBytes::cellsOfEveryByte()
{
    // Every table cell against an independent formatting of the value.
    QByteArray hex, ascii, octal, binary, escaped;
    for (int v = 0; v < 256; ++v) {
        hex += QByteArray::number(v, 16).toUpper().rightJustified(2, '0') + ' ';
        ascii += QByteArray::number(v).rightJustified(3, '0') + ' ';
        octal += QByteArray::number(v, 8).rightJustified(3, '0') + ' ';
        binary += QByteArray::number(v, 2).rightJustified(8, '0') + ' ';
        const bool printable = v >= 32 && v <= 126 && v != 92;
        escaped += printable ? QByteArray(1, char(v)) : "\\" + QByteArray::number(v, 16).toUpper().rightJustified(2, '0');
    }
    const QByteArray raw = allBytes();
    QCOMPARE(Bytes::GetHex(raw), hex);
    QCOMPARE(Bytes::GetAscII(raw), ascii);
    QCOMPARE(Bytes::GetOctal(raw), octal);
    QCOMPARE(Bytes::GetBinary(raw), binary);
    QCOMPARE(Bytes::GetChar(raw), escaped);
    QCOMPARE(Bytes::GetChar2(raw), QByteArray(escaped).replace("\\0A", "\n").replace("\\0D", "\r"));
}

void TestBytes::digits_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("bin");
    QTest::newRow("0") << 0 << QByteArray("00") << QByteArray("00000000");
    QTest::newRow("15") << 15 << QByteArray("0F") << QByteArray("00001111");
    QTest::newRow("16") << 16 << QByteArray("10") << QByteArray("00010000");
    QTest::newRow("165") << 165 << QByteArray("A5") << QByteArray("10100101");
    QTest::newRow("255") << 255 << QByteArray("FF") << QByteArray("11111111");
    // Out of range: the low byte, never a longer text or a crash.
    QTest::newRow("256") << 256 << QByteArray("00") << QByteArray("00000000");
    QTest::newRow("-1") << -1 << QByteArray("FF") << QByteArray("11111111");
}

void TestBytes::digits()
{
    QFETCH(int, value);
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, bin);
    QCOMPARE(Bytes::GetHexDigit(value), hex);
    QCOMPARE(Bytes::Bin(value), bin);
}

void TestBytes::fromEscaped_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("escaped backslash") << QByteArray("\\5C") << QByteArray("\\");
    QTest::newRow("doubled backslash") << QByteArray("\\\\") << QByteArray("\\");
    QTest::newRow("either case") << QByteArray("\\0d\\0A") << QByteArray("\r\n");
    QTest::newRow("lower-case letters") << QByteArray("\\ff\\aB") << QByteArray("\xff\xab");
    QTest::newRow("NUL") << QByteArray("a\\00b") << QByteArray("a\0b", 3);
    QTest::newRow("not hex") << QByteArray("\\G1") << QByteArray("\\G1");
    QTest::newRow("x prefix") << QByteArray("\\x41") << QByteArray("\\x41");
    QTest::newRow("lone backslash") << QByteArray("\\") << QByteArray("\\");
    QTest::newRow("trailing backslash") << QByteArray("ab\\") << QByteArray("ab\\");
    QTest::newRow("one digit at end") << QByteArray("x\\4") << QByteArray("x\\4");
    QTest::newRow("escape before doubling") << QByteArray("\\\\41") << QByteArray("\\41");
    QTest::newRow("three backslashes") << QByteArray("\\\\\\") << QByteArray("\\\\");
    QTest::newRow("backslash then escape") << QByteArray("\\\\5C") << QByteArray("\\5C");
    QTest::newRow("plain") << QByteArray("GET / HTTP/1.0") << QByteArray("GET / HTTP/1.0");
    QTest::newRow("high bytes pass") << QByteArray("\x80\xff") << QByteArray("\x80\xff");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestBytes::fromEscaped()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, raw);
    QCOMPARE(Bytes::FromEscaped(text), raw);
}

void TestBytes::escapeRoundTrip()
{
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 200; ++round) {
        const QByteArray data = randomBytes(rng, rng.bounded(1, 400));
        QCOMPARE(Bytes::FromEscaped(Bytes::GetChar(data)), data);
        QCOMPARE(Bytes::FromEscaped(Bytes::GetChar2(data)), data);
    }
    const QByteArray every = allBytes();
    QCOMPARE(Bytes::FromEscaped(Bytes::GetChar(every)), every);
    const QByteArray big = randomBytes(rng, 3 << 20);
    QCOMPARE(Bytes::FromEscaped(Bytes::GetChar(big)), big);
}

void TestBytes::decoderInSlices_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("escapes and doublings") << QByteArray("a\\41\\\\\\5c\\G1\\\\41x\\0D\\0Ab\\");
    QTest::newRow("cut escape at end") << QByteArray("\\41\\4");
    QTest::newRow("only backslashes") << QByteArray(17, '\\');
    QTest::newRow("plain") << QByteArray("plain text with no escapes");
}

void TestBytes::decoderInSlices()
{
    // Any slicing gives FromEscaped's result, wherever a slice ends.
    QFETCH(QByteArray, text);
    const QByteArray expected = Bytes::FromEscaped(text);
    for (qsizetype slice = 1; slice <= text.size() + 1; ++slice) {
        Bytes::EscapeDecoder decoder(text);
        qsizetype steps = 0;
        while (!decoder.step(slice)) {
            QVERIFY(decoder.position() <= decoder.length());
            QVERIFY(++steps <= text.size());
        }
        QVERIFY(decoder.done());
        QCOMPARE(decoder.result(), expected);
    }
    Bytes::EscapeDecoder zero(text);
    while (!zero.step(0)) {
    }
    QCOMPARE(zero.takeResult(), expected);
}

void TestBytes::getTime_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("milli");
    QTest::newRow("afternoon") << QTime(14, 3, 9, 500) << QStringLiteral("14:03:09") << QStringLiteral("14:03:09.500");
    QTest::newRow("morning") << QTime(9, 5, 7, 42) << QStringLiteral("09:05:07") << QStringLiteral("09:05:07.042");
    QTest::newRow("midnight") << QTime(0, 0, 0, 0) << QStringLiteral("00:00:00") << QStringLiteral("00:00:00.000");
}

void TestBytes::getTime()
{
    QFETCH(QTime, time);
    QFETCH(QString, plain);
    QFETCH(QString, milli);
    QCOMPARE(Bytes::GetTime(false, time), plain);
    QCOMPARE(Bytes::GetTime(true, time), milli);
}

void TestBytes::onlyNumbers_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("backspace") << 8 << 8;
    QTest::newRow("0") << int('0') << int('0');
    QTest::newRow("9") << int('9') << int('9');
    QTest::newRow("slash") << int('/') << 0;
    QTest::newRow("colon") << int(':') << 0;
    QTest::newRow("letter") << int('a') << 0;
    QTest::newRow("tab") << 9 << 0;
    QTest::newRow("enter") << 13 << 0;
}

void TestBytes::onlyNumbers()
{
    QFETCH(int, key);
    QFETCH(int, result);
    QCOMPARE(Bytes::OnlyNumbersFilter(key), result);
}

void TestBytes::textMapping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QStringLiteral("abc") << QByteArray("abc");
    QTest::newRow("latin-1 is one byte") << QString(QChar(0xE9)) << QByteArray("\xe9");
    QTest::newRow("NUL kept") << QString(QChar(0)) << QByteArray(1, '\0');
    QTest::newRow("euro as utf-8") << QString(QChar(0x20AC)) << QByteArray("\xe2\x82\xac");
    QTest::newRow("mixed") << (QStringLiteral("a") + QChar(0x20AC) + QChar(0xFF) + QChar(0x3A9))
                           << QByteArray("a\xe2\x82\xac\xff\xce\xa9");
    QTest::newRow("surrogate pair") << QString::fromUcs4(U"\U0001F600") << QByteArray("\xf0\x9f\x98\x80");
    QTest::newRow("two-byte form") << QString(QChar(0x100)) << QByteArray("\xc4\x80");
    QTest::newRow("largest") << QString::fromUcs4(U"\U0010FFFF") << QByteArray("\xf4\x8f\xbf\xbf");
    QTest::newRow("lone surrogate") << (QString(QChar(0xD800)) + QLatin1Char('a'))
                                    << QByteArray("\xef\xbf\xbd" "a");
}

void TestBytes::textMapping()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QByteArray got = Bytes::fromText(text);
    QCOMPARE(got, bytes);
    QVERIFY(!got.contains('?'));
}

void TestBytes::textRoundTripOfEveryByte()
{
    const QByteArray raw = allBytes();
    const QString text = Bytes::toText(raw);
    QCOMPARE(text.size(), raw.size());
    for (int v = 0; v < 256; ++v)
        QCOMPARE(text.at(v).unicode(), char16_t(v));
    QCOMPARE(Bytes::fromText(text), raw);
}

QTEST_GUILESS_MAIN(TestBytes)
#include "tst_bytes.moc"
