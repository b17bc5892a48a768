#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Storage of the content the server sends (the day schedule, template lists
// and zones) in the data folder, and the readers of the files they name.
// Plain functions: the session and the content walk own every list they fill.
namespace ContentStore {

// An id from the server becomes a file name: refuse anything that could leave
// its folder (empty, ".", "..", "/", "\", NUL).
bool isSafeId(const QByteArray &id);
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

} // namespace ContentStore
