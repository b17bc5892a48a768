#include "safepath.h"

#include <QDir>

namespace SafePath {

bool isSafeName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && !name.contains(QChar(0));
}

bool isInsideFolder(const QString &folder, const QString &path)
{
    if (folder.isEmpty() || path.isEmpty() || folder.contains(QChar(0)) || path.contains(QChar(0)))
        return false;
    const QString base = QDir::cleanPath(QDir(folder).absolutePath());
    const QString full = QDir::cleanPath(QDir(base).absoluteFilePath(path));
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return full.size() > prefix.size() && full.startsWith(prefix);
}

QString fileIn(const QString &folder, const QString &name)
{
    if (!isSafeName(name))
        return QString();
    const QString path = folder + QLatin1Char('/') + name;
    return isInsideFolder(folder, path) ? path : QString();
}

} // namespace SafePath
