// How fast the display routine turns a flood of short messages into rows,
// and how long the event loop goes without a turn meanwhile; and how long
// one message of 16,000 fields takes to be listed with field splitting on,
// and the longest the event loop waits meanwhile (median of three runs,
// offscreen and, from a copy of this program, under X when a display is at
// hand; `--fields-only` takes the listing alone).
//
// 100,000 messages of the form "message 000123" CR LF arrive in 64 KiB
// pieces, one piece per socket notification (a notification is not raised
// again while its handler runs, as with a real socket). The list is a real
// tree view and the text view is shown. A 1 ms timer records the longest
// gap between two of its firings during the flood.

#include "benchsupport.h"
#include "core/eventlog.h"
#include "core/framing.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supportclass.h"
#include "display/supporthost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QProcess>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMessages = 100000;
constexpr qsizetype kChunk = 64 * 1024;

class QuietEvents : public EventLog
{
public:
    void AddEvent(const QString &) override { ++count; }
    int count = 0;
};

class BenchHost : public SupportHost
{
public:
    int currentMode() const override { return 0; }
    int showPosition(int) const override { return 0; }
    DataListModel *dataList(int) const override { return list; }
    DataTextView *textView(int) const override { return text; }
    bool filterOn() const override { return false; }
    bool passesFilter(const QByteArray &) const override { return true; }
    int clientState() const override { return 7; }
    int serverState(int) const override { return 0; }
    int highestServerIndex() const override { return 0; }
    OsError writeClient(const QByteArray &) override { return OsError(); }
    OsError writeServer(int, const QByteArray &) override { return OsError(); }
    void sendFailed(const OsError &) override {}
    void holdArrivals(int, bool) override {}
    void readArrival(int) override {}
    void closeClient() override {}
    void closeServer(int) override {}
    void holdReceiving(bool) override {}
    void IncomingDataArrived(const QString &, const QByteArray &) override {}
    void OutgoingDataArrived(const QByteArray &) override {}
    void ClientToServerDataArrived(const QByteArray &) override {}
    void ServerToClientDataArrived(const QByteArray &) override {}
    void SentDataAdded() override {}
    void ReceivedDataAdded() override {}
    void DataHasBeenSent() override {}
    void UpdateReceivePauseBufferIndicator() override {}

    DataListModel *list = nullptr;
    DataTextView *text = nullptr;
};

struct Result
{
    double rowsPerSecond = 0;
    qint64 maxStallMs = 0;
    qint64 rows = 0;
};

// A data list with the main window's columns, as the main window attaches it.
QTreeView *addList(QWidget &window, QBoxLayout *layout)
{
    auto *model = new DataListModel(&window);
    model->setColumns({{QStringLiteral("#"), 645},
                       {QStringLiteral("Time"), 1170},
                       {QStringLiteral("I/O"), 435},
                       {QStringLiteral("Sock#"), 660},
                       {QStringLiteral("Message"), 6180}});
    auto *view = new QTreeView;
    model->attachView(view);
    layout->addWidget(view);
    return view;
}

// The window is up and painted before the work starts, as it would be.
void showSettled(QWidget &window)
{
    window.resize(1200, 600);
    window.show();
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
}

Result runFlood(int maxListLength)
{
    DefaultOptions options;
    options.maxListLength = maxListLength;
    tw::setOptions(&options);

    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    QTreeView *view = addList(window, layout);
    auto *model = static_cast<DataListModel *>(view->model());
    auto *text = new DataTextView;
    layout->addWidget(text);
    showSettled(window);

    BenchHost host;
    host.list = model;
    host.text = text;
    SupportClass support;
    support.setHost(&host);

    QByteArray data;
    for (int i = 0; i < kMessages; ++i)
        data += "message " + QByteArray::number(i).rightJustified(6, '0') + "\r\n";
    QList<QByteArray> chunks;
    for (qsizetype at = 0; at < data.size(); at += kChunk)
        chunks << data.mid(at, kChunk);

    // The rows the display makes: each piece is framed on its own.
    Result result;
    for (const QByteArray &chunk : chunks) {
        qint64 position = 0;
        bool more = true;
        while (more) {
            QByteArray message;
            qint64 count = 0;
            more = Framing::GetNextMessage(chunk, position, message, true, count, "\r\n", true);
            ++result.rows;
        }
    }

    QEventLoop loop;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        result.maxStallMs = qMax(result.maxStallMs, sinceTick.elapsed());
        sinceTick.restart();
    });

    qsizetype next = 0;
    bool busy = false;
    QElapsedTimer clock;
    QTimer socket;
    QObject::connect(&socket, &QTimer::timeout, [&] {
        if (busy)
            return;
        if (next < chunks.size()) {
            busy = true;
            support.DisplayData(true, chunks[next++], model, text, true, false, true, QStringLiteral("NA"));
            busy = false;
        } else if (!text->hasPendingRender()) {
            loop.quit();
        }
    });

    clock.start();
    sinceTick.start();
    ticker.start(1);
    socket.start(0);
    loop.exec();
    const qint64 elapsedNs = clock.nsecsElapsed();
    ticker.stop();
    socket.stop();

    result.rowsPerSecond = double(result.rows) / (double(elapsedNs) / 1e9);
    tw::setOptions(nullptr);
    return result;
}

struct Listing
{
    double totalMs = 0;
    qint64 maxStallMs = 0;
    bool listed = false;
};

// One message of 16,000 one-letter fields separated by commas, listed with
// field splitting on in a shown tree view.
Listing runFields()
{
    constexpr int kFields = 16000;
    DefaultOptions options;
    options.splitFields = true;
    options.fieldSeparator = ",";
    tw::setOptions(&options);

    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    QTreeView *view = addList(window, layout);
    auto *model = static_cast<DataListModel *>(view->model());
    showSettled(window);

    BenchHost host;
    host.list = model;
    SupportClass support;
    support.setHost(&host);
    QByteArray message;
    for (int i = 0; i < kFields; ++i)
        message += i ? ",f" : "f";
    message += "\r\n";

    // Done when the row is listed and the list has painted it; the ticks go
    // on a while longer, for work the view does after its paint.
    struct Painted : QObject
    {
        bool armed = false;
        bool painted = false;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (armed && event->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    } painted;
    view->viewport()->installEventFilter(&painted);

    Listing result;
    qint64 shownNs = 0;
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        result.maxStallMs = qMax(result.maxStallMs, sinceTick.elapsed());
        sinceTick.restart();
        if (shownNs == 0 && painted.painted)
            shownNs = clock.nsecsElapsed();
        if (shownNs > 0 && clock.nsecsElapsed() - shownNs > 100 * 1000000LL)
            loop.quit();
        if (clock.elapsed() > 60000)
            loop.quit();
    });
    QTimer::singleShot(0, [&] {
        support.DisplayData(true, message, model, nullptr, true, false, false, QStringLiteral("NA"));
        result.listed = model->rowCount() == 1;
        painted.armed = true;
        view->viewport()->update();
    });
    clock.start();
    sinceTick.start();
    ticker.start(1);
    loop.exec();
    result.listed = result.listed && shownNs > 0;
    result.totalMs = double(shownNs) / 1e6;
    tw::setOptions(nullptr);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareProcess();
    QApplication app(argc, argv);
    keepHeapTrimmed(&app);
    QuietEvents events;
    tw::setEventLog(&events);

    const bool fieldsOnly = app.arguments().contains(QStringLiteral("--fields-only"));
    if (!fieldsOnly) {
        const Result defaults = runFlood(DefaultOptions().maxListLength);
        const Result large = runFlood(100000);
        std::printf("display_rows: %.0f rows/s\n", defaults.rowsPerSecond);
        std::printf("display_max_stall: %lld ms\n", static_cast<long long>(defaults.maxStallMs));
        std::printf("display_rows_100k_limit: %.0f rows/s\n", large.rowsPerSecond);
        std::printf("display_max_stall_100k_limit: %lld ms\n", static_cast<long long>(large.maxStallMs));
    }

    // The field listing, median of three, on this platform and, from a copy
    // of this program, under X when a display is at hand.
    std::vector<double> totals;
    std::vector<double> stalls;
    bool listed = true;
    for (int r = 0; r < 3; ++r) {
        const Listing fields = runFields();
        totals.push_back(fields.totalMs);
        stalls.push_back(double(fields.maxStallMs));
        listed = listed && fields.listed;
    }
    const bool onX = QGuiApplication::platformName() == QLatin1String("xcb");
    const char *suffix = onX ? "_xcb" : "";
    std::printf("fields_16k_total%s: %.0f ms\n", suffix, bench::median(totals));
    std::printf("fields_16k_max_stall%s: %.0f ms\n", suffix, bench::median(stalls));
    std::printf("fields_16k_max_stall%s_worst: %.0f ms\n", suffix,
                *std::max_element(stalls.begin(), stalls.end()));
    std::fflush(stdout);
    if (!fieldsOnly && !onX && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--fields-only")});
        listed = listed && child.waitForFinished(-1) && child.exitStatus() == QProcess::NormalExit &&
                 child.exitCode() == 0;
    }
    tw::setEventLog(nullptr);
    return listed ? 0 : 1;
}
