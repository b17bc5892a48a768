#include "net/httpclient.h"

#include "content/httpfetch.h"
#include "content/mediamarks.h"
#include "miscfunc.h"
#include "net/offthreadwork.h"
#include "notifyclient.h"
#include "notifyprotocol.h"
#include "safepath.h"
#include "version.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QStorageInfo>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {
std::atomic<int> s_downloadTimeoutSec {60};

SerialPool &noticePool()
{
    // One thread keeps the notices in order.
    static SerialPool *pool = new SerialPool;
    return *pool;
}

HttpClient::NoticeSink &noticeSink()
{
    static HttpClient::NoticeSink sink;
    return sink;
}

// Notices not yet sent to the player. A notice of a command already waiting
// takes the waiting one's place with its newer parameter (the player acts on
// the latest volume or status, and one reload or exit does), so a flood of
// requests from the server leaves at most one notice per command.
struct PendingNotices
{
    static constexpr int MAX = 16;
    std::mutex mutex;
    QList<QPair<QString, QString>> waiting;
    bool draining = false;
};

PendingNotices &pendingNotices()
{
    static PendingNotices *pending = new PendingNotices;
    return *pending;
}

void drainNotices()
{
    PendingNotices &pending = pendingNotices();
    for (;;) {
        QPair<QString, QString> notice;
        {
            std::lock_guard<std::mutex> lock(pending.mutex);
            if (pending.waiting.isEmpty()) {
                pending.draining = false;
                return;
            }
            notice = pending.waiting.takeFirst();
        }
        NotifyClient::notify(PLAYER_PORT, notice.first, notice.second);
    }
}

// fsync of a file or a folder (opened read-only, which fsync allows).
bool syncToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

QString replyText(QNetworkReply *reply)
{
    QByteArray bytes = reply->readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}

// Waits for the reply. With idleLimit the limit restarts on every bit of
// upload or download progress; otherwise it bounds the whole exchange.
QString waitForReply(QNetworkReply *reply, bool idleLimit)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A reply that keeps coming past any answer the server gives is cut off.
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
        if (received > HttpClient::MAX_REPLY_BYTES)
            reply->abort();
    });
    if (idleLimit) {
        auto restart = [&timer] { timer.start(HttpClient::REPLY_TIMEOUT_MS); };
        QObject::connect(reply, &QNetworkReply::uploadProgress, &timer, restart);
        QObject::connect(reply, &QNetworkReply::downloadProgress, &timer, restart);
    }
    timer.start(HttpClient::REPLY_TIMEOUT_MS);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    timer.stop();
    // A reply cut off by the limit is a failure, not the part that arrived.
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
        return QString();
    return replyText(reply);
}
} // namespace

QString HttpClient::post(const QString &url, const QString &contentType, const QByteArray &body)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
        contentType.isEmpty() ? QStringLiteral("application/x-www-form-urlencoded") : contentType);
    QNetworkReply *reply = manager.post(request, body);
    return waitForReply(reply, false);
}

QString HttpClient::post(const QString &url, const QJsonObject &object)
{
    return post(url, QStringLiteral("application/json"),
        QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString HttpClient::postFile(const QString &url, const QString &name, const QString &filePath)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    const QString fileName = filePath.mid(filePath.lastIndexOf(QLatin1Char('/')) + 1);

    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("multipart/form-data"));
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
        QStringLiteral("form-data; name=\"%1\";filename=\"%2\";").arg(name, fileName));
    auto *file = new QFile(filePath, multiPart);
    file->open(QIODevice::ReadOnly); // an unreadable file still sends an empty part
    part.setBodyDevice(file);
    multiPart->append(part);

    QNetworkReply *reply = manager.post(request, multiPart);
    multiPart->setParent(reply);
    return waitForReply(reply, true);
}

bool HttpClient::succeedPostResult(const QString &reply)
{
    return NotifyProtocol::isAccepted(reply);
}

QString HttpClient::mediaDir()
{
    return MiscFunc::dataPath(QStringLiteral("data/mtl/"));
}

QString HttpClient::localFileName(const QString &url)
{
    const QString name = url.split(QLatin1Char('/')).last();
    return SafePath::isSafeName(name) ? name : QString();
}

void HttpClient::setDownloadTimeoutSec(int seconds)
{
    s_downloadTimeoutSec = seconds;
}

bool HttpClient::diskHasRoom(const QString &dir)
{
    const QStorageInfo disk(dir);
    if (!disk.isValid() || disk.bytesTotal() <= 0)
        return true;
    return disk.bytesAvailable() > diskReserve(disk.bytesTotal());
}

qint64 HttpClient::diskReserve(qint64 totalBytes)
{
    return qMin(qint64(double(totalBytes) * DISK_RESERVE), DISK_RESERVE_MAX_BYTES);
}

bool HttpClient::companionUsable(const QString &path)
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
    if (HttpClient::companionUsable(companion))
        return;
    HttpFetch::Options options;
    options.tries = 1;
    options.idleTimeoutSec = timeoutSec;
    options.keepGoing = wanted;
    HttpFetch::toFile(url + QStringLiteral(".md5"), companion, options, nullptr);
    // A companion that holds no digest (an error page, a 404) is not kept.
    if (!HttpClient::companionUsable(companion))
        QFile::remove(companion);
}
} // namespace

bool HttpClient::downloadFile(const QString &url, MediaMarks &marks,
    const std::function<bool()> &cancelled, bool *wrongDigest)
{
    if (wrongDigest)
        *wrongDigest = false;
    const QString name = localFileName(url);
    const QString module = QStringLiteral("DownloadFile");
    if (name.isEmpty()) {
        MiscFunc::writeLog(QStringLiteral("WARN"), module,
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
        MiscFunc::writeLog(QStringLiteral("WARN"), module,
            QStringLiteral("Refuse download of %1: the disk is nearly full").arg(name));
        return false;
    }

    const auto wanted = [&cancelled] { return !cancelled || !cancelled(); };
    const int timeoutSec = s_downloadTimeoutSec.load();
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
        MiscFunc::writeLog(QStringLiteral("WARN"), module,
            QStringLiteral("Download of %1 stopped: the disk is nearly full").arg(name));
        return false;
    }
    if (!wanted()) {
        // Stopped because the file is no longer wanted: not a failure of the server.
        QFile::remove(partial);
        MiscFunc::writeLog(
            QStringLiteral("INFO"), module, QStringLiteral("Download cancelled: ") + name);
        return false;
    }
    if (result != HttpFetch::Result::Done) {
        MiscFunc::writeLog(
            QStringLiteral("WARN"), module, QStringLiteral("Download file failed: ") + name);
        return false;
    }
    // Checked before it gets its name: a file under its final name has the
    // digest that name holds.
    if (!MediaMarks::nameHoldsDigest(name, md5)) {
        QFile::remove(partial);
        MiscFunc::writeLog(QStringLiteral("INFO"), module,
            QStringLiteral("Downloaded file: ") + name + QStringLiteral(" with wrong md5: ") + md5);
        if (wrongDigest)
            *wrongDigest = true;
        return false;
    }
    // On the disk before the rename, and the rename on the disk before the
    // file counts as there: a power cut leaves either no file or the right one.
    if (!syncToDisk(partial) || !QFile::rename(partial, target) || !syncToDisk(dir)) {
        QFile::remove(partial);
        MiscFunc::writeLog(
            QStringLiteral("WARN"), module, QStringLiteral("Download rename file failed: ") + name);
        return false;
    }
    marks.markVerified(name);
    MiscFunc::writeLog(QStringLiteral("INFO"), module, QStringLiteral("Downloaded file: ") + name);
    return true;
}

QString HttpClient::notifyPlayer(const QString &cmd, const QString &param)
{
    return NotifyClient::notify(PLAYER_PORT, cmd, param);
}

void HttpClient::notifyPlayerAsync(const QString &cmd, const QString &param)
{
    if (const NoticeSink &sink = noticeSink()) {
        sink(cmd, param);
        return;
    }
    PendingNotices &pending = pendingNotices();
    std::lock_guard<std::mutex> lock(pending.mutex);
    auto same = std::find_if(pending.waiting.begin(), pending.waiting.end(),
        [&cmd](const QPair<QString, QString> &notice) { return notice.first == cmd; });
    if (same != pending.waiting.end()) {
        same->second = param;
    } else if (pending.waiting.size() >= PendingNotices::MAX) {
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("HTTP"),
            QStringLiteral("Drop notice %1 to the player: %2 notices wait")
                .arg(cmd)
                .arg(pending.waiting.size()));
        return;
    } else {
        pending.waiting.append(qMakePair(cmd, param));
    }
    if (!pending.draining) {
        pending.draining = true;
        noticePool().start(drainNotices);
    }
}

bool HttpClient::waitForNotices(int timeoutMs)
{
    return noticePool().waitForDone(timeoutMs);
}

void HttpClient::setNoticeSink(NoticeSink sink)
{
    noticeSink() = std::move(sink);
}
