#include "formats/contentrules.h"

#include "safepath.h"

#include <QColor>
#include <QStringList>
#include <QUrl>

namespace ContentRules {

namespace {
bool isLocalFileInside(const QUrl &url, const QString &contentFolder)
{
    return url.host().isEmpty() && SafePath::isInsideFolder(contentFolder, url.toLocalFile());
}
} // namespace

bool isPageAllowed(const QUrl &url, const QString &contentFolder)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("file") && isLocalFileInside(url, contentFolder);
}

bool isPageResourceAllowed(const QUrl &url, const QString &contentFolder)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("file"))
        return isLocalFileInside(url, contentFolder);
    return scheme != QLatin1String("qrc");
}

bool isStreamAllowed(const QUrl &url)
{
    static const QStringList schemes {QStringLiteral("http"), QStringLiteral("https"),
        QStringLiteral("rtsp"), QStringLiteral("rtsps"), QStringLiteral("rtmp"),
        QStringLiteral("rtmps"), QStringLiteral("rtp"), QStringLiteral("udp"),
        QStringLiteral("mms"), QStringLiteral("mmsh")};
    return url.isValid() && schemes.contains(url.scheme().toLower());
}

QString styleColor(const QString &color)
{
    return QColor::isValidColor(color) ? color : QString();
}

} // namespace ContentRules
