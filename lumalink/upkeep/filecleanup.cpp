#include "upkeep/filecleanup.h"
#include "datalayout.h"

#include "content/contentstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
bool removeEntry(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}
} // namespace

bool FileCleanup::keepDaysFor(int clearType, int &days)
{
    switch (clearType) {
    case 1:
        days = -2;
        return true;
    case 2:
        days = -6;
        return true;
    case 3:
        days = -30;
        return true;
    case 4:
        days = -90;
        return true;
    case 5:
        return false;
    default:
        days = 0;
        return true;
    }
}

QString FileCleanup::cutoffDate(const QDate &today, int days)
{
    return today.addDays(days - 1).toString(QStringLiteral("yyyy-MM-dd"));
}

QString FileCleanup::storageDir(const QString &name)
{
    if (name.endsWith(QLatin1String(".l")))
        return QLatin1String(DataLayout::TEMPLATE_LIST_FOLDER);
    if (name.endsWith(QLatin1String(".z")))
        return QLatin1String(DataLayout::ZONE_FOLDER);
    return QLatin1String(DataLayout::MEDIA_FOLDER);
}

QSet<QString> FileCleanup::referencedFiles()
{
    QSet<QString> names;
    const DataLayout layout;
    for (const QString &playbill : {layout.dayPlaybill(), layout.waitingPlaybill()}) {
        const QByteArray body = readWhole(playbill);
        if (body.isEmpty())
            continue;
        QList<QByteArray> tplIds;
        QList<QByteArray> zoneIds;
        ContentStore::getDayScheduleTpl(body, tplIds, zoneIds);
        QList<QString> files;
        for (const QByteArray &id : qAsConst(tplIds)) {
            names.insert(QString::fromLatin1(id));
            if (ContentStore::isSafeId(id))
                ContentStore::getTpFile(readWhole(layout.templateListDir() + QLatin1Char('/')
                                            + QString::fromLatin1(id)),
                    files);
        }
        for (const QByteArray &id : qAsConst(zoneIds)) {
            names.insert(QString::fromLatin1(id));
            QByteArray zone;
            if (ContentStore::readZoneXml(id, zone))
                ContentStore::getZoneMaterialFile(zone, files);
        }
        for (const QString &file : qAsConst(files))
            names.insert(file.section(QLatin1Char('/'), -1));
    }
    return names;
}

QStringList FileCleanup::referencedMedia()
{
    QStringList media;
    const QSet<QString> names = referencedFiles();
    for (const QString &name : names) {
        if (storageDir(name) == QLatin1String(DataLayout::MEDIA_FOLDER))
            media << name;
    }
    media.sort();
    return media;
}

bool FileCleanup::deleteFileByName(const QString &name)
{
    const QString base = name.section(QLatin1Char('/'), -1);
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String("..")
        || base.contains(QLatin1Char('\\')) || base.contains(QChar(0)))
        return false;
    const QString path
        = DataLayout().dataDir() + QLatin1Char('/') + storageDir(base) + QLatin1Char('/') + base;
    removeEntry(path + QStringLiteral(".md5"));
    return removeEntry(path);
}
