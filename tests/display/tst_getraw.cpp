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

const QString kCancelText = QStringLiteral("You have cancelled the operation.  No data will be sent.");

QList<frmWait *> waitWindows()
{
    QList<frmWait *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *wait = qobject_cast<frmWait *>(w))
            found << wait;
    }
    return found;
}

frmWait *visibleWaitWindow()
{
    for (frmWait *wait : waitWindows()) {
        if (wait->isVisible())
            return wait;
    }
    return nullptr;
}

// Sees every progress window that is made or shown, by the events that
// reach it (a window gets its children while it is being built).
class WaitWindowWatcher : public QObject
{
public:
    WaitWindowWatcher() { qApp->installEventFilter(this); }
    ~WaitWindowWatcher() override { qApp->removeEventFilter(this); }

    QSet<QObject *> created;
    bool shown = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (qobject_cast<frmWait *>(watched)) {
            created.insert(watched);
            shown = shown || event->type() == QEvent::Show;
        }
        return false;
    }
};

// Escape-dense text of about the given size: escapes, doubled and lone
// backslashes and plain characters mixed.
QByteArray escapedText(qsizetype size)
{
    QRandomGenerator rng(99);
    static const char *const kItems[] = {"\\0D\\0A", "\\5c", "\\\\", "abc", "\\G1", "\\ff", "x"};
    QByteArray text;
    text.reserve(size + 8);
    while (text.size() < size)
        text += kItems[rng.bounded(7)];
    return text;
}

// Runs on every turn of the event loop while a conversion lets events run.
// Until the progress window is visible each turn sleeps, so the conversion
// outlasts the one second after which the window appears.
class SlowPump
{
public:
    explicit SlowPump(std::function<void(frmWait *)> onVisible) : m_onVisible(std::move(onVisible))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_acted)
                return;
            if (frmWait *wait = visibleWaitWindow()) {
                m_acted = true;
                label = wait->label();
                percent = wait->percent();
                m_onVisible(wait);
            } else {
                QThread::msleep(100);
            }
        });
        m_timer.start(0);
    }
    bool acted() const { return m_acted; }

    QString label;
    int percent = -1;

private:
    QTimer m_timer;
    std::function<void(frmWait *)> m_onVisible;
    bool m_acted = false;
};

} // namespace

class TestGetRaw : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutConversionAndAliasing();
    void longTextMatchesFromEscaped();
    void progressWindowOverThousand_data();
    void progressWindowOverThousand();
    void cancelLongConversion();
    void stopLongConversion();
    void supportDeletedDuringConversion();
    void framingReadsOptionsAtEveryCall();
};

void TestGetRaw::withoutConversionAndAliasing()
{
    ScriptedUi ui;
    SupportClass support;
    const QByteArray text("a\\0D\\0A\\\\b");
    QByteArray out;
    QVERIFY(support.GetRaw(text, false, out));
    QCOMPARE(out, text);

    // One variable as both text and result.
    QByteArray same = text;
    QVERIFY(support.GetRaw(same, false, same));
    QCOMPARE(same, text);
    QVERIFY(support.GetRaw(same, true, same));
    QCOMPARE(same, QByteArray("a\r\n\\b"));
}

void TestGetRaw::longTextMatchesFromEscaped()
{
    ScriptedUi ui;
    SupportClass support;
    const QByteArray text = escapedText(6 << 20);
    QByteArray out;
    QVERIFY(support.GetRaw(text, true, out));
    QCOMPARE(out, Bytes::FromEscaped(text));
    QVERIFY(ui.prompts.isEmpty());
    QVERIFY(waitWindows().isEmpty());
}

void TestGetRaw::progressWindowOverThousand_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("windows");
    QTest::newRow("1000") << 1000 << 0;
    QTest::newRow("1001") << 1001 << 1;
}

void TestGetRaw::progressWindowOverThousand()
{
    QFETCH(int, length);
    QFETCH(int, windows);
    ScriptedUi ui;
    SupportClass support;
    const QByteArray text = QByteArray("\\41").repeated(length / 3) + QByteArray(length % 3, 'x');
    QCOMPARE(text.size(), length);

    WaitWindowWatcher watcher;
    QByteArray out;
    QVERIFY(support.GetRaw(text, true, out));
    QCOMPARE(watcher.created.size(), windows);
    QVERIFY(!watcher.shown); // a fast conversion never shows it
    QCOMPARE(out, Bytes::FromEscaped(text));
    QVERIFY(waitWindows().isEmpty());
}

void TestGetRaw::cancelLongConversion()
{
    ScriptedUi ui;
    SupportClass support;
    const QByteArray text = escapedText(24 << 20);
    SlowPump pump([](frmWait *wait) { QTest::mouseClick(wait->findChild<QPushButton *>(QStringLiteral("cmdCancel")), Qt::LeftButton); });

    QByteArray out;
    QVERIFY(!support.GetRaw(text, true, out));
    QVERIFY(pump.acted());
    QCOMPARE(pump.label, QStringLiteral("Preparing data..."));
    QVERIFY(pump.percent > 0 && pump.percent < 100);
    QVERIFY(support.cancelled());
    QCOMPARE(ui.prompts.size(), 1);
    QCOMPARE(ui.prompts[0].kind, QStringLiteral("message"));
    QCOMPARE(ui.prompts[0].text, kCancelText);
    QCOMPARE(ui.prompts[0].icon, UiService::Icon::Information);
    QCOMPARE(ui.prompts[0].title, QStringLiteral("Tarnwell III"));
    // What was converted before the cancel is a true prefix of the result.
    const QByteArray full = Bytes::FromEscaped(text);
    QVERIFY(out.size() < full.size());
    QVERIFY(full.startsWith(out));
    QVERIFY(waitWindows().isEmpty());

    // The flags start afresh with the next conversion.
    QVERIFY(support.GetRaw("\\41", true, out));
    QVERIFY(!support.cancelled());
    QCOMPARE(out, QByteArray("A"));
}

void TestGetRaw::stopLongConversion()
{
    ScriptedUi ui;
    SupportClass support;
    const QByteArray text = escapedText(24 << 20);
    SlowPump pump([&support](frmWait *) { support.StopGettingRaw(); });

    QByteArray out;
    QVERIFY(!support.GetRaw(text, true, out));
    QVERIFY(pump.acted());
    QVERIFY(support.stopped());
    QVERIFY(!support.cancelled());
    QVERIFY(ui.prompts.isEmpty());
    QVERIFY(Bytes::FromEscaped(text).startsWith(out));
    QVERIFY(waitWindows().isEmpty());
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
    const QByteArray data("a|b;c|d");
    qint64 pos = 0, count = 0;
    QByteArray piece;

    options.messageSeparator = "|";
    QVERIFY(support.GetNextMessage(data, pos, piece, false, count));
    QCOMPARE(piece, QByteArray("a"));
    options.messageSeparator = ";";
    QVERIFY(support.GetNextMessage(data, pos, piece, true, count));
    QCOMPARE(piece, QByteArray("b;"));
    options.messageSeparator.clear();
    QVERIFY(!support.GetNextMessage(data, pos, piece, false, count));
    QCOMPARE(piece, QByteArray("c|d"));
    QCOMPARE(count, 0);

    const QByteArray message("x,'a,b',y");
    options.fieldSeparator = ",";
    options.ignoreText = "'";
    options.splitFields = true;
    options.ignoreBetween = true;
    pos = 0;
    QVERIFY(support.GetNextField(message, pos, piece, false));
    QCOMPARE(piece, QByteArray("x"));
    QVERIFY(support.GetNextField(message, pos, piece, false));
    QCOMPARE(piece, QByteArray("'a,b'"));
    options.fieldSeparator.clear();
    const qint64 before = pos;
    QVERIFY(!support.GetNextField(message, pos, piece, false));
    QCOMPARE(pos, before);
    QCOMPARE(piece, QByteArray("'a,b'"));
    tw::setOptions(nullptr);
}

QTEST_MAIN(TestGetRaw)
#include "tst_getraw.moc"
