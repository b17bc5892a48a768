#include "content/mediadownload.h"
#include "datalayout.h"

#include "content/httpfetch.h"
#include "content/mediamarks.h"
#include "dailylog.h"
#include "safepath.h"
#include "wholefile.h"

#include <QFile>
#include <QStorageInfo>

#include <algorithm>
#include <cctype>

QString MediaDownload::mediaDir()
{
    return DataLayout().mediaDir() + QLatin1Char('/');
}

QString MediaDownload::localFileName(const QString &url)
{
    const QString name = url.split(QLatin1Char('/')).last();
    return SafePath::isSafeName(name) ? name : QString();
}

bool MediaDownload::diskHasRoom(const QString &dir)
{
    const QStorageInfo disk(dir);
    if (!disk.isValid() || disk.bytesTotal() <= 0)
        return true;
    return disk.bytesAvailable() > diskReserve(disk.bytesTotal());
}

qint64 MediaDownload::diskReserve(qint64 totalBytes)
{
    return qMin(qint64(double(totalBytes) * DISK_RESERVE), DISK_RESERVE_MAX_BYTES);
}

bool MediaDownload::companionUsable(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray digest = file.read(32);
    if (digest.size() < 32)
        return false;
    return std::all_of(digest.cbegin(), digest.cend(),
        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

namespace {
// The companion is fetched once, in a single try: it only feeds the progress
// report.
void fetchCompanion(const QString &url, const QString &companion,
    const std::function<bool()> &wanted, int timeoutSec)
{
    if (MediaDownload::companionUsable(companion))
        return;
    HttpFetch::Options options;
    options.tries = 1;
    options.idleTimeoutSec = timeoutSec;
    options.keepGoing = wanted;
    HttpFetch::toFile(url + QStringLiteral(".md5"), companion, options, nullptr);
    // A companion that holds no digest (an error page, a 404) is not kept.
    if (!MediaDownload::companionUsable(companion))
        QFile::remove(companion);
}
} // namespace

bool MediaDownload::fetch(const QString &url, MediaMarks &marks,
    const std::function<bool()> &cancelled, bool *wrongDigest, int timeoutSec)
{
    if (wrongDigest)
        *wrongDigest = false;
    const QString name = localFileName(url);
    const QString module = QStringLiteral("DownloadFile");
    if (name.isEmpty()) {
        DailyLog::write(QStringLiteral("WARN"), module,
            QStringLiteral("Refuse download without a plain file name: ") + url);
        return false;
    }
    const QString dir = mediaDir();
    const QString target = dir + name;
    const QString partial = target + QStringLiteral(".tmp");
    // A file already here is used only when it still matches its name: read
    // in full when it carries no mark or changed since, else fetched anew.
    switch (marks.check(name)) {
    case MediaMarks::Check::Marked:
    case MediaMarks::Check::Hashed:
        return true;
    case MediaMarks::Check::Damaged:
        marks.removeDamaged(name);
        break;
    case MediaMarks::Check::Missing:
        break;
    }
    if (QFile::exists(partial))
        QFile::remove(partial);

    if (!diskHasRoom(dir)) {
        DailyLog::write(QStringLiteral("WARN"), module,
            QStringLiteral("Refuse download of %1: the disk is nearly full").arg(name));
        return false;
    }

    const auto wanted = [&cancelled] { return !cancelled || !cancelled(); };
    fetchCompanion(url, target + QStringLiteral(".md5"), wanted, timeoutSec);
    if (!wanted())
        return false;
    bool diskFull = false;
    HttpFetch::Options options;
    options.idleTimeoutSec = timeoutSec;
    options.keepGoing = [&wanted, &diskFull, &dir] {
        // A transfer that grows until the disk is nearly full is stopped.
        if (!diskHasRoom(dir))
            diskFull = true;
        return wanted() && !diskFull;
    };
    QString md5;
    const HttpFetch::Result result = HttpFetch::toFile(url, partial, options, &md5);
    if (diskFull) {
        QFile::remove(partial);
        DailyLog::write(QStringLiteral("WARN"), module,
            QStringLiteral("Download of %1 stopped: the disk is nearly full").arg(name));
        return false;
    }
    if (!wanted()) {
        // Stopped because the file is no longer wanted: not a failure of the server.
        QFile::remove(partial);
        DailyLog::write(
            QStringLiteral("INFO"), module, QStringLiteral("Download cancelled: ") + name);
        return false;
    }
    if (result != HttpFetch::Result::Done) {
        DailyLog::write(
            QStringLiteral("WARN"), module, QStringLiteral("Download file failed: ") + name);
        return false;
    }
    // Checked before it gets its name: a file under its final name has the
    // digest that name holds.
    if (!MediaMarks::nameHoldsDigest(name, md5)) {
        QFile::remove(partial);
        DailyLog::write(QStringLiteral("INFO"), module,
            QStringLiteral("Downloaded file: ") + name + QStringLiteral(" with wrong md5: ") + md5);
        if (wrongDigest)
            *wrongDigest = true;
        return false;
    }
    // On the disk before the rename, and the rename on the disk before the
    // file counts as there: a power cut leaves either no file or the right one.
    if (!syncToDisk(partial) || !QFile::rename(partial, target) || !syncToDisk(dir)) {
        QFile::remove(partial);
        DailyLog::write(
            QStringLiteral("WARN"), module, QStringLiteral("Download rename file failed: ") + name);
        return false;
    }
    marks.markVerified(name);
    DailyLog::write(QStringLiteral("INFO"), module, QStringLiteral("Downloaded file: ") + name);
    return true;
}
