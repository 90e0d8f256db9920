// Send window throughput: loading 10 MB files into the data box (binary
// files escaped, text plainly) and one single send of 10 MB through a real
// loopback connection until the peer has every byte. Best of three runs.
#include "options/settingsstore.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
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
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("TARNWELL_HOME", dir.path().toLocal8Bit());
    SettingsStore store(dir.filePath(QStringLiteral("bench.ini")));
    SettingsStore::setInstance(&store);
    ScriptedUi ui; // notices are recorded, the link question answered No

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
