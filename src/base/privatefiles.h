#pragma once

#include <QString>

// Files that hold secrets and the folders they live in, readable by the user alone. Modes are set
// explicitly, so the process's umask does not matter, and existing files written by older builds
// are tightened too. Where the file system has no Unix modes, the profile's own access rules
// apply and these only create what is missing.
namespace PrivateFiles {

// Creates the folder with any missing parents and makes the folder itself 0700.
bool makeDirectory(const QString &path);
// 0600 on an existing file; nothing when it is missing.
void restrictFile(const QString &path);
// An empty 0600 file when missing, else restrictFile().
bool ensureFile(const QString &path);
// Moves a file that is not what it should be out of the way, to "<path>.corrupt-<time>" (UTC),
// keeping it for inspection. Returns the new path, or an empty string when it could not be moved.
QString quarantine(const QString &path);

} // namespace PrivateFiles
