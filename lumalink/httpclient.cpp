#include "httpclient.h"

#include "commandrunner.h"
#include "miscfunc.h"
#include "notifyclient.h"
#include "notifyprotocol.h"
#include "offthreadwork.h"
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

// Hashes a file while another program is still appending to it, so the digest
// of a large download is ready almost as soon as the transfer ends.
class GrowingFileHash
{
public:
    explicit GrowingFileHash(const QString &path)
        : m_path(path)
    { }

    void catchUp()
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        if (file.size() < m_pos) {
            // Rewritten from the start: begin again.
            m_hash.reset();
            m_pos = 0;
        }
        file.seek(m_pos);
        for (;;) {
            const QByteArray block = file.read(1 << 20);
            if (block.isEmpty())
                break;
            m_hash.addData(block);
            m_pos += block.size();
        }
    }
    QString hex() const { return QString::fromLatin1(m_hash.result().toHex()); }

private:
    QString m_path;
    QCryptographicHash m_hash {QCryptographicHash::Md5};
    qint64 m_pos = 0;
};

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

bool HttpClient::downloadFile(
    const QString &url, const std::function<bool()> &cancelled, bool *wrongDigest)
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
    if (QFile::exists(target))
        return true;
    if (QFile::exists(target + QStringLiteral(".tmp")))
        QFile::remove(target + QStringLiteral(".tmp"));

    if (!diskHasRoom(dir)) {
        MiscFunc::writeLog(QStringLiteral("WARN"), module,
            QStringLiteral("Refuse download of %1: the disk is nearly full").arg(name));
        return false;
    }

    auto runner = CommandRunner::instance();
    const auto wanted = [&cancelled] { return !cancelled || !cancelled(); };
    const QString timeout = QString::number(s_downloadTimeoutSec.load());
    const QString companion = target + QStringLiteral(".md5");
    // A companion that an earlier failure left empty (a 404), or that holds no
    // digest, is fetched again; one still unusable is not kept.
    if (!companionUsable(companion)) {
        runner->runWatched(QStringLiteral("wget"),
            {QStringLiteral("-nv"), QStringLiteral("-T"), timeout, QStringLiteral("-O"), companion,
                QStringLiteral("--no-check-certificate"), url + QStringLiteral(".md5")},
            wanted);
        if (!companionUsable(companion))
            QFile::remove(companion);
    }
    if (!wanted())
        return false;
    GrowingFileHash growing(target + QStringLiteral(".tmp"));
    bool diskFull = false;
    const CommandResult result = runner->runWatched(QStringLiteral("wget"),
        {QStringLiteral("-nv"), QStringLiteral("-t"), QStringLiteral("10"), QStringLiteral("-T"),
            timeout, QStringLiteral("-O"), target + QStringLiteral(".tmp"),
            QStringLiteral("--no-check-certificate"), url},
        [&growing, &wanted, &diskFull, &dir] {
            growing.catchUp();
            // A transfer that grows until the disk is nearly full is stopped.
            if (!diskHasRoom(dir))
                diskFull = true;
            return wanted() && !diskFull;
        });
    if (diskFull) {
        QFile::remove(target + QStringLiteral(".tmp"));
        MiscFunc::writeLog(QStringLiteral("WARN"), module,
            QStringLiteral("Download of %1 stopped: the disk is nearly full").arg(name));
        return false;
    }
    if (!wanted()) {
        // Stopped because the file is no longer wanted: not a failure of the server.
        QFile::remove(target + QStringLiteral(".tmp"));
        MiscFunc::writeLog(
            QStringLiteral("INFO"), module, QStringLiteral("Download cancelled: ") + name);
        return false;
    }
    if (!result.started || !result.finished || result.exitCode != 0) {
        MiscFunc::writeLog(
            QStringLiteral("WARN"), module, QStringLiteral("Download file failed: ") + name);
        return false;
    }
    growing.catchUp();
    // Checked before it gets its name: a file under its final name has the
    // digest that name holds. The digest taken on the way counts only when it
    // matches; otherwise the whole file is hashed again before it is refused.
    const QString partial = target + QStringLiteral(".tmp");
    QString md5 = growing.hex();
    if (!name.toLower().contains(md5))
        md5 = MiscFunc::getFileMD5(partial);
    if (!name.toLower().contains(md5)) {
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
