#include "setaside.h"

#include <QFile>

bool appendSetAside(const QString &path, const QByteArray &entry, qint64 maxBytes)
{
    QFile file(path);
    const QByteArray line = entry.endsWith('\n') ? entry : entry + "\r\n";
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)
        || file.size() + line.size() > maxBytes)
        return false;
    return file.write(line) == line.size() && file.flush();
}

QString moveAsideStamped(
    const QString &path, const QDateTime &now, const QStringList &companionSuffixes)
{
    const QString aside
        = path + QStringLiteral(".bad-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile::remove(aside);
    if (!QFile::rename(path, aside))
        return QString();
    for (const QString &suffix : companionSuffixes) {
        if (QFile::exists(path + suffix))
            QFile::rename(path + suffix, aside + suffix);
    }
    return aside;
}
