#include "statusfile.h"
#include "datalayout.h"

#include "dailylog.h"
#include "setaside.h"
#include "wholefile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

#include <mutex>

namespace {
std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool writeOne(const QString &path, const QByteArray &bytes)
{
    // It may hold the sudo password: private before anything is written.
    return replaceFileWhole(path, bytes, FileAccess::Private);
}

bool writeWhole(const QString &path, const QJsonObject &object)
{
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (!writeOne(path, bytes))
        return false;
    // The copy is taken back when the file itself is found damaged; a copy
    // that could not be written leaves the previous one.
    writeOne(StatusFile::goodCopyPath(path), bytes);
    return true;
}
} // namespace

QString StatusFile::defaultPath()
{
    return DataLayout().statusFile();
}

bool StatusFile::exists(const QString &path)
{
    return QFile::exists(path);
}

QJsonObject StatusFile::read(const QString &path)
{
    QJsonObject object;
    parse(path, &object);
    return object;
}

bool StatusFile::parse(const QString &path, QJsonObject *object)
{
    QFile file(path);
    if (file.size() > MAX_BYTES || !file.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    if (object)
        *object = document.object();
    return true;
}

StatusFile::Recovery StatusFile::recover(const QString &path, const QDateTime &now)
{
    std::lock_guard<std::mutex> lock(writeMutex());
    if (!QFile::exists(path) || parse(path))
        return Recovery::Sound;
    const QString aside = moveAsideStamped(path, now);
    if (aside.isEmpty()) {
        DailyLog::write(QStringLiteral("ERROR"), QStringLiteral("STATUS_DAMAGED"),
            QStringLiteral(
                "%1 does not parse and cannot be moved aside; it is left as it is and not written")
                .arg(path));
        return Recovery::Sound;
    }
    QJsonObject good;
    if (parse(goodCopyPath(path), &good) && writeWhole(path, good)) {
        DailyLog::write(QStringLiteral("ERROR"), QStringLiteral("STATUS_DAMAGED"),
            QStringLiteral("%1 does not parse: moved to %2, the last good copy taken back")
                .arg(path, aside));
        return Recovery::SetAsideRestored;
    }
    DailyLog::write(QStringLiteral("ERROR"), QStringLiteral("STATUS_DAMAGED"),
        QStringLiteral("%1 does not parse and there is no good copy: moved to %2, the terminal "
                       "must be configured again")
            .arg(path, aside));
    return Recovery::SetAsideOnly;
}

bool StatusFile::update(const QString &path, const std::function<void(QJsonObject &)> &change)
{
    std::lock_guard<std::mutex> lock(writeMutex());
    // A file that does not parse is never overwritten: what it held may still
    // be read back by hand, and recover() deals with it at the next load.
    QJsonObject object;
    if (!parse(path, &object))
        return false;
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
