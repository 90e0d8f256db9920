#pragma once

#include <QString>

/// Where the program's files live. Read-only shipped files (the animation,
/// help pages, protocol and almanac lists) are found beside the executable
/// or in the installed data folder; files the program writes go to a
/// user-writable folder.
namespace ProgramFolder {
/// Folder holding the shipped read-only files. TARNWELL_DATA_DIR overrides it.
QString dataDir();
/// Full path of a shipped file inside dataDir().
QString dataFile(const QString &name);
/// A list the user may edit (Servers.txt, Ports.txt, Protocols.txt): the
/// user's copy in writableDir() when there is one, else the shipped file.
/// The shipped folder is read-only once installed, so edits go to the copy.
QString dataFileUserFirst(const QString &name);
/// User-writable folder for the program's own output (logs by default).
/// TARNWELL_HOME overrides it.
QString writableDir();
} // namespace ProgramFolder
