#include "statusfile.h"

#include "miscfunc.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

#include <mutex>

#include <sys/stat.h>

namespace {
std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool writeWhole(const QString &path, const QJsonObject &object)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    // It may hold the sudo password: private before anything is written.
    if (::fchmod(file.handle(), 0600) != 0)
        return false;
    file.write(QJsonDocument(object).toJson(QJsonDocument::Indented));
    return file.commit();
}
} // namespace

QString StatusFile::defaultPath()
{
    return MiscFunc::dataPath(QStringLiteral("data/status.json"));
}

bool StatusFile::exists(const QString &path)
{
    return QFile::exists(path);
}

QJsonObject StatusFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QJsonObject();
    QByteArray bytes = file.readAll();
    file.close();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return MiscFunc::strToJson(QString::fromUtf8(bytes));
}

bool StatusFile::update(const QString &path, const std::function<void(QJsonObject &)> &change)
{
    std::lock_guard<std::mutex> lock(writeMutex());
    if (!QFile::exists(path))
        return false;
    QJsonObject object = read(path);
    change(object);
    return writeWhole(path, object);
}

bool StatusFile::create(const QString &path, const QJsonObject &object)
{
    std::lock_guard<std::mutex> lock(writeMutex());
    return writeWhole(path, object);
}

void StatusFile::makePrivate(const QString &path)
{
    if (QFile::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

double StatusFile::numberValue(const QJsonObject &object, const QString &key, double def)
{
    const QJsonValue value = object.value(key);
    if (value.isDouble())
        return value.toDouble();
    if (value.isString()) {
        bool ok = false;
        const double number = value.toString().trimmed().toDouble(&ok);
        if (ok)
            return number;
    }
    return def;
}
