#include "core/bytes.h"
#include "core/optionssource.h"
#include "display/supportclass.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>

namespace {

QList<frmWait *> waitWindows()
{
    QList<frmWait *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *wait = qobject_cast<frmWait *>(w))
            found << wait;
    }
    return found;
}

// Escape-dense text: escapes, doubled and lone backslashes and plain characters.
QByteArray escapedText(qsizetype size)
{
    QRandomGenerator rng(99);
    static const char *const kItems[] = {"\\0D\\0A", "\\5c", "\\\\", "abc", "\\G1", "\\ff", "x"};
    QByteArray text;
    while (text.size() < size)
        text += kItems[rng.bounded(7)];
    return text;
}

// Sees every progress window made or shown, by the events that reach it (a
// window gets its children while it is being built). With an action, every
// turn of the event loop sleeps until a window shows (so the conversion
// outlasts the second before it appears), then the action runs once.
class WaitWindowWatcher : public QObject
{
public:
    explicit WaitWindowWatcher(std::function<void(frmWait *)> act = {})
    {
        qApp->installEventFilter(this);
        if (!act)
            return;
        connect(&m_timer, &QTimer::timeout, this, [this, act] {
            if (!shown) {
                QThread::msleep(100);
            } else if (!acted) {
                acted = true;
                act(shown);
            }
        });
        m_timer.start(0);
    }
    ~WaitWindowWatcher() override { qApp->removeEventFilter(this); }
    QSet<QObject *> created;
    frmWait *shown = nullptr;
    bool acted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (auto *wait = qobject_cast<frmWait *>(watched)) {
            created.insert(wait);
            if (event->type() == QEvent::Show)
                shown = wait;
        }
        return false;
    }

private:
    QTimer m_timer;
};

} // namespace

class TestGetRaw : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutConversionAndAliasing();
    void progressWindowOverThousand();
    void cancelOrStopLongConversion();
    void supportDeletedDuringConversion();
    void framingReadsOptionsAtEveryCall();
};

void TestGetRaw::withoutConversionAndAliasing()
{
    ScriptedUi ui;
    SupportClass support;
    // One variable as both text and result.
    const QByteArray text("a\\0D\\0A\\\\b");
    QByteArray same = text;
    QVERIFY(support.GetRaw(same, false, same));
    QCOMPARE(same, text);
    QVERIFY(support.GetRaw(same, true, same));
    QCOMPARE(same, QByteArray("a\r\n\\b"));
}

void TestGetRaw::progressWindowOverThousand()
{
    ScriptedUi ui;
    SupportClass support;
    for (int length : {1000, 1001}) {
        const QByteArray text = QByteArray("\\41").repeated(333) + QByteArray(length - 999, 'x');
        WaitWindowWatcher watcher;
        QByteArray out;
        QVERIFY(support.GetRaw(text, true, out));
        QCOMPARE(watcher.created.size(), length > 1000 ? 1 : 0);
        QVERIFY(!watcher.shown); // a fast conversion never shows it
        QCOMPARE(out, Bytes::FromEscaped(text));
        QVERIFY(waitWindows().isEmpty());
    }
}

void TestGetRaw::cancelOrStopLongConversion()
{
    for (bool cancel : {true, false}) {
        ScriptedUi ui;
        SupportClass support;
        const QByteArray text = escapedText(24 << 20);
        QString label;
        int percent = -1;
        WaitWindowWatcher watcher([&](frmWait *wait) {
            label = wait->label();
            percent = wait->percent();
            if (cancel)
                QTest::mouseClick(wait->findChild<QPushButton *>(QStringLiteral("cmdCancel")),
                                  Qt::LeftButton);
            else
                support.StopGettingRaw();
        });
        QByteArray out;
        QVERIFY(!support.GetRaw(text, true, out));
        QVERIFY(watcher.acted);
        QCOMPARE(support.cancelled(), cancel);
        QCOMPARE(support.stopped(), !cancel);
        QCOMPARE(label, QStringLiteral("Preparing data..."));
        QVERIFY(percent > 0 && percent < 100);
        QCOMPARE(ui.messages(),
                 cancel
                     ? QStringList{QStringLiteral("You have cancelled the operation.  No data will be sent.")}
                     : QStringList());
        QVERIFY(!cancel || ui.prompts[0].icon == UiService::Icon::Information);
        // What was converted before is a true prefix of the result.
        const QByteArray full = Bytes::FromEscaped(text);
        QVERIFY(out.size() < full.size() && full.startsWith(out));
        QVERIFY(waitWindows().isEmpty());

        // The flags start afresh with the next conversion.
        QVERIFY(support.GetRaw("\\41", true, out));
        QVERIFY(!support.cancelled() && !support.stopped());
        QCOMPARE(out, QByteArray("A"));
    }
}

void TestGetRaw::supportDeletedDuringConversion()
{
    // The owner of the support object may go away while events run.
    ScriptedUi ui;
    auto *support = new SupportClass;
    QTimer::singleShot(0, this, [&support] {
        delete support;
        support = nullptr;
    });
    QByteArray out;
    QVERIFY(!support->GetRaw(escapedText(4 << 20), true, out));
    QVERIFY(!support);
    QVERIFY(ui.prompts.isEmpty());
    QVERIFY(waitWindows().isEmpty());
}

void TestGetRaw::framingReadsOptionsAtEveryCall()
{
    DefaultOptions options;
    tw::setOptions(&options);
    SupportClass support;
    qint64 pos = 0, count = 0;
    QByteArray piece;
    options.messageSeparator = "|";
    QVERIFY(support.GetNextMessage("a|b;c", pos, piece, false, count));
    QCOMPARE(piece, QByteArray("a"));
    options.messageSeparator = ";";
    QVERIFY(support.GetNextMessage("a|b;c", pos, piece, true, count));
    QCOMPARE(piece, QByteArray("b;"));

    options.fieldSeparator = ",";
    options.ignoreText = "'";
    options.splitFields = true; // ignoring needs it
    options.ignoreBetween = true;
    pos = 2;
    QVERIFY(support.GetNextField("x,'a,b',y", pos, piece, false));
    QCOMPARE(piece, QByteArray("'a,b'"));
    tw::setOptions(nullptr);
}

QTEST_MAIN(TestGetRaw)
#include "tst_getraw.moc"
