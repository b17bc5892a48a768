#include "md5.h"

#include <QCryptographicHash>
#include <QFile>

QString Md5::ofText(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString Md5::ofFile(const QString &path)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QFile file(path);
    // An unreadable file hashes as empty input and so never matches a real digest.
    if (file.open(QIODevice::ReadOnly)) {
        hash.addData(&file);
        file.close();
    }
    return QString::fromLatin1(hash.result().toHex());
}
