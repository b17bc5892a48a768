#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <mutex>

// Remembers the media files whose content was found to match the digest their
// name holds, by size, modification time and inode. A file that still has its
// mark is trusted without reading it again; one without a mark, or changed
// since, is hashed in full. The marks are kept one line per file, appended as
// files are checked: a mark lost to a power cut only costs one more hash.
// Thread-safe.
class MediaMarks
{
public:
    // Bounds of the marks file; past MAX_FILE_BYTES it is written anew with
    // the marks that still count.
    static constexpr qint64 MAX_FILE_BYTES = 16 * 1024 * 1024;
    static constexpr int MAX_LINE_BYTES = 1024;

    MediaMarks(const QString &marksPath, const QString &mediaDir);

    enum class Check {
        Marked, // unchanged since its last check
        Hashed, // read in full: it matches its name (now marked)
        Missing, // no such file
        Damaged, // its content does not match its name
    };
    // Checks one file of the media folder (name is its plain file name).
    Check check(const QString &name);
    // A file that was just verified (a finished download) is marked.
    void markVerified(const QString &name);

    struct Report
    {
        int marked = 0;
        int hashed = 0;
        int damaged = 0;
        qint64 elapsedMs = 0;
    };
    // Checks the files named (others of the folder are left alone) and
    // removes those that do not match their name, so they are fetched again
    // and never shown. Names that are no plain file name are passed over.
    Report checkAndRemoveDamaged(const QStringList &names);
    // Removes a file check() found damaged, and says so in the log.
    void removeDamaged(const QString &name);

    // The server's naming rule: a media file's name holds the lower-case
    // hexadecimal digest of its content.
    static bool nameHoldsDigest(const QString &name, const QString &md5Hex);

private:
    struct Mark
    {
        qint64 size = -1;
        qint64 mtimeNs = 0;
        quint64 inode = 0;
        bool operator==(const Mark &other) const
        {
            return size == other.size && mtimeNs == other.mtimeNs && inode == other.inode;
        }
    };
    static bool statFile(const QString &path, Mark &mark);
    static QByteArray line(const QString &name, const Mark &mark);
    void loadLocked();
    void appendLocked(const QString &name, const Mark &mark);
    void rewriteLocked();

    std::mutex m_mutex;
    QString m_path;
    QString m_mediaDir;
    bool m_loaded = false;
    QHash<QString, Mark> m_marks;
};
