#include "md5companion.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

QByteArray Md5Companions::companion(const QByteArray &md5Hex, quint64 size)
{
    QByteArray out = md5Hex.left(32).toLower();
    out.append(32 - out.size(), '\0');
    out.append(16, '\0');
    for (int i = 0; i < 8; ++i)
        out.append(char((size >> (8 * i)) & 0xFF));
    return out;
}

QByteArray Md5Companions::forFile(const QString &path)
{
    const QFileInfo info(path);
    Entry &entry = m_entries[path];
    if (entry.size != info.size() || entry.modified != info.lastModified()) {
        QFile file(path);
        QCryptographicHash hash(QCryptographicHash::Md5);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
            m_entries.remove(path);
            return QByteArray();
        }
        entry.size = info.size();
        entry.modified = info.lastModified();
        entry.md5Hex = hash.result().toHex();
    }
    return companion(entry.md5Hex, quint64(entry.size));
}
