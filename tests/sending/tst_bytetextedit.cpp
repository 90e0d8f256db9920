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

class tst_ByteTextEdit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void holdsBytesExactly_data();
    void holdsBytesExactly();
    void indexFollowsRandomEdits();
    void typingEntersBytes_data();
    void typingEntersBytes();
    void crLfIsOneBreak();
    void clipboardAndUndoKeepBytes();
    void readOnlyRefusesEdits();
};

void tst_ByteTextEdit::holdsBytesExactly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("mixed breaks") << QByteArray("\r\n\n\r\r\n\n\ra\rb\r");
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
    ByteTextEdit f;
    f.setText(e.text());
    QCOMPARE(f.data(), bytes);
    // A CR at the end of one block and LF at the start of the next are one break.
    f.setData("a\r");
    f.appendData("\nb");
    QCOMPARE(f.lineCount(), 2);
    QCOMPARE(f.lineStart(1), 3);
}

void tst_ByteTextEdit::indexFollowsRandomEdits()
{
    // Edits that make and break line ends: the index must match a fresh count.
    ByteTextEdit e;
    QByteArray model;
    QRandomGenerator rng(20240611);
    const char alphabet[] = {'a', '\r', '\n', '\0'};
    for (int step = 0; step < 1000; ++step) {
        e.setCaretPosition(qsizetype(rng.bounded(int(model.size() + 1))));
        e.setCaretPosition(qsizetype(rng.bounded(int(model.size() + 1))), true);
        QByteArray insert;
        for (int i = rng.bounded(4); i > 0; --i)
            insert.append(alphabet[rng.bounded(4)]);
        model.replace(e.selectionStart(), e.selectionEnd() - e.selectionStart(), insert);
        e.insertBytes(insert);
        QCOMPARE(e.data(), model);
        QCOMPARE(actualStarts(e), expectedStarts(model));
    }
}

void tst_ByteTextEdit::typingEntersBytes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
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
    // One key event per character, as a keyboard sends them (QTest takes Latin-1 only).
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const qsizetype n = typed.at(i).isHighSurrogate() ? 2 : 1;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed.mid(i, n));
        QApplication::sendEvent(&e, &press);
        i += n - 1;
    }
    QCOMPARE(e.data(), bytes);
    QCOMPARE(e.caretPosition(), bytes.size());
}

void tst_ByteTextEdit::crLfIsOneBreak()
{
    ByteTextEdit e;
    e.show();
    QTest::keyClicks(&e, QStringLiteral("ab"));
    QTest::keyClick(&e, Qt::Key_Return);
    QTest::keyClicks(&e, QStringLiteral("c"));
    QCOMPARE(e.data(), QByteArray("ab\r\nc"));
    QTest::keyClick(&e, Qt::Key_Left);
    QTest::keyClick(&e, Qt::Key_Left);
    QCOMPARE(e.caretPosition(), 2); // never between CR and LF
    QTest::keyClick(&e, Qt::Key_Right);
    QTest::keyClick(&e, Qt::Key_Backspace);
    QCOMPARE(e.data(), QByteArray("abc"));
    e.setData("x\r\ny");
    e.setCaretPosition(2);
    QCOMPARE(e.caretPosition(), 3);
    e.setData("a\rb");
    e.setCaretPosition(2);
    QTest::keyClick(&e, Qt::Key_Backspace); // a lone CR is one break too
    QCOMPARE(e.data(), QByteArray("ab"));
}

void tst_ByteTextEdit::clipboardAndUndoKeepBytes()
{
    ByteTextEdit e;
    e.show();
    // Pasted text beyond Latin-1 goes in as UTF-8; copying gives the bytes back one per character.
    QGuiApplication::clipboard()->setText(QStringLiteral("x\r\ny\u20AC\u00A0"));
    e.paste();
    const QByteArray pasted("x\r\ny\xE2\x82\xAC\xA0");
    QCOMPARE(e.data(), pasted);
    e.selectAll();
    e.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(pasted));

    e.setData(QByteArray("A\0\r\nB", 5));
    e.setCaretPosition(e.size());
    QTest::keyClicks(&e, QStringLiteral("xyz"));
    e.setCaretPosition(0);
    e.setCaretPosition(4, true);
    e.insertBytes("\xFF");
    e.undo();
    QCOMPARE(e.data(), QByteArray("A\0\r\nBxyz", 8));
    e.undo(); // the typed run goes back in one step
    QCOMPARE(e.data(), QByteArray("A\0\r\nB", 5));
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
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    e.paste();
    QCOMPARE(e.data(), QByteArray("keep\r\n"));
    QCOMPARE(changed.count(), 0);
}

QTEST_MAIN(tst_ByteTextEdit)
#include "tst_bytetextedit.moc"
