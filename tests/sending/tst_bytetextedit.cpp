#include "sending/bytetextedit.h"
#include "support/testenv.h"

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
    void holdsBytesExactly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("mixed breaks") << QByteArray("\r\n\n\r\r\n\n\ra\rb\r");
        QTest::newRow("every byte") << everyByte();
    }

    void holdsBytesExactly()
    {
        QFETCH(QByteArray, bytes);
        ByteTextEdit e;
        e.setData(bytes);
        QCOMPARE(e.data(), bytes);
        QCOMPARE(actualStarts(e), expectedStarts(bytes));
        // A CR at the end of one block and LF at the start of the next are one break.
        e.setData("a\r");
        e.appendData("\nb");
        QCOMPARE(e.lineCount(), 2);
        QCOMPARE(e.lineStart(1), 3);
    }

    void indexFollowsRandomEdits()
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

    // Keys on a box holding `before` with the caret at `caret`: '<' and '>'
    // move it, '#' is Backspace, '|' is Return, '^' pastes "pasted"; any other
    // character is one key event with that text, as a keyboard sends it.
    void keys_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("caret");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("caretAfter");
        const auto row = [](const char *name, const char *before, int caret, bool readOnly,
                            const QString &keys, const QByteArray &after, int caretAfter) {
            QTest::newRow(name) << QByteArray(before) << caret << readOnly << keys << after << caretAfter;
        };
        row("Return is CR LF", "", 0, false, QStringLiteral("ab|c"), "ab\r\nc", 5);
        row("never between CR and LF", "ab\r\nc", 5, false, QStringLiteral("<<"), "ab\r\nc", 2);
        row("not even when placed there", "x\r\ny", 2, false, QString(), "x\r\ny", 3);
        row("Backspace takes CR LF whole", "ab\r\nc", 2, false, QStringLiteral(">#"), "abc", 2);
        row("a lone CR is one break too", "a\rb", 2, false, QStringLiteral("#"), "ab", 1);
        row("latin-1", "", 0, false, QStringLiteral("\u00E9\u00FF"), "\xE9\xFF", 2);
        row("outside the BMP", "", 0, false, QStringLiteral("\U0001F600"), "\xF0\x9F\x98\x80", 4);
        row("read-only refuses all", "keep\r\n", 6, true, QStringLiteral("zz#|^"), "keep\r\n", 6);
    }

    void keys()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, caret);
        QFETCH(bool, readOnly);
        QFETCH(QString, keys);
        ByteTextEdit e;
        e.show();
        e.setData(before);
        e.setCaretPosition(caret);
        e.setReadOnly(readOnly);
        QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
        QSignalSpy changed(&e, &ByteTextEdit::changed);
        const QHash<QChar, Qt::Key> named{
            {u'<', Qt::Key_Left}, {u'>', Qt::Key_Right}, {u'#', Qt::Key_Backspace}, {u'|', Qt::Key_Return}};
        for (qsizetype i = 0; i < keys.size(); ++i) {
            const qsizetype n = keys.at(i).isHighSurrogate() ? 2 : 1;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, keys.mid(i, n));
            if (keys[i] == u'^')
                e.paste();
            else if (named.contains(keys[i]))
                QTest::keyClick(&e, named[keys[i]]);
            else
                QApplication::sendEvent(&e, &press);
            i += n - 1;
        }
        QTEST(e.data(), "after");
        QTEST(int(e.caretPosition()), "caretAfter");
        QCOMPARE(changed.count() > 0, e.data() != before);
    }

    void clipboardAndUndoKeepBytes()
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
};

QTEST_MAIN(tst_ByteTextEdit)
#include "tst_bytetextedit.moc"
