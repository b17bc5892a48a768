#include "playerwatchdog.h"

#include "commandrunner.h"
#include "globals.h"
#include "httpclient.h"

#include <QDir>
#include <QFileInfo>

QString PlayerWatchdog::playerProgram(const QString &workingDir)
{
    const QString local = workingDir + QStringLiteral("/lumaview");
    if (QFileInfo(local).isFile())
        return local;
    return QString::fromLatin1(INSTALLED_PLAYER);
}

bool PlayerWatchdog::checkPlayerRunning()
{
    if (gConnIp.isEmpty())
        return false; // an unconfigured terminal does not watch the player
    const QString reply = HttpClient::notifyPlayer(QStringLiteral("STATUS"), QString());
    if (HttpClient::succeedPostResult(reply))
        return false;
    // The player takes no arguments; "&" is what it has always been given.
    CommandRunner::instance()->startDetached(
        playerProgram(QDir::currentPath()), {QStringLiteral("&")});
    return true;
}
