#pragma once

#include <QByteArray>
#include <QString>

class CommandRunner;

// What the machine tells about itself: names, addresses, disk and CPU.
class SystemProbe
{
public:
    static QString hostName();
    // The first running, non-loopback interface's MAC as 00-1A-2B-3C-4D-5E.
    static QString macAddress();
    // The first IPv4 address of a network interface; where Qt finds none,
    // what `ip addr` (run through runner) lists.
    static QString localIp(CommandRunner &runner);
    static QByteArray localIpBytes(CommandRunner &runner);
    // "<total bytes>\n<used percent>" of the disk that holds the home folder.
    static QString diskInfo();
    static QString diskInfoText(qint64 totalBytes, qint64 freeBytes);
    static bool cpuUsage(CommandRunner &runner, double &prevTotal, double &prevBusy, double &usage);
    static double cpuUsage(CommandRunner &runner);
    // Parses the first line of /proc/stat; exposed for tests.
    static bool parseCpuLine(const QString &line, double &total, double &busy);
};
