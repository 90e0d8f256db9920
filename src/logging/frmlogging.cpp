#include "logging/frmlogging.h"

frmLogging::frmLogging(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmLogging"));
    setWindowTitle(QStringLiteral("Logging"));
}

// Stand-ins: data logging fills these bodies.
void frmLogging::LoadLoggingInformation() {}
void frmLogging::SaveLoggingInformation() {}
void frmLogging::StopAllLogging() {}
void frmLogging::IncomingDataArrived(const QString &, const QByteArray &) {}
void frmLogging::OutgoingDataArrived(const QByteArray &) {}
void frmLogging::ClientToServerDataArrived(const QByteArray &) {}
void frmLogging::ServerToClientDataArrived(const QByteArray &) {}
void frmLogging::EventDataArrived(const QString &) {}
void frmLogging::StateDataArrived(const QString &) {}
