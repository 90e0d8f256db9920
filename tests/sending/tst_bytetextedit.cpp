#include "sending/bytetextedit.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <vector>

// The line starts a buffer must have: after LF, and after a CR no LF follows.
static std::vector<qsizetype> expectedStarts(const QByteArray &d)
{
    std::vector<qsizetype> s{0};
    for (qsizetype i = 0; i < d.size(); ++i) {
        if (d[i] == '\n' || (d[i] == '\r' && (i + 1 == d.size() || d[i + 1] != '\n')))
            s.push_back(i + 1);
    }
    return s;
}

static std::vector<qsizetype> actualStarts(const ByteTextEdit &e)
{
    std::vector<qsizetype> s;
    for (qsizetype i = 0; i < e.lineCount(); ++i)
        s.push_back(e.lineStart(i));
    return s;
}

// Types text as a keyboard would, one key per character (QTest takes Latin-1 only).
static void typeText(QWidget *w, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, n);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, one);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, one);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
        i += n - 1;
    }
}

class tst_ByteTextEdit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void holdsBytesExactly_data();
    void holdsBytesExactly();
    void indexFollowsRandomEdits();
    void appendJoinsBreakAcrossBlocks();
    void typingEntersBytes_data();
    void typingEntersBytes();
    void enterBackspaceAndArrowsTreatCrLfAsOne();
    void pasteTakesUtf8BeyondLatin1();
    void undoRedoRestoreBytes();
    void readOnlyRefusesEdits();
    void signalsForDetails();
    void wrappedCellsMapBothWays();
    void largeBufferStaysEditable();
};

void tst_ByteTextEdit::holdsBytesExactly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CR LF") << QByteArray("GET / HTTP/1.0\r\nHost: x\r\n\r\n");
    QTest::newRow("LF") << QByteArray("a\nb\n");
    QTest::newRow("lone CR") << QByteArray("a\rb\r");
    QTest::newRow("mixed") << QByteArray("\r\n\n\r\r\n\n\r");
    QTest::newRow("NUL") << QByteArray("a\0b\0", 4);
    QTest::newRow("A0") << QByteArray("x\xA0y");
    QTest::newRow("FF") << QByteArray("\xFF\xFE\xFF");
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QTest::newRow("every byte") << all;
}

void tst_ByteTextEdit::holdsBytesExactly()
{
    QFETCH(QByteArray, bytes);
    ByteTextEdit e;
    e.setData(bytes);
    QCOMPARE(e.data(), bytes);
    QCOMPARE(actualStarts(e), expectedStarts(bytes));
    // Through the widget text and back, as the clipboard and settings see it.
    const QString text = e.text();
    QCOMPARE(text.size(), bytes.size());
    ByteTextEdit f;
    f.setText(text);
    QCOMPARE(f.data(), bytes);
}

void tst_ByteTextEdit::indexFollowsRandomEdits()
{
    // Edits at random places with bytes that make and break line ends; the
    // index must always match a fresh count, and the bytes a plain model.
    ByteTextEdit e;
    QByteArray model;
    QRandomGenerator rng(20240611);
    const char alphabet[] = {'a', '\r', '\n', '\0', 'b'};
    for (int step = 0; step < 2000; ++step) {
        const qsizetype a = model.isEmpty() ? 0 : qsizetype(rng.bounded(int(model.size() + 1)));
        const qsizetype b = model.isEmpty() ? 0 : qsizetype(rng.bounded(int(model.size() + 1)));
        e.setCaretPosition(a);
        e.setCaretPosition(b, true);
        QByteArray insert;
        const int n = rng.bounded(4);
        for (int i = 0; i < n; ++i)
            insert.append(alphabet[rng.bounded(5)]);
        const qsizetype from = e.selectionStart();
        const qsizetype to = e.selectionEnd();
        e.insertBytes(insert);
        model.replace(from, to - from, insert);
        QCOMPARE(e.data(), model);
        QCOMPARE(actualStarts(e), expectedStarts(model));
    }
}

void tst_ByteTextEdit::appendJoinsBreakAcrossBlocks()
{
    ByteTextEdit e;
    e.setData("a\r");
    QCOMPARE(e.lineCount(), 2);
    e.appendData("\nb");
    QCOMPARE(e.data(), QByteArray("a\r\nb"));
    QCOMPARE(e.lineCount(), 2);
    QCOMPARE(e.lineLength(0), 1);
    QCOMPARE(e.lineStart(1), 3);
    QCOMPARE(e.caretPosition(), 0);
}

void tst_ByteTextEdit::typingEntersBytes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QStringLiteral("ab c") << QByteArray("ab c");
    QTest::newRow("latin-1") << QStringLiteral("\u00E9\u00FF") << QByteArray("\xE9\xFF");
    QTest::newRow("euro as UTF-8") << QStringLiteral("x\u20AC") << QByteArray("x\xE2\x82\xAC");
    QTest::newRow("outside the BMP") << QStringLiteral("\U0001F600") << QByteArray("\xF0\x9F\x98\x80");
}

void tst_ByteTextEdit::typingEntersBytes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    ByteTextEdit e;
    e.show();
    typeText(&e, typed);
    QCOMPARE(e.data(), bytes);
    QCOMPARE(e.caretPosition(), bytes.size());
}

void tst_ByteTextEdit::enterBackspaceAndArrowsTreatCrLfAsOne()
{
    ByteTextEdit e;
    e.show();
    QTest::keyClicks(&e, QStringLiteral("ab"));
    QTest::keyClick(&e, Qt::Key_Return);
    QTest::keyClicks(&e, QStringLiteral("c"));
    QCOMPARE(e.data(), QByteArray("ab\r\nc"));
    QTest::keyClick(&e, Qt::Key_Left);
    QCOMPARE(e.caretPosition(), 4);
    QTest::keyClick(&e, Qt::Key_Left);
    QCOMPARE(e.caretPosition(), 2); // never between CR and LF
    QTest::keyClick(&e, Qt::Key_Right);
    QCOMPARE(e.caretPosition(), 4);
    QTest::keyClick(&e, Qt::Key_Backspace);
    QCOMPARE(e.data(), QByteArray("abc"));
    e.setData("x\r\ny");
    e.setCaretPosition(2); // between CR and LF: moved past the pair
    QCOMPARE(e.caretPosition(), 3);
    e.setCaretPosition(1);
    QTest::keyClick(&e, Qt::Key_Delete);
    QCOMPARE(e.data(), QByteArray("xy"));
    e.setData("a\rb");
    e.setCaretPosition(2);
    QTest::keyClick(&e, Qt::Key_Backspace); // a lone CR is one line break too
    QCOMPARE(e.data(), QByteArray("ab"));
    e.setData("t");
    e.setCaretPosition(1);
    QTest::keyClick(&e, Qt::Key_Tab);
    QCOMPARE(e.data(), QByteArray("t\t"));
}

void tst_ByteTextEdit::pasteTakesUtf8BeyondLatin1()
{
    ByteTextEdit e;
    QGuiApplication::clipboard()->setText(QStringLiteral("x\r\ny\u20AC\u00A0"));
    e.paste();
    QCOMPARE(e.data(), QByteArray("x\r\ny\xE2\x82\xAC\xA0"));
    e.selectAll();
    e.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1("x\r\ny\xE2\x82\xAC\xA0"));
    e.cut();
    QVERIFY(e.isEmpty());
}

void tst_ByteTextEdit::undoRedoRestoreBytes()
{
    ByteTextEdit e;
    e.show();
    e.setData(QByteArray("A\0\r\nB", 5));
    e.setCaretPosition(e.size());
    QTest::keyClicks(&e, QStringLiteral("xyz"));
    e.setCaretPosition(0);
    e.setCaretPosition(4, true);
    e.insertBytes("\xFF");
    QCOMPARE(e.data(), QByteArray("\xFF"
                                  "Bxyz"));
    e.undo();
    QCOMPARE(e.data(), QByteArray("A\0\r\nBxyz", 8));
    e.undo(); // the typed run goes back in one step
    QCOMPARE(e.data(), QByteArray("A\0\r\nB", 5));
    QVERIFY(!e.canUndo());
    e.redo();
    e.redo();
    QCOMPARE(e.data(), QByteArray("\xFF"
                                  "Bxyz"));
    QCOMPARE(actualStarts(e), expectedStarts(e.data()));
}

void tst_ByteTextEdit::readOnlyRefusesEdits()
{
    ByteTextEdit e;
    e.show();
    e.setData("keep\r\n");
    e.setReadOnly(true);
    QSignalSpy changed(&e, &ByteTextEdit::changed);
    QTest::keyClicks(&e, QStringLiteral("zz"));
    QTest::keyClick(&e, Qt::Key_Backspace);
    QTest::keyClick(&e, Qt::Key_Return);
    e.insertText(QStringLiteral("q"));
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    e.paste();
    QCOMPARE(e.data(), QByteArray("keep\r\n"));
    QCOMPARE(changed.count(), 0);
    e.selectAll();
    e.copy(); // copying is still allowed
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("keep\r\n"));
}

void tst_ByteTextEdit::signalsForDetails()
{
    ByteTextEdit e;
    e.show();
    e.setData("one\ntwo\nthree");
    QSignalSpy clicked(&e, &ByteTextEdit::clicked);
    QSignalSpy nav(&e, &ByteTextEdit::navigationKey);
    QSignalSpy changed(&e, &ByteTextEdit::changed);
    QTest::mouseClick(e.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 1);
    for (Qt::Key k : {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Home, Qt::Key_Left, Qt::Key_Up,
                      Qt::Key_Right, Qt::Key_Down})
        QTest::keyClick(&e, k);
    QCOMPARE(nav.count(), 8);
    QCOMPARE(changed.count(), 0);
    e.setData("one\ntwo\nthree"); // the same bytes are no change
    QCOMPARE(changed.count(), 0);
}

void tst_ByteTextEdit::wrappedCellsMapBothWays()
{
    ByteTextEdit e;
    e.resize(300, 200);
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    const int cols = e.columns();
    QVERIFY(cols > 1);
    QByteArray d(qsizetype(cols) * 3 + 1, 'x');
    d += "\r\nend";
    e.setData(d);
    QCOMPARE(e.rowCount(), 4 + 1);
    QCOMPARE(e.cellOf(qsizetype(cols)), QPoint(0, 1));
    QCOMPARE(e.cellOf(qsizetype(cols) * 3 + 1), QPoint(1, 3)); // end of the long line
    QCOMPARE(e.cellOf(qsizetype(cols) * 3 + 3), QPoint(0, 4)); // start of "end"
}

void tst_ByteTextEdit::largeBufferStaysEditable()
{
    // Ten megabytes in blocks, as a load adds them, then edits at the start.
    ByteTextEdit e;
    e.show();
    QByteArray block;
    for (int i = 0; i < 10; ++i)
        block +=
            "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567\r\n";
    const int blocks = 10 * 1024 * 1024 / int(block.size());
    for (int i = 0; i < blocks; ++i)
        e.appendData(block);
    e.flushView();
    QCOMPARE(e.size(), block.size() * blocks);
    QCOMPARE(e.lineCount(), qsizetype(blocks) * 10 + 1);
    e.setCaretPosition(0);
    QTest::keyClicks(&e, QStringLiteral("ab"));
    QTest::keyClick(&e, Qt::Key_Return);
    QCOMPARE(e.data().left(6), QByteArray("ab\r\n01"));
    QCOMPARE(e.lineCount(), qsizetype(blocks) * 10 + 2);
    QCOMPARE(e.lineStart(e.lineCount() - 1), e.size());
    QTest::keyClick(&e, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(e.caretPosition(), e.size());
}

QTEST_MAIN(tst_ByteTextEdit)
#include "tst_bytetextedit.moc"
