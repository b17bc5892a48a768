#include "contentfolder.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextCodec>

namespace {

bool safeId(const QByteArray &id)
{
    return !id.isEmpty() && !id.contains('/') && !id.contains('\\') && !id.startsWith('.')
        && !id.contains('\0');
}

// Entries of a template list ("T"-ending elements) or zone ("P" elements) that
// name a file to download: their file name as kept in files/.
QStringList filesNamedIn(const QDomElement &root, const QString &suffix)
{
    QStringList names;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.tagName().endsWith(suffix))
            continue;
        const QString path = e.attribute(QStringLiteral("path"));
        if (!path.startsWith(QLatin1String("data/")))
            continue;
        // A path that carries an extension names the file itself.
        const QFileInfo info(path);
        names << (info.suffix().isEmpty() ? e.attribute(QStringLiteral("name")) : info.fileName());
    }
    return names;
}

bool parseDocument(const QByteArray &bytes, const QString &root, QDomElement &element)
{
    QDomDocument doc;
    // Text already decoded, so a declared encoding does not get in the way.
    if (!doc.setContent(QString::fromUtf8(bytes)))
        return false;
    element = doc.documentElement();
    return element.tagName() == root;
}

} // namespace

QByteArray ContentFolder::file(const QString &relative) const
{
    if (m_dir.isEmpty())
        return QByteArray();
    QFile in(m_dir + QLatin1Char('/') + relative);
    if (!in.open(QIODevice::ReadOnly))
        return QByteArray();
    return in.readAll();
}

QByteArray ContentFolder::templateList(const QByteArray &id) const
{
    return safeId(id) ? file(QStringLiteral("tpl/") + QString::fromLatin1(id)) : QByteArray();
}

QByteArray ContentFolder::zone(const QByteArray &id) const
{
    return safeId(id) ? file(QStringLiteral("zone/") + QString::fromLatin1(id)) : QByteArray();
}

QByteArray ContentFolder::daySchedule() const
{
    QByteArray body = file(QStringLiteral("day-play.xml"));
    return body.replace("@TODAY@", QDate::currentDate().toString(Qt::ISODate).toLatin1());
}

QStringList ContentFolder::namedFiles() const
{
    QStringList files;
    QDomElement day;
    if (!parseDocument(daySchedule(), QStringLiteral("Day"), day))
        return files;
    for (QDomElement e = day.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.tagName().endsWith(QLatin1String("TPL")))
            continue;
        QDomElement list;
        if (parseDocument(file(QStringLiteral("tpl/") + e.attribute(QStringLiteral("p"))),
                QStringLiteral("TL"), list))
            files << filesNamedIn(list, QStringLiteral("T"));
        for (QDomElement z = e.firstChildElement(QStringLiteral("Z")); !z.isNull();
             z = z.nextSiblingElement(QStringLiteral("Z"))) {
            QDomElement zone;
            if (parseDocument(file(QStringLiteral("zone/") + z.attribute(QStringLiteral("p"))),
                    QStringLiteral("PL"), zone))
                files << filesNamedIn(zone, QStringLiteral("P"));
        }
    }
    files.removeDuplicates();
    return files;
}

QStringList ContentFolder::check() const
{
    QStringList problems;
    if (m_dir.isEmpty())
        return {QStringLiteral("no content folder")};
    QDomElement day;
    if (!parseDocument(daySchedule(), QStringLiteral("Day"), day))
        return {QStringLiteral("day-play.xml missing, malformed or not a Day document")};

    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QSet<QString> checked;
    auto checkDocument = [&](const QString &relative, const QString &root, bool asGbk) {
        if (checked.contains(relative))
            return;
        checked.insert(relative);
        const QByteArray bytes = file(relative);
        QDomElement element;
        if (bytes.isEmpty())
            problems << relative + QStringLiteral(" missing");
        else if (!parseDocument(bytes, root, element))
            problems << relative + QStringLiteral(" malformed or not a ") + root
                    + QStringLiteral(" document");
        else if (asGbk && gbk && !gbk->canEncode(QString::fromUtf8(bytes)))
            problems << relative + QStringLiteral(" holds text GBK cannot carry");
    };
    for (QDomElement e = day.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.tagName().endsWith(QLatin1String("TPL")))
            continue;
        checkDocument(
            QStringLiteral("tpl/") + e.attribute(QStringLiteral("p")), QStringLiteral("TL"), false);
        for (QDomElement z = e.firstChildElement(QStringLiteral("Z")); !z.isNull();
             z = z.nextSiblingElement(QStringLiteral("Z")))
            checkDocument(QStringLiteral("zone/") + z.attribute(QStringLiteral("p")),
                QStringLiteral("PL"), true);
    }
    for (const QString &name : namedFiles()) {
        const QByteArray data = file(QStringLiteral("files/") + name);
        if (data.isEmpty()) {
            problems << QStringLiteral("files/") + name + QStringLiteral(" missing");
            continue;
        }
        const QString md5
            = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
        if (!name.contains(md5))
            problems << QStringLiteral("files/") + name + QStringLiteral(" has MD5 ") + md5;
    }
    return problems;
}
