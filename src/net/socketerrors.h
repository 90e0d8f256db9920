#pragma once

#include "core/oserror.h"

#include <QAbstractSocket>
#include <QString>

/// The one table of socket error numbers and their descriptions. Every
/// failure the socket control returns and every Error notification it raises
/// takes its number and text from here, so the user always sees the numbers
/// network tools have long used for these conditions.
namespace SocketErrors {

enum Number : int {
    kInvalidPropertyValue = 380,   // a port that is not a number in 0..65535
    kWrongState = 40006,           // a call the socket's state does not allow
    kInterrupted = 10004,
    kPermissionDenied = 10013,
    kInvalidArgument = 10022,
    kWouldBlock = 10035,
    kInProgress = 10036,
    kNotSocket = 10038,
    kDatagramTooLarge = 10040,
    kAddressFamily = 10047,
    kAddressInUse = 10048,
    kAddressNotAvailable = 10049,
    kNetworkDown = 10050,
    kNetworkUnreachable = 10051,
    kConnectionAborted = 10053,
    kConnectionReset = 10054,
    kNoBufferSpace = 10055,
    kNotConnected = 10057,
    kTimedOut = 10060,
    kConnectionRefused = 10061,
    kHostUnreachable = 10065,
    kHostNotFound = 11001,
};

/// The source named in Error notifications.
QString source();
/// The description for a number of the table (empty for an unknown number).
QString description(int number);
/// The error code carried beside the number: the facility base plus the number.
qint32 scode(int number);
/// Number and description of the table.
OsError make(int number);
/// The table entry for a failure reported by the network layer. qtText, the
/// layer's own message, only tells apart the kinds it lumps together (an
/// unreachable host and an unreachable network are both a "network error").
OsError fromSocketError(QAbstractSocket::SocketError error, const QString &qtText = QString());

} // namespace SocketErrors
