#include "upkeep/playerwatchdog.h"

#include "commandrunner.h"
#include "dailylog.h"
#include "net/httpclient.h"
#include "net/playernotices.h"
#include "settings/servicesettings.h"
#include "version.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>

#include <csignal>

namespace {
// The start time field of /proc/<pid>/stat (after the name in parentheses,
// which may hold anything); empty when the process is gone.
QByteArray processStartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray text = stat.read(4096);
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return QByteArray();
    // Fields after the name start at the state (field 3); start time is 22.
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.value(22 - 3);
}

bool portHeld(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}
} // namespace

QString PlayerWatchdog::playerProgram(const QString &serviceDir)
{
    const QString local = serviceDir + QStringLiteral("/lumaview");
    if (QFileInfo(local).isFile())
        return local;
    return QString::fromLatin1(INSTALLED_PLAYER);
}

bool PlayerWatchdog::checkPlayerRunning()
{
    if (m_settings.connIp.isEmpty())
        return false; // an unconfigured terminal does not watch the player
    const QString reply = PlayerNotices::ask(QStringLiteral("STATUS"), QString());
    if (HttpClient::succeedPostResult(reply))
        return false;
    // Holding the port without an answer: frozen. Only the one this watchdog
    // started is ended; a new copy would leave at once and this one would
    // stay on screen for good.
    if (m_pid > 0 && !m_startTime.isEmpty() && processStartTime(m_pid) == m_startTime
        && portHeld(PLAYER_PORT)) {
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("WATCHDOG"),
            QStringLiteral("The player (pid %1) holds its port but does not answer: ended")
                .arg(m_pid));
        ::kill(pid_t(m_pid), SIGKILL);
    }
    // The player next to the service's own program, wherever the service was
    // started from: a working folder can be anyone's. The player takes no
    // arguments; "&" is what it has always been given.
    qint64 pid = 0;
    const bool started = m_settings.runner->startDetached(
        playerProgram(QCoreApplication::applicationDirPath()), {QStringLiteral("&")}, &pid);
    m_pid = started ? pid : 0;
    m_startTime = started ? processStartTime(pid) : QByteArray();
    return true;
}
