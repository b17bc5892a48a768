#pragma once

#include <QByteArray>
#include <QString>

// Keeps what will never be used again for a look, one entry per line, up to
// maxBytes: a peer cannot fill the disk through it. False when the entry was
// not kept (the file is full or cannot be written).
bool appendSetAside(const QString &path, const QByteArray &entry, qint64 maxBytes);
