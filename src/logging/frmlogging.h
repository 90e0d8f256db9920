#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

/// The logging window and the log-file operations. Stand-in until data
/// logging is built: the operations exist with their final interface and
/// write nothing.
class frmLogging : public QWidget
{
    Q_OBJECT
public:
    explicit frmLogging(QWidget *parent = nullptr);

    void LoadLoggingInformation();
    void SaveLoggingInformation();
    void StopAllLogging();

    void IncomingDataArrived(const QString &strSocket, const QByteArray &strData);
    void OutgoingDataArrived(const QByteArray &strData);
    void ClientToServerDataArrived(const QByteArray &strData);
    void ServerToClientDataArrived(const QByteArray &strData);
    void EventDataArrived(const QString &strText);
    void StateDataArrived(const QString &strText);
};
