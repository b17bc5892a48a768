#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QMap>
#include <QPixmap>
#include <QSize>
#include <QString>

class CommandRunner;
class QTcpSocket;

// Static helpers shared by the service and the player: logging, clock texts,
// JSON, digests, byte order, paths and machine probes.
class MiscFunc
{
public:
    // --- logging and basics ---
    // Names the daily log file ("lumalink" or "lumaview"); set once in main().
    static void setProgramName(const QString &name);
    static QString programName();
    // One line in the program's log of the day. The message is made safe for
    // one line (logSafe); the same line again within LOG_REPEAT_WINDOW_MS is
    // counted rather than written; a day's log stops at LOG_DAY_MAX_BYTES.
    static void writeLog(const QString &level, const QString &module, const QString &message);
    static QString logSafe(const QString &message);
    static constexpr int LOG_MESSAGE_MAX_CHARS = 4000;
    static constexpr qint64 LOG_REPEAT_WINDOW_MS = 60000;
    static constexpr qint64 LOG_DAY_MAX_BYTES = 32 * 1024 * 1024;
    static QString logFilePath(const QString &date);

    // Root of everything the programs keep: ~/.local/share/lumaview
    static QString dataRoot();
    static QString dataPath(const QString &relative);

    static qint64 timestamp();
    static QString getDate();
    static QString getDate(int days);
    static QString getTime();
    static QJsonObject strToJson(const QString &text);
    static QString getMacAddress();
    static void sleep(int ms);

    // --- time zones and time of day ---
    static QString getGmt();
    static int getSecFromZero();
    static int getSecFromZero(long long t);
    static int timeDiff(const QString &a, const QString &b);
    static int getOffsetSec(const QString &s);
    static QString getZoneTime(const QString &zone, const QString &format);
    static const QMap<QString, QString> &zoneMap();

    // --- digests, text and images ---
    static QString md5Hex(const QString &text);
    static QString getFileMD5(const QString &path);
    static bool isPunctuationMark(const QString &text);
    static QString getFontFamily(const QString &name);
    static const QMap<QString, QString> &fontMap();
    static QPixmap base64ToImage(const QString &data);
    static QImage compressImage(const QImage &image, QSize size, int maxBytes);

    // --- byte order (little-endian: readLe* read, leBytes writes) and paths ---
    static unsigned short readLe16(QByteArray data, int index);
    static unsigned int readLe32(QByteArray data, int index);
    static unsigned long long readLe64(QByteArray data, int index);
    static QByteArray leBytes(unsigned short value);
    static QByteArray leBytes(unsigned int value);
    static QByteArray leBytes(unsigned long long value);
    static QString concatPath(QString a, QString b);
    static QString mtlPathName(const QString &a, const QString &b);

    // --- system probes ---
    static QString getHostName();
    // The first IPv4 address of a network interface; where Qt finds none,
    // what `ip addr` (run through runner) lists.
    static QString getLocalIp(CommandRunner &runner);
    static QByteArray getLocalIpBytes(CommandRunner &runner);
    // "<total bytes>\n<used percent>" of the disk that holds the home folder.
    static QString GetDiskInfo();
    static QString diskInfoText(qint64 totalBytes, qint64 freeBytes);
    static bool getCpuUsage(
        CommandRunner &runner, double &prevTotal, double &prevBusy, double &usage);
    static double getCpuUsage(CommandRunner &runner);
    // Parses the first line of /proc/stat; exposed for tests.
    static bool parseCpuLine(const QString &line, double &total, double &busy);

    // --- local notify protocol ---
    // trimValues: the player trims cmd and param, the service keeps them as sent.
    static bool getCmdParam(
        const QString &request, QString &cmd, QString &param, bool trimValues = false);
    static QByteArray responseBytes(int code);
    static void sendResponse(QTcpSocket *socket, int code);
};
