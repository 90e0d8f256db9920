#pragma once

#include "core/oserror.h"

#include <QByteArray>
#include <QString>
#include <optional>

class DataListModel;
class DataTextView;

/// What the support object needs from the main window: the mode and its
/// controls, the filter, the sockets, the logs and the indicators. The main
/// window implements it; tests implement it with fakes.
class SupportHost
{
public:
    virtual ~SupportHost() = default;

    // Display side.
    virtual int currentMode() const = 0;
    /// The selected position of the show selector of a mode (0 to 3).
    virtual int showPosition(int mode) const = 0;
    virtual DataListModel *dataList(int mode) const = 0;
    virtual DataTextView *textView(int mode) const = 0;
    virtual bool filterOn() const = 0;
    virtual bool passesFilter(const QByteArray &message) const = 0;

    // Sockets: states (0 to 9) and writing/closing.
    virtual int clientState() const = 0;
    virtual int serverState(int index) const = 0;
    virtual int highestServerIndex() const = 0;
    /// Writes to the client socket / one server element; the failure, if any.
    /// A connection that has ended under the write (its peer gone before its
    /// polled state shows it) takes nothing and gives kNotConnected: as with
    /// any socket that is not connected, that is no failure.
    static constexpr int kNotConnected = -1;
    virtual OsError writeClient(const QByteArray &data) = 0;
    virtual OsError writeServer(int index, const QByteArray &data) = 0;
    /// Tells the user that sending failed (once per send).
    virtual void sendFailed(const OsError &error) = 0;
    virtual void closeClient() = 0;
    virtual void closeServer(int index) = 0;
    /// Stops (true) or resumes reading the sockets whose data feeds the
    /// receive path, so that what the pause buffer cannot take waits there.
    virtual void holdReceiving(bool hold) = 0;

    // Arrivals the data path cannot take yet wait in their socket. Sockets are
    // numbered as in the state histories: 0 the client socket, n >= 1 server
    // element n.
    /// Holds reading on a socket back for the data path, or lets it go.
    virtual void holdArrivals(int socket, bool held) = 0;
    /// Reads once what waits in a socket and hands it on, as its data arrival
    /// would; reads nothing while something else still holds the socket.
    virtual void readArrival(int socket) = 0;

    // Logs.
    virtual void IncomingDataArrived(const QString &strSocket, const QByteArray &strData) = 0;
    virtual void OutgoingDataArrived(const QByteArray &strData) = 0;
    virtual void ClientToServerDataArrived(const QByteArray &strData) = 0;
    virtual void ServerToClientDataArrived(const QByteArray &strData) = 0;

    // Main-window notifications.
    virtual void SentDataAdded() = 0;
    virtual void ReceivedDataAdded() = 0;
    virtual void DataHasBeenSent() = 0;
    virtual void UpdateReceivePauseBufferIndicator() = 0;
};
