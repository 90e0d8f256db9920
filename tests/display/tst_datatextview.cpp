#include "display/datatextview.h"

#include <QApplication>
#include <QClipboard>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>

namespace {

// What the document must show for a byte stream: one line per CR, LF or CR LF.
QStringList expectedLines(const QByteArray &bytes)
{
    QStringList lines{QString()};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
            lines.last() += QLatin1Char(bytes[i]);
            continue;
        }
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lines << QString();
    }
    return lines;
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

class TestDataTextView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lengthCountsBytes_data();
    void lengthCountsBytes();
    void caretRoundTripsEveryOffset();
    void directionColours();
    void clearEmptiesEverything();
    void copyKeepsLineBreakBytes();
    void hiddenViewCatchesUpWhenShown();
};

void TestDataTextView::lengthCountsBytes_data()
{
    QTest::addColumn<QList<QByteArray>>("appends");
    QTest::addColumn<bool>("renderBetween");
    QTest::newRow("CR LF, lone CR and LF, blank lines") << QList<QByteArray>{"a\r\nb\rc\n\r\n\n\r"} << false;
    QTest::newRow("escapes and empty appends") << QList<QByteArray>{"", "x\\0D", "", "y\\5C\r\n"} << false;
    // A CR LF whose halves arrive apart is still one line break.
    const QList<QByteArray> split{"one\r", "\ntwo\r", "\r\nthree"};
    QTest::newRow("CR LF split") << split << false;
    QTest::newRow("CR LF split, shown between") << split << true;
}

void TestDataTextView::lengthCountsBytes()
{
    QFETCH(QList<QByteArray>, appends);
    QFETCH(bool, renderBetween);
    DataTextView view;
    QByteArray all;
    bool incoming = true;
    for (const QByteArray &a : appends) {
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

void TestDataTextView::caretRoundTripsEveryOffset()
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

void TestDataTextView::directionColours()
{
    DataTextView view;
    view.append("in\r\n", true);
    view.append("out", false);
    view.append("back in", true);
    view.renderAll();
    const int outAt = view.document()->findBlockByNumber(1).position();
    QCOMPARE(colourAt(view, 1), QColor(255, 0, 0));
    QCOMPARE(colourAt(view, outAt + 2), QColor(0, 0, 255));
    QCOMPARE(colourAt(view, outAt + 3), QColor(255, 0, 0));
    QVERIFY(!view.isIncomingAt(4));
    QVERIFY(!view.isIncomingAt(6));
    QVERIFY(view.isIncomingAt(7));
}

void TestDataTextView::clearEmptiesEverything()
{
    DataTextView view;
    view.append("abc\r\ndef", true);
    view.renderAll();
    view.append("pending", false);
    view.clear();
    QVERIFY(!view.hasPendingRender());
    view.append("\nnew", false);
    view.renderAll();
    QCOMPARE(view.bytes(), QByteArray("\nnew"));
    QCOMPARE(documentLines(view), (QStringList{QString(), QStringLiteral("new")}));
    view.setCaretOffset(1);
    QCOMPARE(view.textAfterCaret(10), QByteArray("new"));
}

void TestDataTextView::copyKeepsLineBreakBytes()
{
    DataTextView view;
    view.append("ab\r\ncd\ref\ngh", true);
    view.renderAll();
    QTextCursor c = view.textCursor();
    c.setPosition(1);
    c.setPosition(view.document()->findBlockByNumber(3).position() + 1, QTextCursor::KeepAnchor);
    view.setTextCursor(c);
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("b\r\ncd\ref\ng"));
}

void TestDataTextView::hiddenViewCatchesUpWhenShown()
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

QTEST_MAIN(TestDataTextView)
#include "tst_datatextview.moc"
