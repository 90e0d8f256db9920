#pragma once

#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supportclass.h"
#include "display/supporthost.h"

#include <QAbstractItemModelTester>
#include <QMap>
#include <QSet>
#include <array>
#include <functional>
#include <memory>

// The main window as the display and data path see it: three lists and text
// views, a filter that can be switched and slowed, and sockets whose states
// the test sets and whose writes and log calls are recorded.
class FakeSupportHost : public SupportHost
{
public:
    FakeSupportHost()
    {
        for (int i = 0; i < 3; ++i) {
            lists[i] = std::make_unique<DataListModel>();
            lists[i]->setColumns({{QStringLiteral("#"), 645},
                                  {QStringLiteral("Time"), 1170},
                                  {QStringLiteral("I/O"), 435},
                                  {QStringLiteral("Sock#"), 660},
                                  {QStringLiteral("Message"), 6180}});
            texts[i] = std::make_unique<DataTextView>();
            // Every change made to a list is checked against the model rules.
            new QAbstractItemModelTester(
                lists[i].get(), QAbstractItemModelTester::FailureReportingMode::QtTest, lists[i].get());
        }
    }
    int currentMode() const override { return mode; }
    int showPosition(int m) const override { return show[size_t(m)]; }
    DataListModel *dataList(int m) const override { return lists[size_t(m)].get(); }
    DataTextView *textView(int m) const override { return texts[size_t(m)].get(); }
    bool filterOn() const override { return filter; }
    bool passesFilter(const QByteArray &message) const override
    {
        if (onFilter)
            onFilter(message);
        return message.contains(filterText);
    }
    int clientState() const override { return client; }
    int serverState(int i) const override { return i < servers.size() ? servers[i] : 0; }
    int highestServerIndex() const override { return int(servers.size()) - 1; }
    OsError writeClient(const QByteArray &d) override
    {
        writes << QStringLiteral("client:") + QString::fromLatin1(d);
        return written(0);
    }
    OsError writeServer(int i, const QByteArray &d) override
    {
        writes << QStringLiteral("server%1:").arg(i) + QString::fromLatin1(d);
        return written(i);
    }
    OsError written(int socket) const
    {
        return gone.contains(socket)      ? OsError{kNotConnected, {}}
               : failing.contains(socket) ? kRefused
                                          : OsError();
    }
    void sendFailed(const OsError &e) override { failures << e.number; }
    // Sockets with data waiting, as the controller drives them: an arrival
    // is read at once unless the path holds it; a served read takes one
    // chunk, and a socket with more is announced again.
    void arrive(int socket, const QByteArray &chunk)
    {
        waiting[socket] << chunk;
        if (!support->HoldArrival(socket))
            readArrival(socket);
    }
    void holdArrivals(int socket, bool isHeld) override
    {
        if (isHeld)
            heldSockets.insert(socket);
        else
            heldSockets.remove(socket);
    }
    void readArrival(int socket) override
    {
        if (waiting[socket].isEmpty())
            return;
        support->DataReceivedOnSocket(waiting[socket].takeFirst(), QString::number(socket), true);
        if (!waiting[socket].isEmpty() && !support->HoldArrival(socket))
            readArrival(socket);
    }
    void closeClient() override { closes << QStringLiteral("client"); }
    void closeServer(int i) override { closes << QString::number(i); }
    void holdReceiving(bool hold) override { held = hold; }
    void IncomingDataArrived(const QString &s, const QByteArray &d) override
    {
        logs << QStringLiteral("in[") + s + QStringLiteral("]") + QString::fromLatin1(d);
    }
    void OutgoingDataArrived(const QByteArray &d) override
    {
        logs << QStringLiteral("out ") + QString::fromLatin1(d);
    }
    void ClientToServerDataArrived(const QByteArray &d) override
    {
        logs << QStringLiteral("c2s ") + QString::fromLatin1(d);
    }
    void ServerToClientDataArrived(const QByteArray &d) override
    {
        logs << QStringLiteral("s2c ") + QString::fromLatin1(d);
    }
    void SentDataAdded() override
    {
        ++sentAdded;
        if (duringSentAdded)
            std::exchange(duringSentAdded, nullptr)();
    }
    void ReceivedDataAdded() override
    {
        ++receivedAdded;
        if (duringReceivedAdded)
            std::exchange(duringReceivedAdded, nullptr)();
    }
    void DataHasBeenSent() override { ++sentLamp; }
    void UpdateReceivePauseBufferIndicator() override { ++gauge; }

    int mode = 0;
    std::array<int, 3> show{0, 0, 0};
    std::array<std::unique_ptr<DataListModel>, 3> lists;
    std::array<std::unique_ptr<DataTextView>, 3> texts;
    bool filter = false;
    QByteArray filterText;
    std::function<void(const QByteArray &)> onFilter;
    int client = 0;
    QList<int> servers{0};
    bool held = false; // the pause buffer holds the receiving sockets
    static inline const OsError kRefused{10054, QStringLiteral("Connection reset by peer")};
    QSet<int> failing;
    QSet<int> gone; // ended before their state shows it
    QList<int> failures;
    SupportClass *support = nullptr;
    QMap<int, QByteArrayList> waiting;
    QSet<int> heldSockets;
    QStringList writes, closes, logs;
    int sentAdded = 0, receivedAdded = 0, sentLamp = 0, gauge = 0;
    std::function<void()> duringSentAdded, duringReceivedAdded;
};
