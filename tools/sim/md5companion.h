#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

// The "<name>.md5" companion the HTTP server generates for a file the folder
// holds no companion of: 32 bytes of lower-case hex MD5, 16 zero bytes, the
// file size as a little-endian u64. A file's MD5 is kept until its size or
// modification time changes, so a large file is not read again for each
// request.
class Md5Companions
{
public:
    // The companion of a file with this content MD5 (hex) and size.
    static QByteArray companion(const QByteArray &md5Hex, quint64 size);
    // The companion of the file at path; empty when it cannot be read.
    QByteArray forFile(const QString &path);

private:
    struct Entry
    {
        qint64 size = -1;
        QDateTime modified;
        QByteArray md5Hex;
    };
    QHash<QString, Entry> m_entries;
};
