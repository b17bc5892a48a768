#include "systemprobe.h"

#include "commandrunner.h"
#include "eventwait.h"

#include <QDir>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStorageInfo>

QString SystemProbe::macAddress()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        return iface.hardwareAddress().replace(QLatin1Char(':'), QLatin1Char('-')).toUpper();
    }
    return QString();
}

QString SystemProbe::hostName()
{
    return QHostInfo::localHostName();
}

QString SystemProbe::localIp(CommandRunner &runner)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!iface.isValid())
            continue;
        const auto type = iface.type();
        if (type != QNetworkInterface::Ethernet && type != QNetworkInterface::Wifi
            && type != QNetworkInterface::Ieee802154 && type != QNetworkInterface::Ieee80216)
            continue;
        const auto entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            const QString text = ip.toString();
            if (text.startsWith(QLatin1Char('0')) || text == QLatin1String("127.0.0.1"))
                continue;
            return text;
        }
    }

    const CommandResult result
        = runner.run(QStringLiteral("ip"), {QStringLiteral("addr")}, {}, 10, 10);
    const QStringList lines = QString::fromLocal8Bit(result.output).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (!line.startsWith(QLatin1String("inet ")))
            continue;
        int end = line.indexOf(QLatin1Char('/'), 5);
        if (end < 0)
            end = line.indexOf(QLatin1Char(' '), 5);
        const QString address = end < 0 ? line.mid(5) : line.mid(5, end - 5);
        if (address != QLatin1String("127.0.0.1"))
            return address;
    }
    return QStringLiteral("0.0.0.0");
}

QByteArray SystemProbe::localIpBytes(CommandRunner &runner)
{
    QByteArray bytes;
    const QStringList parts = localIp(runner).split(QLatin1Char('.'));
    for (const QString &part : parts)
        bytes.append(static_cast<char>(part.toInt() & 0xFF));
    return bytes;
}

QString SystemProbe::diskInfo()
{
    QStorageInfo storage(QDir::homePath());
    storage.refresh();
    return diskInfoText(storage.bytesTotal(), storage.bytesFree());
}

QString SystemProbe::diskInfoText(qint64 totalBytes, qint64 freeBytes)
{
    const double total = static_cast<double>(totalBytes);
    const double free = static_cast<double>(freeBytes);
    const double used = total > 0 ? (1.0 - free / total) * 100.0 : 0.0;
    return QStringLiteral("%1\n%2").arg(totalBytes).arg(qRound(used));
}

bool SystemProbe::parseCpuLine(const QString &line, double &total, double &busy)
{
    QString text = line;
    text.remove(QLatin1Char('\n'));
    static const QRegularExpression blanks(QStringLiteral("( ){1,}"));
    text.replace(blanks, QStringLiteral(" "));
    const QStringList fields = text.split(QLatin1Char(' '));
    if (fields.size() < 4)
        return false;
    busy = fields.at(1).toDouble() + fields.at(2).toDouble() + fields.at(3).toDouble();
    total = 0;
    for (int i = 1; i < fields.size(); ++i)
        total += fields.at(i).toDouble();
    return true;
}

bool SystemProbe::cpuUsage(
    CommandRunner &runner, double &prevTotal, double &prevBusy, double &usage)
{
    const CommandResult result
        = runner.run(QStringLiteral("cat"), {QStringLiteral("/proc/stat")}, {}, 30000, 30000);
    const QString firstLine
        = QString::fromLocal8Bit(result.output).section(QLatin1Char('\n'), 0, 0);
    double total = 0;
    double busy = 0;
    if (!parseCpuLine(firstLine, total, busy) || total <= 0)
        return false;
    // Two samples with no ticks in between would divide by zero: report idle.
    usage = total > prevTotal ? (busy - prevBusy) / (total - prevTotal) : 0.0;
    prevTotal = total;
    prevBusy = busy;
    return true;
}

double SystemProbe::cpuUsage(CommandRunner &runner)
{
    double prevTotal = 0;
    double prevBusy = 0;
    double usage = 0;
    if (!cpuUsage(runner, prevTotal, prevBusy, usage))
        return 0.01;
    EventWait::sleep(2000);
    if (!cpuUsage(runner, prevTotal, prevBusy, usage))
        return 0.01;
    return usage;
}
