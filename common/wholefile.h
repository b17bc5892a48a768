#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with bytes, whole or not at all: the new content
// is written beside it, flushed and synced, and only then takes its name. A
// full disk or any write error leaves the old file as it was and gives false.
// A private file is readable by its owner only (it may hold a password).
enum class FileAccess { Shared, Private };
bool replaceFileWhole(
    const QString &path, const QByteArray &bytes, FileAccess access = FileAccess::Shared);

// fsync of a file or a folder (a folder makes a rename in it durable). False
// when it cannot be opened or synced.
bool syncToDisk(const QString &path);
