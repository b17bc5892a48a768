#pragma once

#include "testenv.h"

#include <QCryptographicHash>
#include <QList>
#include <QString>
#include <QStringList>

// Content folders for the signage-server simulator, made up by a test.

// A file name the way the server names its files: the MD5 of the content.
inline QString md5Name(const QByteArray &bytes, const QString &extension)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex())
        + extension;
}

// A schedule naming one template list, which names the given files (served
// from files/ as <md5>.bin) and the missing ones (not served). All names, in order.
inline QStringList writeContent(const QString &dir, const QString &list,
    const QList<QByteArray> &files, const QStringList &missing = {})
{
    writeFile(dir + "/day-play.xml", QString(R"(<Day><TPL p="%1"/></Day>)").arg(list).toUtf8());
    QStringList names;
    for (const QByteArray &bytes : files) {
        names << md5Name(bytes, ".bin");
        writeFile(dir + "/files/" + names.last(), bytes);
    }
    names += missing;
    QString tl = "<TL>";
    for (const QString &name : qAsConst(names))
        tl += QString(R"(<T name="%1" path="data/mtl"/>)").arg(name);
    writeFile(dir + "/tpl/" + list, (tl + "</TL>").toUtf8());
    return names;
}
