#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// The faults the HTTP server is told to inject. Download faults go by file
// name (the last path segment: "<md5>.png", "<md5>.png.md5"; a path is cut to
// its last segment); counted ones are used up by the answers they hit. POST
// failures go by path.
class HttpFaults
{
public:
    static QString lastSegment(const QString &name);

    // times <= 0 removes the fault.
    void corrupt(const QString &name, int times);
    void fail(const QString &name, int times);
    void stall(const QString &name);
    void unstall(const QString &name);
    // The POSTs on path after the next `after` ones, `count` of them, fail;
    // count <= 0 removes the fault.
    void failPosts(const QString &path, int count, int after);
    void setDelay(int ms) { m_delayMs = qMax(0, ms); }
    int delay() const { return m_delayMs; }
    void setCorruptAll(bool on) { m_corruptAll = on; }
    void setDrip(int ms) { m_dripMs = qMax(0, ms); }
    int drip() const { return m_dripMs; }

    // An answer for name is about to go out: true when it is to fail, using
    // up one count of the fault.
    bool takeFail(const QString &name);
    // A download of name is about to go out: true when its body is to carry
    // an inverted byte, using up one count of a counted fault.
    bool takeCorrupt(const QString &name);
    bool stalls(const QString &name) const { return m_stall.contains(name); }
    QStringList stalled() const { return m_stall.values(); }
    // A POST on path is about to be answered: true when it is to fail.
    bool takePostFailure(const QString &path);

    // Ends the counted faults: corrupt, fail and the POST failures.
    void clearCounted();
    // Ends the delay, the corruption of every download and the drip.
    void clearSettings();
    // One line per fault in force, unsorted.
    QStringList lines() const;

private:
    struct PostFailures
    {
        int after = 0;
        int count = 0;
    };
    QHash<QString, int> m_corrupt;
    QHash<QString, int> m_fail;
    QSet<QString> m_stall;
    QHash<QString, PostFailures> m_postFailures;
    int m_delayMs = 0;
    bool m_corruptAll = false;
    int m_dripMs = 0;
};
