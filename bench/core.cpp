// Throughput of the byte conversions and of message framing.
// MB here is 10^6 bytes. Each figure is the median of three runs.
#include "benchsupport.h"
#include "core/bytes.h"
#include "display/supportclass.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>
#include <functional>

namespace {

constexpr qsizetype kMB = 1000 * 1000;
constexpr int kRuns = 3;

// Median wall time of kRuns runs, in seconds.
double medianSeconds(const std::function<void()> &work)
{
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        work();
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
    }
    return bench::median(seconds);
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

QByteArray randomBytes(qsizetype size)
{
    QRandomGenerator rng(1);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = static_cast<char>(rng.bounded(256));
    return out;
}

// Nothing but escapes: every character belongs to one.
QByteArray escapeDense(qsizetype size)
{
    QByteArray text = Bytes::GetHex(randomBytes(size / 3 + 1));
    // "41 0D " -> "\41\0D": blanks become the backslash that starts the next.
    text.replace(' ', '\\');
    text.prepend('\\');
    text.truncate(size - size % 3);
    return text;
}

QByteArray plainText(qsizetype size)
{
    QRandomGenerator rng(2);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out) {
        do
            c = static_cast<char>(32 + rng.bounded(95));
        while (c == '\\');
    }
    return out;
}

// Messages of 18 characters and CR LF.
QByteArray crlfMessages(qsizetype size)
{
    QByteArray one = QByteArray("message-0123456789").left(18) + "\r\n";
    return one.repeated(size / one.size());
}

// Frames data passes times over per run; messages is the count of one pass.
double framingSeconds(SupportClass &support, const QByteArray &data, qint64 &messages, int passes = 1)
{
    const auto frame = [&] {
        for (int pass = 0; pass < passes; ++pass) {
            qint64 pos = 0, count = 0, n = 0;
            QByteArray message;
            bool more = true;
            while (more) {
                more = support.GetNextMessage(data, pos, message, false, count);
                ++n;
            }
            messages = n;
        }
    };
    return medianSeconds(frame) / passes;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SupportClass support;

    const QByteArray escaped = escapeDense(10 * kMB);
    const QByteArray plain = plainText(10 * kMB);
    const QByteArray random = randomBytes(10 * kMB);
    QByteArray out;

    double s = medianSeconds([&] { support.GetRaw(escaped, true, out); });
    if (out != Bytes::FromEscaped(escaped))
        return 1;
    print("getraw_escaped_10mb", double(escaped.size()) / kMB / s, "MB/s");

    s = medianSeconds([&] { support.GetRaw(plain, true, out); });
    if (out != plain)
        return 1;
    print("getraw_plain_10mb", double(plain.size()) / kMB / s, "MB/s");

    s = medianSeconds([&] { out = Bytes::GetChar(random); });
    print("getchar_10mb", double(random.size()) / kMB / s, "MB/s");

    s = medianSeconds([&] { out = Bytes::GetHex(random); });
    print("gethex_10mb", double(random.size()) / kMB / s, "MB/s");

    // Default options: CR LF separators, concatenated.
    const QByteArray big = crlfMessages(10 * kMB);
    const QByteArray small = crlfMessages(1 * kMB);
    qint64 bigCount = 0, smallCount = 0;
    const double bigSeconds = framingSeconds(support, big, bigCount);
    // The small buffer ten times over, so both figures time as much work.
    const double smallSeconds = framingSeconds(support, small, smallCount, 10);
    print("framing_10mb", double(bigCount) / bigSeconds, "messages/s");
    print("framing_1mb", double(smallCount) / smallSeconds, "messages/s");
    print("framing_growth_ratio", (bigSeconds / double(bigCount)) / (smallSeconds / double(smallCount)), "ratio");
    return 0;
}
