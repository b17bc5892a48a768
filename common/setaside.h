#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Keeps what will never be used again for a look, one entry per line, up to
// maxBytes: a peer cannot fill the disk through it. False when the entry was
// not kept (the file is full or cannot be written).
bool appendSetAside(const QString &path, const QByteArray &entry, qint64 maxBytes);

// Moves a damaged file out of the way as "<path>.bad-<yyyyMMdd-HHmmss>" (and
// any companions, "<path><suffix>", beside it under the same stamp). Returns
// the new path of the file itself, empty when it could not be moved.
QString moveAsideStamped(
    const QString &path, const QDateTime &now, const QStringList &companionSuffixes = {});
