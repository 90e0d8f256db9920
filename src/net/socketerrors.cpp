#include "net/socketerrors.h"

#include <QCoreApplication>

namespace SocketErrors {

namespace {

struct Entry
{
    int number;
    const char *text;
};

constexpr Entry kTable[] = {
    {kInvalidPropertyValue, "Invalid property value"},
    {kWrongState, "Wrong protocol or connection state for the requested transaction or request"},
    {kInterrupted, "The operation was interrupted"},
    {kPermissionDenied, "Permission denied"},
    {kInvalidArgument, "Invalid argument"},
    {kWouldBlock, "The operation would block"},
    {kInProgress, "An operation is already in progress"},
    {kNotSocket, "The descriptor is not a socket"},
    {kDatagramTooLarge, "The datagram is too large to fit into the buffer"},
    {kAddressFamily, "Address family is not supported"},
    {kAddressInUse, "Address in use"},
    {kAddressNotAvailable, "Address is not available from the local machine"},
    {kNetworkDown, "Network is down"},
    {kNetworkUnreachable, "Network is unreachable"},
    {kConnectionAborted, "Connection is aborted due to timeout or other failure"},
    {kConnectionReset, "Connection is reset by remote side"},
    {kNoBufferSpace, "No buffer space is available"},
    {kNotConnected, "Socket is not connected"},
    {kTimedOut, "Connection timed out"},
    {kConnectionRefused, "Connection is forcefully rejected"},
    {kHostUnreachable, "Host is unreachable"},
    {kHostNotFound, "Authoritative answer: Host not found"},
};

constexpr quint32 kScodeBase = 0x800A0000u;

// The network layer's own wording for the two kinds behind NetworkError.
bool saysUnreachableHost(const QString &qtText)
{
    return !qtText.isEmpty()
        && (qtText == QCoreApplication::translate("QNativeSocketEngine", "Host unreachable")
            || qtText.contains(QStringLiteral("host unreachable"), Qt::CaseInsensitive));
}

bool saysUnreachableNetwork(const QString &qtText)
{
    return !qtText.isEmpty()
        && (qtText == QCoreApplication::translate("QNativeSocketEngine", "Network unreachable")
            || qtText.contains(QStringLiteral("network unreachable"), Qt::CaseInsensitive));
}

int numberFor(QAbstractSocket::SocketError error, const QString &qtText)
{
    using E = QAbstractSocket::SocketError;
    switch (error) {
    case E::ConnectionRefusedError:
    case E::ProxyConnectionRefusedError:
        return kConnectionRefused;
    case E::RemoteHostClosedError:
    case E::ProxyConnectionClosedError:
        return kConnectionReset;
    case E::HostNotFoundError:
    case E::ProxyNotFoundError:
        return kHostNotFound;
    case E::SocketAccessError:
    case E::ProxyAuthenticationRequiredError:
        return kPermissionDenied;
    case E::SocketResourceError:
        return kNoBufferSpace;
    case E::SocketTimeoutError:
    case E::ProxyConnectionTimeoutError:
        return kTimedOut;
    case E::DatagramTooLargeError:
        return kDatagramTooLarge;
    case E::NetworkError:
        if (saysUnreachableHost(qtText))
            return kHostUnreachable;
        if (saysUnreachableNetwork(qtText))
            return kNetworkUnreachable;
        return kNetworkDown;
    case E::AddressInUseError:
        return kAddressInUse;
    case E::SocketAddressNotAvailableError:
        return kAddressNotAvailable;
    case E::UnsupportedSocketOperationError:
        return kAddressFamily;
    case E::UnfinishedSocketOperationError:
        return kInProgress;
    case E::TemporaryError:
        return kWouldBlock;
    case E::OperationError:
        return kWrongState;
    case E::ProxyProtocolError:
    case E::SslHandshakeFailedError:
    case E::SslInternalError:
    case E::SslInvalidUserDataError:
    case E::UnknownSocketError:
        break;
    }
    return kConnectionAborted;
}

} // namespace

QString source()
{
    return QStringLiteral("Tarnwell.SocketControl");
}

QString description(int number)
{
    for (const Entry &e : kTable) {
        if (e.number == number)
            return QString::fromLatin1(e.text);
    }
    return QString();
}

qint32 scode(int number)
{
    return qint32(kScodeBase + quint32(number));
}

OsError make(int number)
{
    return OsError{number, description(number)};
}

OsError fromSocketError(QAbstractSocket::SocketError error, const QString &qtText)
{
    return make(numberFor(error, qtText));
}

} // namespace SocketErrors
