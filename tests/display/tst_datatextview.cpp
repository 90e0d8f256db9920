#include "display/datatextview.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

namespace {

// What the document must show for a byte stream: one line per CR, LF or CR LF.
QStringList expectedLines(const QByteArray &bytes)
{
    QStringList lines{QString()};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            lines << QString();
        } else {
            lines.last() += QLatin1Char(c);
        }
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
    void lineBreaksSplitAcrossAppends();
    void caretRoundTripsEveryOffset();
    void caretFromClicksAndKeys();
    void directionColours();
    void clearEmptiesEverything();
    void copyKeepsLineBreakBytes();
    void hiddenViewCatchesUpWhenShown();
    void readOnlyForTheUser();
};

void TestDataTextView::lengthCountsBytes_data()
{
    QTest::addColumn<QList<QByteArray>>("appends");
    QTest::newRow("CR LF counts 2") << QList<QByteArray>{"a\r\nb\r\n"};
    QTest::newRow("lone CR and LF") << QList<QByteArray>{"a\rb\nc"};
    QTest::newRow("blank lines") << QList<QByteArray>{"\r\n\r\n\n\r"};
    QTest::newRow("escapes and breaks in pieces") << QList<QByteArray>{"x\\0D", "\r", "\n", "y\\5C\r\n"};
    QTest::newRow("empty appends") << QList<QByteArray>{"", "ab", ""};
}

void TestDataTextView::lengthCountsBytes()
{
    QFETCH(QList<QByteArray>, appends);
    DataTextView view;
    QByteArray all;
    bool incoming = true;
    for (const QByteArray &a : appends) {
        view.append(a, incoming);
        incoming = !incoming;
        all += a;
    }
    QCOMPARE(view.length(), all.size());
    QCOMPARE(view.bytes(), all);
    view.renderAll();
    QCOMPARE(documentLines(view), expectedLines(all));
    // The caret is left at the end.
    QCOMPARE(view.caretOffset(), all.size());
}

void TestDataTextView::lineBreaksSplitAcrossAppends()
{
    // A CR LF whose halves arrive apart is still one line break, whether
    // the document was brought up to date between the halves or not.
    for (bool renderBetween : {false, true}) {
        DataTextView view;
        view.append("one\r", true);
        if (renderBetween)
            view.renderAll();
        view.append("\ntwo\r", false);
        if (renderBetween)
            view.renderAll();
        view.append("\r\nthree", true);
        view.renderAll();
        QCOMPARE(documentLines(view), (QStringList{QStringLiteral("one"), QStringLiteral("two"), QString(),
                                                   QStringLiteral("three")}));
        view.setCaretOffset(view.length() - 5);
        QCOMPARE(view.textAfterCaret(300), QByteArray("three"));
    }
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
    QCOMPARE(view.bytes(), all);
    for (qsizetype offset = 0; offset <= all.size(); ++offset) {
        view.setCaretOffset(offset);
        QCOMPARE(view.caretOffset(), offset);
        QCOMPARE(view.textAfterCaret(300), all.mid(offset, 300));
        QCOMPARE(view.textAfterCaret(3), all.mid(offset, 3));
    }
    // Beyond the ends the caret stops at the ends.
    view.setCaretOffset(-5);
    QCOMPARE(view.caretOffset(), 0);
    view.setCaretOffset(all.size() + 10);
    QCOMPARE(view.caretOffset(), all.size());
    QCOMPARE(view.textAfterCaret(300), QByteArray());
}

void TestDataTextView::caretFromClicksAndKeys()
{
    DataTextView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.append("first\r\nsecond\nthird", true);
    view.renderAll();

    // The caret placed in the document (as a click does) maps to bytes:
    // the start of line 2 follows the CR LF, line 3 follows a lone LF.
    QTextCursor c = view.textCursor();
    c.setPosition(view.document()->findBlockByNumber(1).position() + 2);
    view.setTextCursor(c);
    QCOMPARE(view.caretOffset(), qsizetype(9));
    QCOMPARE(view.textAfterCaret(300), QByteArray("cond\nthird"));

    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(view.caretOffset(), qsizetype(16));
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(view.caretOffset(), qsizetype(0));
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.caretOffset(), qsizetype(5));
    QCOMPARE(view.textAfterCaret(3), QByteArray("\r\ns"));

    QSignalSpy doubled(&view, &DataTextView::doubleClicked);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(10, 5));
    QCOMPARE(doubled.count(), 1);
}

void TestDataTextView::directionColours()
{
    DataTextView view;
    view.append("in\r\n", true);
    view.append("out", false);
    view.append("more out", false);
    view.append("back in", true);
    view.renderAll();
    QCOMPARE(colourAt(view, 0), QColor(255, 0, 0));
    QCOMPARE(colourAt(view, 1), QColor(255, 0, 0));
    const int outAt = view.document()->findBlockByNumber(1).position();
    QCOMPARE(colourAt(view, outAt), QColor(0, 0, 255));
    QCOMPARE(colourAt(view, outAt + 5), QColor(0, 0, 255));
    QCOMPARE(colourAt(view, outAt + 11), QColor(255, 0, 0));
    QVERIFY(view.isIncomingAt(0));
    QVERIFY(!view.isIncomingAt(4));
    QVERIFY(!view.isIncomingAt(14));
    QVERIFY(view.isIncomingAt(15));
}

void TestDataTextView::clearEmptiesEverything()
{
    DataTextView view;
    view.append("abc\r\ndef", true);
    view.renderAll();
    view.append("pending", false);
    view.clear();
    QCOMPARE(view.length(), 0);
    QVERIFY(view.bytes().isEmpty());
    QVERIFY(!view.hasPendingRender());
    QVERIFY(view.document()->isEmpty());
    QCOMPARE(view.caretOffset(), 0);

    view.append("\nnew", false);
    view.renderAll();
    QCOMPARE(documentLines(view), (QStringList{QString(), QStringLiteral("new")}));
    QCOMPARE(colourAt(view, 1), QColor(0, 0, 255));
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
    QVERIFY(view.hasPendingRender());
    QVERIFY(view.document()->isEmpty());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(!view.hasPendingRender());
    QCOMPARE(documentLines(view), (QStringList{QStringLiteral("line 1"), QStringLiteral("line 2")}));

    // A large append while shown reaches the document in slices, in order.
    QByteArray big;
    for (int i = 0; i < 20000; ++i)
        big += "message " + QByteArray::number(i) + "\r\n";
    view.append(big, false);
    QTRY_VERIFY(!view.hasPendingRender());
    QCOMPARE(documentLines(view), expectedLines("line 1\r\nline 2" + big));
}

void TestDataTextView::readOnlyForTheUser()
{
    DataTextView view;
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.append("fixed", true);
    view.renderAll();
    QTest::keyClicks(&view, QStringLiteral("typed"));
    QTest::keyClick(&view, Qt::Key_Backspace);
    QCOMPARE(view.bytes(), QByteArray("fixed"));
    QCOMPARE(view.toPlainText(), QStringLiteral("fixed"));
}

QTEST_MAIN(TestDataTextView)
#include "tst_datatextview.moc"
