#pragma once

#include <QString>

#include <functional>

class MediaMarks;

// Media files fetched from the server's file server into data/mtl, each kept
// only when its name holds the MD5 of its content, and put in place so that a
// power cut leaves either no file or the right one. Blocks the calling thread,
// which must be able to run an event loop.
class MediaDownload
{
public:
    // A download starts only while the disk keeps a reserve free (a tenth of
    // its size, at most DISK_RESERVE_MAX_BYTES), and stops when it would take
    // the disk below it.
    static constexpr double DISK_RESERVE = 0.10;
    static constexpr qint64 DISK_RESERVE_MAX_BYTES = Q_INT64_C(1024) * 1024 * 1024;
    static qint64 diskReserve(qint64 totalBytes);
    // True while the folder's disk keeps more than its reserve free (also
    // when its size cannot be read).
    static bool diskHasRoom(const QString &dir);

    // Fetches url into data/mtl (with its ".md5" companion) and keeps it only
    // when its name contains the lower-case MD5 of its content; the file is
    // then marked as checked. A file already there counts only when it still
    // matches (marks tell which need reading). When cancelled() turns true
    // the transfer is stopped and false returned. wrongDigest (when given)
    // tells whether a false came from content that arrived whole but did not
    // match its name. A connection silent for timeoutSec is given up.
    static constexpr int TIMEOUT_SEC = 60;
    static bool fetch(const QString &url, MediaMarks &marks,
        const std::function<bool()> &cancelled = std::function<bool()>(),
        bool *wrongDigest = nullptr, int timeoutSec = TIMEOUT_SEC);
    // The companion holds the file's digest: at least 32 hexadecimal digits.
    static bool companionUsable(const QString &path);
    // The local name a URL would get: its last segment, or empty when that is
    // no safe file name in data/mtl (SafePath::isSafeName).
    static QString localFileName(const QString &url);
    static QString mediaDir();
};
