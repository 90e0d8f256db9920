// Send window throughput: loading 10 MB files into the data box (binary
// files escaped, text plainly) and one single send of 10 MB through a real
// loopback connection until the peer has every byte. Best of three runs.
//
// send_window_close_500_states_ms: closing an edited new window while the
// settings file holds 500 saved states (about 2.5 MB): choosing its number,
// writing its state and refreshing the main window's two send lists.
// Median of --repeats N (default 21); --only close skips the 10 MB runs.
#include "benchsupport.h"
#include "options/settingsstore.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendlist.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {
constexpr qsizetype kSize = 10 * 1024 * 1024;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

double loadMs(const QString &path)
{
    frmSend w;
    w.show();
    QElapsedTimer t;
    t.start();
    if (!w.LoadFile(path))
        qFatal("load failed");
    const double ms = double(t.nsecsElapsed()) / 1e6;
    w.IsModified = false;
    return ms;
}

double singleSendMBps(const QByteArray &data)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen");
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!server.waitForNewConnection(10000) || !client.waitForConnected(10000))
        qFatal("cannot connect");
    QTcpSocket *peer = server.nextPendingConnection();
    qsizetype received = 0;
    QObject::connect(peer, &QTcpSocket::readyRead, peer, [&] { received += peer->readAll().size(); });

    frmSend w;
    w.setSendHook([&](const QByteArray &bytes) { client.write(bytes); });
    w.show();
    w.txtSend->setData(data);
    QElapsedTimer t;
    t.start();
    w.cmdSend_Click();
    while (received < data.size())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    w.IsModified = false;
    return double(data.size()) / (1024.0 * 1024.0) / seconds;
}

double closeWithStatesMs(const QTemporaryDir &dir, int repeats)
{
    constexpr int kStates = 500;
    const QString path = dir.filePath(QStringLiteral("states.ini"));
    SettingsStore store(path);
    QByteArray data;
    while (data.size() < 4990)
        data += "GET /index.html HTTP/1.0\\0D\\0AHost: example.test\\0D\\0A\\0D\\0A";
    data.truncate(4990);
    const QString text = QString::fromLatin1(data);
    SettingsStore::Changes all;
    for (int n = 0; n < kStates; ++n) {
        const QString section = QStringLiteral("Send\\") + QString::number(n);
        all.append({QStringLiteral("Send"), QString::number(n), QStringLiteral("State %1").arg(n)});
        const char *keys[] = {"Binary", "Pause", "Periodically", "PauseFor", "OnceEvery", "Duration",
                              "Left",   "Top",   "Width",        "Height",   "LinkedFile"};
        for (const char *key : keys)
            all.append({section, QString::fromLatin1(key), QStringLiteral("0")});
        all.append({section, QStringLiteral("Modified"),
                    QStringLiteral("05 Dec 2025 10:%1:%2")
                        .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
                        .arg(n % 60, 2, 10, QLatin1Char('0'))});
        all.append({section, QStringLiteral("Data"), text});
    }
    if (store.SaveMany(all).isError())
        qFatal("cannot write %s", qPrintable(path));
    SettingsStore *before = &SettingsStore::instance();
    SettingsStore::setInstance(&store);

    // What the main window does after every save: both send lists rebuilt.
    QComboBox lists[2];
    frmSend::setRefreshSendListHook([&] {
        const QList<SavedSendState> states = savedSendStates(SettingsStore::instance());
        for (QComboBox &cbo : lists) {
            cbo.clear();
            for (const SavedSendState &st : states)
                cbo.addItem(st.description, st.number);
        }
    });

    std::vector<double> ms;
    for (int r = 0; r < repeats; ++r) {
        frmSend *w = frmSend::OpenNewWindow();
        w->txtTitle->setText(QStringLiteral("Probe %1").arg(r));
        w->txtSend->setData(data.left(4000));
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        w->close();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    frmSend::setRefreshSendListHook({});
    SettingsStore::setInstance(before);
    return bench::median(ms);
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::Options defaults;
    defaults.repeats = 21;
    const bench::Options options = bench::parseOptions(app.arguments(), defaults);
    QTemporaryDir dir;
    qputenv("TARNWELL_HOME", dir.path().toLocal8Bit());
    SettingsStore store(dir.filePath(QStringLiteral("bench.ini")));
    SettingsStore::setInstance(&store);
    ScriptedUi ui; // notices are recorded, the link question answered No

    std::printf("send_window_close_500_states_ms: %.2f ms\n", closeWithStatesMs(dir, options.repeats));
    if (options.only == QLatin1String("close")) {
        SettingsStore::setInstance(nullptr);
        return 0;
    }

    QByteArray binary(kSize, Qt::Uninitialized);
    QRandomGenerator rng(7);
    rng.fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
    QByteArray text;
    text.reserve(kSize);
    while (text.size() < kSize)
        text += "GET /index.html HTTP/1.1\r\nHost: www.example.com\r\nAccept: */*\r\n\r\n";
    text.truncate(kSize);
    const QString binaryPath = writeFile(dir, QStringLiteral("binary.dat"), binary);
    const QString textPath = writeFile(dir, QStringLiteral("text.txt"), text);

    double bestBinary = 1e300, bestText = 1e300, bestSend = 0;
    for (int run = 0; run < 3; ++run) {
        bestBinary = std::min(bestBinary, loadMs(binaryPath));
        bestText = std::min(bestText, loadMs(textPath));
        bestSend = std::max(bestSend, singleSendMBps(text));
    }
    std::printf("send_load_binary_10mb: %.0f ms\n", bestBinary);
    std::printf("send_load_text_10mb: %.0f ms\n", bestText);
    std::printf("send_single_10mb: %.1f MB/s\n", bestSend);
    SettingsStore::setInstance(nullptr);
    return 0;
}
