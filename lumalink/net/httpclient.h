#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

class MediaMarks;

// Every HTTP exchange of the service apart from the server session. All calls
// block their calling thread (which must be able to run an event loop) until
// the exchange ends or a limit passes.
class HttpClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int REPLY_TIMEOUT_MS = 5000;
    // The server's replies are short JSON texts; a longer one is a failure.
    static constexpr qint64 MAX_REPLY_BYTES = 1024 * 1024;
    // A download starts only while the disk keeps a reserve free (a tenth of
    // its size, at most DISK_RESERVE_MAX_BYTES), and stops when it would take
    // the disk below it.
    static constexpr double DISK_RESERVE = 0.10;
    static constexpr qint64 DISK_RESERVE_MAX_BYTES = Q_INT64_C(1024) * 1024 * 1024;
    static qint64 diskReserve(qint64 totalBytes);
    // True while the folder's disk keeps more than its reserve free (also
    // when its size cannot be read).
    static bool diskHasRoom(const QString &dir);

    // Reply body as UTF-8 up to the first NUL, or empty when the request failed
    // or no answer came within 5 s.
    static QString post(const QString &url, const QString &contentType, const QByteArray &body);
    static QString post(const QString &url, const QJsonObject &object);
    // Multipart upload of one file. The 5 s limit counts from the last progress,
    // so a large archive that keeps moving is not cut off.
    static QString postFile(const QString &url, const QString &name, const QString &filePath);
    static bool succeedPostResult(const QString &reply);

    // Fetches url into data/mtl (with its ".md5" companion) and keeps it only
    // when its name contains the lower-case MD5 of its content; the file is
    // then marked as checked. A file already there counts only when it still
    // matches (marks tell which need reading). When cancelled() turns true
    // the transfer is stopped and false returned. wrongDigest (when given)
    // tells whether a false came from content that arrived whole but did not
    // match its name.
    static bool downloadFile(const QString &url, MediaMarks &marks,
        const std::function<bool()> &cancelled = std::function<bool()>(),
        bool *wrongDigest = nullptr);
    // The companion holds the file's digest: at least 32 hexadecimal digits.
    static bool companionUsable(const QString &path);
    // The local name a URL would get: its last segment, or empty when that is
    // no safe file name in data/mtl (SafePath::isSafeName).
    static QString localFileName(const QString &url);
    static QString mediaDir();
    // Seconds a download waits on a silent connection before it tries again.
    static void setDownloadTimeoutSec(int seconds);

    // Blocks the calling thread up to 5 s; the reply body, or empty when the
    // player did not answer.
    static QString notifyPlayer(const QString &cmd, const QString &param);
    // Sends from a background sender, in call order, without blocking the
    // caller; for notices whose answer nobody reads (STATUS, VOLUME, EXIT, RELOAD).
    static void notifyPlayerAsync(const QString &cmd, const QString &param);
    // Waits until every queued notice has been sent (tests, shutdown).
    static bool waitForNotices(int timeoutMs);
    // While a sink is set, notifyPlayerAsync hands its notices to it instead
    // of the player (fuzzing, where no other program may be reached). Set it
    // before the first notice; an empty sink sends them again.
    using NoticeSink = std::function<void(const QString &cmd, const QString &param)>;
    static void setNoticeSink(NoticeSink sink);
};
