#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

/// How records of the log files are laid out. Pure functions on bytes.
namespace LogFormat {

/// Width of a print zone: zones start at columns 1, 15, 29, ...
constexpr int kZoneWidth = 14;

/// Spaces that take a line on to the start of the next print zone, given the
/// characters already written on it. A line exactly at a zone start goes on
/// to the next one, so a stamp or header never runs into what follows.
int spacesToNextZone(qint64 written);

/// The data as hex-dump lines of 16 bytes: four spaces, the bytes as hex in
/// groups of four (".." past the end), ": ", the printable bytes ("." for
/// others, a space past the end), CR LF. Empty data gives no lines.
QByteArray HexDump(QByteArrayView data);

/// The date in the given date format, one space, the time as HH:MM:SS.mmm.
QByteArray dateStamp(const QDateTime &when, const QString &dateFormat);

/// The line that ends a log when logging of it is stopped (after a stamp
/// and a zone).
inline constexpr char kStopLine[] = "--------------- Logging Stopped ---------";

} // namespace LogFormat
