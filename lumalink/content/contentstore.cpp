#include "content/contentstore.h"
#include "datalayout.h"
#include "safepath.h"
#include "serverpath.h"
#include "wholefile.h"
#include "xmlguard.h"

#include <QDomDocument>
#include <QFile>
#include <QTextCodec>

namespace ContentStore {

namespace {
// The file is replaced whole or not at all: a full disk leaves the old file
// (or none), never a truncated one that the player would read.
bool writeWhole(const QString &path, const QByteArray &bytes)
{
    return replaceFileWhole(path, bytes);
}

// Root element of a document, or a null element when the XML reader refuses
// it, it does not parse or its tag is not the expected one. Documents are
// checked when they arrive, so a refusal here is not logged again.
QDomElement rootOf(const QByteArray &body, const QString &tag, QDomDocument &doc,
    XmlGuard::Encoding encoding = XmlGuard::Encoding::Declared)
{
    if (!XmlGuard::parse(body, encoding, doc))
        return QDomElement();
    const QDomElement root = doc.documentElement();
    return root.tagName() == tag ? root : QDomElement();
}
} // namespace

bool isSafeId(const QByteArray &id)
{
    // QString::fromUtf8 of a QByteArray stops at a NUL: look at the bytes first.
    return !id.contains('\0') && SafePath::isSafeName(QString::fromUtf8(id));
}

bool writeDaySchedule(const QByteArray &body, bool tmp)
{
    const DataLayout layout;
    const QString path = tmp ? layout.waitingPlaybill() : layout.dayPlaybill();
    if (QFile::exists(path))
        QFile::remove(path);
    return writeWhole(path, body);
}

void getDayScheduleTpl(
    const QByteArray &body, QList<QByteArray> &tplIds, QList<QByteArray> &zoneIds)
{
    QDomDocument doc;
    const QDomElement root = rootOf(body, QStringLiteral("Day"), doc);
    for (QDomElement entry = root.firstChildElement(); !entry.isNull();
         entry = entry.nextSiblingElement()) {
        if (!entry.tagName().endsWith(QLatin1String("TPL")))
            continue;
        tplIds.append(entry.attribute(QStringLiteral("p")).toLatin1());
        for (QDomElement zone = entry.firstChildElement(QStringLiteral("Z")); !zone.isNull();
             zone = zone.nextSiblingElement(QStringLiteral("Z")))
            zoneIds.append(zone.attribute(QStringLiteral("p")).toLatin1());
    }
}

bool writeTpl(const QByteArray &tplId, const QByteArray &body)
{
    if (!isSafeId(tplId))
        return false;
    return writeWhole(
        DataLayout().templateListDir() + QLatin1Char('/') + QString::fromLatin1(tplId), body);
}

void getTpFile(const QByteArray &body, QList<QString> &files)
{
    QDomDocument doc;
    const QDomElement root = rootOf(body, QStringLiteral("TL"), doc);
    for (QDomElement entry = root.firstChildElement(); !entry.isNull();
         entry = entry.nextSiblingElement()) {
        if (!entry.tagName().endsWith(QLatin1Char('T')))
            continue;
        const QString path = entry.attribute(QStringLiteral("path"));
        if (path.startsWith(QLatin1String("data/")))
            files.append(ServerPath::join(path, entry.attribute(QStringLiteral("name"))));
    }
}

bool writeZone(const QByteArray &zoneId, const QByteArray &body)
{
    if (!isSafeId(zoneId))
        return false;
    return writeWhole(DataLayout().zoneDir() + QLatin1Char('/') + QString::fromLatin1(zoneId),
        zoneAsStored(body));
}

QByteArray zoneAsStored(const QByteArray &body)
{
    // The server sends zones in GBK; the player reads UTF-8. The declaration
    // inside is left as sent.
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    return gbk ? gbk->toUnicode(body).toUtf8() : body;
}

bool readZoneXml(const QByteArray &zoneId, QByteArray &content)
{
    if (!isSafeId(zoneId))
        return false;
    QFile file(DataLayout().zoneDir() + QLatin1Char('/') + QString::fromLatin1(zoneId));
    if (!file.exists())
        return false;
    if (file.open(QIODevice::ReadOnly)) {
        content = file.readAll();
        file.close();
    }
    return true;
}

void getZoneMaterialFile(const QByteArray &zoneXml, QList<QString> &files)
{
    QDomDocument doc;
    // Stored zones hold UTF-8 whatever their declaration says: parse them as text.
    const QDomElement root = rootOf(zoneXml, QStringLiteral("PL"), doc, XmlGuard::Encoding::Utf8);
    int materials = 0;
    for (QDomElement entry = root.firstChildElement();
         !entry.isNull() && materials < XmlLimits::MAX_ZONE_MATERIALS;
         entry = entry.nextSiblingElement()) {
        if (!entry.tagName().endsWith(QLatin1Char('P')))
            continue;
        ++materials;
        const QString path = entry.attribute(QStringLiteral("path"));
        if (!path.startsWith(QLatin1String("data/")))
            continue;
        const QString file
            = ServerPath::materialFile(path, entry.attribute(QStringLiteral("name")));
        if (!files.contains(file))
            files.append(file);
    }
}

} // namespace ContentStore
