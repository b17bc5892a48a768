#include "content/mediamarks.h"

#include "clock.h"
#include "dailylog.h"
#include "md5.h"
#include "safepath.h"
#include "setaside.h"
#include "wholefile.h"

#include <QElapsedTimer>
#include <QFile>

#include <sys/stat.h>

namespace {
const QString MODULE = QStringLiteral("MEDIA_CHECK");
} // namespace

MediaMarks::MediaMarks(const QString &marksPath, const QString &mediaDir)
    : m_path(marksPath)
    , m_mediaDir(mediaDir)
{ }

bool MediaMarks::nameHoldsDigest(const QString &name, const QString &md5Hex)
{
    return md5Hex.size() == 32 && name.toLower().contains(md5Hex);
}

bool MediaMarks::statFile(const QString &path, Mark &mark)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    mark.size = info.st_size;
    mark.mtimeNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    mark.inode = info.st_ino;
    return true;
}

QByteArray MediaMarks::line(const QString &name, const Mark &mark)
{
    return QByteArray::number(mark.size) + '\t' + QByteArray::number(mark.mtimeNs) + '\t'
        + QByteArray::number(mark.inode) + '\t' + name.toUtf8() + '\n';
}

void MediaMarks::loadLocked()
{
    if (m_loaded)
        return;
    m_loaded = true;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return; // none yet: every file is hashed once
    bool damaged = file.size() > MAX_FILE_BYTES;
    const QByteArray body = damaged ? QByteArray() : file.read(MAX_FILE_BYTES);
    file.close();
    QList<QByteArray> lines = body.split('\n');
    // The last piece has no line end: empty, or a line a power cut left half
    // written, which is dropped (the file is written anew below).
    const bool tornTail = !lines.takeLast().isEmpty();
    int lineCount = 0;
    for (const QByteArray &text : qAsConst(lines)) {
        if (damaged)
            break;
        const QList<QByteArray> fields = text.split('\t');
        bool sizeOk = false, timeOk = false, inodeOk = false;
        Mark mark;
        if (fields.size() == 4 && text.size() <= MAX_LINE_BYTES) {
            mark.size = fields.at(0).toLongLong(&sizeOk);
            mark.mtimeNs = fields.at(1).toLongLong(&timeOk);
            mark.inode = fields.at(2).toULongLong(&inodeOk);
        }
        const QString name = QString::fromUtf8(fields.value(3));
        if (!sizeOk || !timeOk || !inodeOk || mark.size < 0 || !SafePath::isSafeName(name)
            || name.toUtf8() != fields.value(3)) {
            damaged = true;
            break;
        }
        m_marks.insert(name, mark);
        ++lineCount;
    }
    if (damaged) {
        // Never trusted, never written over: kept for a look, and every file
        // is hashed again.
        m_marks.clear();
        const QString aside = moveAsideStamped(m_path, Clock::now());
        DailyLog::write(QStringLiteral("ERROR"), MODULE,
            QStringLiteral("The marks of checked media files do not parse; moved to %1, every "
                           "file is checked in full")
                .arg(aside.isEmpty() ? QStringLiteral("(could not be moved)") : aside));
        if (aside.isEmpty())
            QFile::remove(m_path);
        return;
    }
    // Marks of files that are gone or changed count for nothing.
    int dropped = 0;
    for (auto it = m_marks.begin(); it != m_marks.end();) {
        Mark now;
        if (!statFile(m_mediaDir + it.key(), now) || !(now == it.value())) {
            it = m_marks.erase(it);
            ++dropped;
        } else {
            ++it;
        }
    }
    if (tornTail || dropped > 0 || lineCount > 2 * m_marks.size() + 64)
        rewriteLocked();
}

void MediaMarks::rewriteLocked()
{
    QByteArray body;
    for (auto it = m_marks.cbegin(); it != m_marks.cend(); ++it)
        body += line(it.key(), it.value());
    if (!replaceFileWhole(m_path, body))
        DailyLog::write(QStringLiteral("WARN"), MODULE,
            QStringLiteral("Could not write the marks of checked media files: ") + m_path);
}

void MediaMarks::appendLocked(const QString &name, const Mark &mark)
{
    const QByteArray text = line(name, mark);
    QFile file(m_path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)
        && file.size() + text.size() <= MAX_FILE_BYTES) {
        if (file.write(text) == text.size())
            return;
    }
    file.close();
    rewriteLocked();
}

void MediaMarks::markVerified(const QString &name)
{
    const QString path = SafePath::fileIn(m_mediaDir, name);
    Mark mark;
    if (path.isEmpty() || !statFile(path, mark))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    loadLocked();
    m_marks.insert(name, mark);
    appendLocked(name, mark);
}

MediaMarks::Check MediaMarks::check(const QString &name)
{
    const QString path = SafePath::fileIn(m_mediaDir, name);
    Mark before;
    if (path.isEmpty() || !statFile(path, before))
        return Check::Missing;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        loadLocked();
        const auto it = m_marks.constFind(name);
        if (it != m_marks.cend() && it.value() == before)
            return Check::Marked;
    }
    // Read in full without holding the marks: a large video takes a while.
    const bool matches = nameHoldsDigest(name, Md5::ofFile(path));
    Mark after;
    const bool unchanged = statFile(path, after) && after == before;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!matches) {
        m_marks.remove(name);
        return Check::Damaged;
    }
    if (unchanged) {
        m_marks.insert(name, after);
        appendLocked(name, after);
    }
    return Check::Hashed;
}

void MediaMarks::removeDamaged(const QString &name)
{
    if (QFile::remove(m_mediaDir + name))
        DailyLog::write(QStringLiteral("ERROR"), MODULE,
            QStringLiteral("%1 does not match the digest its name holds: removed, it is "
                           "fetched again")
                .arg(name));
    else
        DailyLog::write(QStringLiteral("ERROR"), MODULE,
            QStringLiteral("%1 does not match the digest its name holds and cannot be removed")
                .arg(name));
}

MediaMarks::Report MediaMarks::checkAndRemoveDamaged(const QStringList &names)
{
    QElapsedTimer timer;
    timer.start();
    Report report;
    for (const QString &name : names) {
        switch (check(name)) {
        case Check::Marked:
            ++report.marked;
            break;
        case Check::Hashed:
            ++report.hashed;
            break;
        case Check::Missing:
            break;
        case Check::Damaged:
            ++report.damaged;
            removeDamaged(name);
            break;
        }
    }
    report.elapsedMs = timer.elapsed();
    if (report.marked + report.hashed + report.damaged == 0)
        return report; // nothing here yet: a first start
    DailyLog::write(QStringLiteral("INFO"), MODULE,
        QStringLiteral("Checked %1 media files in %2 ms: %3 unchanged, %4 read in full, %5 damaged")
            .arg(report.marked + report.hashed + report.damaged)
            .arg(report.elapsedMs)
            .arg(report.marked)
            .arg(report.hashed)
            .arg(report.damaged));
    return report;
}
