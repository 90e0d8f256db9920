// Saving a send window's state into a settings file that already holds 500
// saved states (about 2.5 MB): the time one close of a send window costs.
//
//   settings_save_state_500_ms            the state's keys in one save
//   settings_save_state_500_cpu_ms        its CPU time (the rest is the disk and other programs)
//   settings_save_state_500_changed_ms    the same, after another copy wrote the file
//   settings_save_state_500_per_key_ms    one save per key
//
// Options: --repeats N (default 21).

#include "benchsupport.h"
#include "options/settingsstore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {
constexpr int kStates = 500;

SettingsStore::Changes stateChanges(int n, int round)
{
    const QString section = QStringLiteral("Send\\") + QString::number(n);
    QString data;
    data.reserve(5000);
    while (data.size() < 4990)
        data += QStringLiteral("GET /index.html HTTP/1.0\\0D\\0AHost: example.test\\0D\\0A\\0D\\0A");
    data.truncate(4990);
    data += QString::number(round).rightJustified(10, QLatin1Char('0'));
    auto c = [&](const char *key, const QString &value) {
        return SettingsStore::Change{section, QString::fromLatin1(key), value};
    };
    return {
        {QStringLiteral("Send"), QString::number(n),
         QStringLiteral("State %1 of round %2").arg(n).arg(round)},
        c("Modified",
          QStringLiteral("05 Dec 2026 10:%1:%2").arg(round % 60, 2, 10, QLatin1Char('0')).arg(n % 60)),
        c("Binary", QStringLiteral("True")),
        c("Pause", QStringLiteral("False")),
        c("Periodically", QStringLiteral("False")),
        c("PauseFor", QStringLiteral("200")),
        c("OnceEvery", QStringLiteral("5000")),
        c("Duration", QStringLiteral("ever")),
        c("Left", QString::number(1200 + round)),
        c("Top", QStringLiteral("900")),
        c("Width", QStringLiteral("5730")),
        c("Height", QStringLiteral("4020")),
        c("LinkedFile", QString()),
        c("Data", data),
    };
}

// Wall-clock milliseconds of work; its CPU milliseconds are added to *cpu.
double msOf(const std::function<void()> &work, std::vector<double> *cpu = nullptr)
{
    QElapsedTimer t;
    const double c0 = bench::threadCpuSeconds();
    t.start();
    work();
    const double wall = double(t.nsecsElapsed()) / 1e6;
    if (cpu)
        cpu->push_back((bench::threadCpuSeconds() - c0) * 1e3);
    return wall;
}

void check(const OsError &e)
{
    if (e.isError()) {
        std::fprintf(stderr, "save failed: %d, %s\n", e.number, qPrintable(e.description));
        std::exit(1);
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bench::Options defaults;
    defaults.repeats = 21;
    const bench::Options options = bench::parseOptions(app.arguments(), defaults);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tarnwell.ini"));
    SettingsStore store(path);
    SettingsStore::Changes all;
    for (int n = 0; n < kStates; ++n)
        all += stateChanges(n, 0);
    check(store.SaveMany(all));
    SettingsStore other(path);

    std::vector<double> batch, batchCpu, changed, perKey;
    for (int r = 1; r <= options.repeats; ++r) {
        const int n = (r * 37) % kStates;
        batch.push_back(msOf([&] { check(store.SaveMany(stateChanges(n, r))); }, &batchCpu));

        check(other.Save(QStringLiteral("Options"), QStringLiteral("Round"), QString::number(r)));
        changed.push_back(msOf([&] { check(store.SaveMany(stateChanges(n, r + 1000))); }));

        const SettingsStore::Changes keys = stateChanges(n, r + 2000);
        perKey.push_back(msOf([&] {
            for (const SettingsStore::Change &c : keys)
                check(store.Save(c.section, c.key, *c.value));
        }));
    }
    std::printf("settings_file_size_mb: %.2f MB\n", double(QFileInfo(path).size()) / 1e6);
    std::printf("settings_save_state_500_ms: %.2f ms\n", bench::median(batch));
    std::printf("settings_save_state_500_cpu_ms: %.2f ms\n", bench::median(batchCpu));
    std::printf("settings_save_state_500_changed_ms: %.2f ms\n", bench::median(changed));
    std::printf("settings_save_state_500_per_key_ms: %.2f ms\n", bench::median(perKey));
    std::printf("settings_save_state_500_per_key_ratio: %.1f x\n",
                bench::median(perKey) / bench::median(batch));
    return 0;
}
