#include "playerwatchdog.h"

#include "commandrunner.h"
#include "globals.h"
#include "httpclient.h"

#include <QCoreApplication>
#include <QFileInfo>

QString PlayerWatchdog::playerProgram(const QString &serviceDir)
{
    const QString local = serviceDir + QStringLiteral("/lumaview");
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
    // The player next to the service's own program, wherever the service was
    // started from: a working folder can be anyone's. The player takes no
    // arguments; "&" is what it has always been given.
    CommandRunner::instance()->startDetached(
        playerProgram(QCoreApplication::applicationDirPath()), {QStringLiteral("&")});
    return true;
}
