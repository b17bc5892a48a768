#pragma once

#include "content/downloadtracker.h"
#include "protocol/sessionenums.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class DownloadThread;

// The walk through a playbill's content: the day schedule names template lists
// and zones, which are requested in turn and stored, and the files they name
// then go to the download thread one at a time (the download tracker, owned
// here). The session sends the requests; each reply handled here returns the
// move the session makes next.
class ContentWalk : public SessionEnums
{
public:
    struct Move
    {
        int step = WAITING;
        bool contentReady = false; // nothing to fetch: the content is complete
        bool idleWait = false; // wait for the server before acting again
        bool walkDone = false; // nothing more to collect: files may complete at once
        bool retryLater = false; // not stored (disk full): ask again after the retry period
    };

    struct HandOver
    {
        int completed = 0; // files that arrived in this step
        bool switched = false; // the batch is complete: the new playbill is in place
    };

    // Records a stored template list or zone id, or a downloaded file's URL.
    void setFileRecorder(std::function<void(const QString &)> recorder);

    // Replies to 257/5, 257/6 and 257/7, whole frames. A document that the XML
    // reader refuses or that does not parse is logged and not stored: a
    // schedule ends the walk with the playbill in place, a list or zone is
    // passed over.
    Move onSchedule(const QByteArray &frame);
    Move onTemplateList(const QByteArray &frame);
    Move onZone(const QByteArray &frame);
    // The schedule changed: files fetched for the old playbill are forgotten.
    void forgetDoneFiles();

    const QList<QByteArray> &tplIds() const { return m_tplIds; }
    const QList<QByteArray> &zoneIds() const { return m_zoneIds; }

    // One hand-over with the download thread, repeated while files complete so
    // the next one follows at once. httpIp/httpPort name the file server; step
    // is the session's, which tells whether lists and zones are still to come.
    HandOver handOver(DownloadThread &thread, const QString &httpIp, int httpPort, int step);

    const DownloadTracker &tracker() const { return m_tracker; }
    DownloadTracker &tracker() { return m_tracker; }

private:
    static Move notStored(int step, const QString &what);
    static void dropUnsafeIds(QList<QByteArray> &ids, const char *kind);
    void record(const QString &name);

    std::function<void(const QString &)> m_recordFile;
    DownloadTracker m_tracker;
    QList<QByteArray> m_tplIds;
    QList<QByteArray> m_zoneIds;
};
