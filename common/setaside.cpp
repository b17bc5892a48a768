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
