#pragma once

#include <QString>

// Names a peer sends that become paths on this machine. Such a name is only
// ever one file name in a folder the program chooses, never a path of its own.
namespace SafePath {

// Not empty, not "." or "..", and without "/", "\" or NUL.
bool isSafeName(const QString &name);

// True when path (relative paths count from folder), cleaned of "." and ".."
// without following symbolic links, lies below folder.
bool isInsideFolder(const QString &folder, const QString &path);

// folder + "/" + name when name is safe and that lies below folder; else an
// empty string.
QString fileIn(const QString &folder, const QString &name);

} // namespace SafePath
