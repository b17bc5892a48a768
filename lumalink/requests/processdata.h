#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

// Handlers of the signage server's messages and the storage of what it sends.
// They keep no state; the session owns every list they fill.
namespace PROCESSDATA {

struct SERVER_CONFIG
{
    QString serverIp;
    qint32 serverPort = 0;
    QString ip;
    qint32 port = 0;
    QString httpIp;
    qint32 httpPort = 0;
    QString rtdaHost;
    qint32 rtdaPort = 0;
    QString logIp;
    qint32 logPort = 0;
};

// Checks a received frame and shortens it to what follows the header.
// -1 when the frame is shorter than its length word, else the parameter count.
int verifyPackage(QByteArray &frame);

// --- message handlers ---
void processConfig(const QByteArray &xml, SERVER_CONFIG &config);
// "MMddHHmmyyyy.ss" of a server time (seconds since the epoch), local time.
QString sysTimeArgument(quint64 secondsSinceEpoch);
// The earliest server time taken: midnight (UTC) of the day this program was
// built. A server (or a man in the middle) sending an earlier one would turn
// the clock back before any content this terminal can have received.
QDateTime earliestServerTime();
// Sets the system clock and then the hardware clock through sudo, with the
// process's sudo password or the one given. A time earlier than
// earliestServerTime() or past the year 9999 is refused and logged (false).
bool changeSysTime(const QByteArray &body);
bool changeSysTime(const QByteArray &body, const QString &password);
void restartPlayer();
void getEnvironmentInfo(QByteArray &out, double volume);
QByteArray environmentXml(QSize desktop, double volume, double cpuUsage);
void getScreenPrint(QByteArray &out);
QByteArray screenPrintXml(const QImage &grab);

// --- storage of schedule, template lists and zones ---
// An id from the server becomes a file name: refuse anything that could leave
// its folder (empty, ".", "..", "/", "\", NUL).
bool isSafeId(const QByteArray &id);
QString dataDir();
// The writers replace their file whole and return false when it could not be
// written completely (the old file then stays as it was). The readers take
// nothing from a document the XML reader refuses (XmlGuard), and at most
// XmlLimits::MAX_ZONE_MATERIALS materials from a zone.
bool writeDaySchedule(const QByteArray &body, bool tmp);
void getDayScheduleTpl(
    const QByteArray &body, QList<QByteArray> &tplIds, QList<QByteArray> &zoneIds);
bool writeTpl(const QByteArray &tplId, const QByteArray &body);
void getTpFile(const QByteArray &body, QList<QString> &files);
bool writeZone(const QByteArray &zoneId, const QByteArray &body);
// A zone as writeZone stores it: GBK from the server, stored as UTF-8.
QByteArray zoneAsStored(const QByteArray &body);
bool readZoneXml(const QByteArray &zoneId, QByteArray &content);
void getZoneMaterialFile(const QByteArray &zoneXml, QList<QString> &files);

} // namespace PROCESSDATA
