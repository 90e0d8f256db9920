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
    virtual OsError writeClient(const QByteArray &data) = 0;
    virtual OsError writeServer(int index, const QByteArray &data) = 0;
    /// Tells the user that sending failed (once per send).
    virtual void sendFailed(const OsError &error) = 0;
    virtual void closeClient() = 0;
    virtual void closeServer(int index) = 0;

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
