#pragma once

#include "datalayout.h"
#include "formats/xmldata.h"
#include "statusrecord.h"
#include "throttledlog.h"

#include <QList>
#include <QString>

#include <atomic>
#include <limits>

class PlayLog;

// What the player shows, decided one pass at a time: wait until the terminal
// is authorized (re-reading status.json every 2 s), load the day playbill
// when a reload is pending, rotate through the day list's templates each for
// its len seconds, and play the insert list while today's insert window runs
// (checked about once a second, also across midnight). The list index is
// shared by both lists and continues across a switch between them. A
// template selected again with unchanged zone files is not handed over again,
// so its zones play on; a reload or a changed zone file hands it over.
//
// step() runs one pass at Clock::nowMs() and returns the clock time at which
// the next pass is due, so the owning thread sleeps until then (or until
// reload, status or quit wakes it) instead of polling. requestReload(),
// readStatus() and requestQuit() may be called from any thread; everything
// else runs on the thread that calls step().
class PlaybillScheduler
{
public:
    static constexpr qint64 NEVER = std::numeric_limits<qint64>::max();
    static constexpr int AUTHORIZED = 4;
    static constexpr qint64 STATUS_RETRY_MS = 2000;
    static constexpr qint64 INSERT_CHECK_MS = 1000;
    // A template of len 0 (or less) is selected again at this pace.
    static constexpr qint64 MIN_REPEAT_MS = 1000;

    // Receives the results, on the thread that caused them.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void statusRead(const StatusRecord &status) = 0;
        virtual void templateLoaded(const ContentXml::TP_CONTENT &content) = 0;
        // playType: 2 for the insert programme, 0 for the day programme.
        virtual void zonesLoaded(const ContentXml::TP_ZONE_CTRL &zones, int playType) = 0;
    };

    explicit PlaybillScheduler(Sink *sink, const DataLayout &layout = DataLayout());

    void setPlayLog(PlayLog *playLog) { m_playLog = playLog; }

    qint64 step();

    void requestReload();
    void requestQuit() { m_quit = true; }
    bool quitRequested() const { return m_quit; }
    // Reads the whole status.json, keeps its "status" and hands the object to
    // the sink. True when the status number changed.
    bool readStatus();

    void readDayPlay();
    void readTemplate(const ContentXml::TP_CTRL &entry);

    // State, for tests and diagnostics (scheduler thread only, except status).
    int status() const { return m_status; }
    bool hasContent() const { return m_hasContent; }
    bool insertActive() const { return m_insertActive; }
    int listIndex() const { return m_listIndex; }
    qint64 nextSwitch() const { return m_nextSwitch; }
    const ContentXml::DAY_PLAY &dayPlay() const { return m_dayPlay; }
    const ContentXml::TP_LIST &dayList() const { return m_dayList; }
    const ContentXml::TP_LIST &insertList() const { return m_insertList; }
    QString dataPath(const QString &relative) const;

private:
    qint64 playingPass(qint64 now);
    void checkInsertWindow();
    bool selectTemplate();
    // Sends the access-time update of a stored file, so the service's
    // cleanup keeps it.
    void markUsed(const QString &name);
    static QByteArray readWhole(const QString &path);
    // The path of a named file in data/<folder>, or an empty string (read as
    // a missing file) when the name is refused (SafePath::fileIn); logged.
    QString contentPath(const QString &folder, const QString &name);

    Sink *m_sink;
    PlayLog *m_playLog = nullptr;
    DataLayout m_layout;
    ThrottledLog m_refusals {QStringLiteral("WARN"), QStringLiteral("Playbill")};

    // Written by other threads (reload, status, quit).
    std::atomic<bool> m_quit {false};
    std::atomic<bool> m_reload {true};
    std::atomic<int> m_status {-1};
    std::atomic<bool> m_hasContent {false};
    std::atomic<bool> m_switchNow {false};
    std::atomic<qint64> m_nextSwitch {NEVER};

    // Scheduler thread only.
    bool m_insertActive = false;
    int m_listIndex = -1;
    qint64 m_currentLenMs = 0;
    qint64 m_lastSelect = 0;
    qint64 m_nextInsertCheck = 0;
    ContentXml::DAY_PLAY m_dayPlay;
    ContentXml::TP_LIST m_dayList;
    ContentXml::TP_LIST m_insertList;
    quint8 m_zoneKind = 0;
    QList<ContentXml::ZONE_CTRL> m_zoneCtrls;
    // What the window was handed last: the zones keep playing while the same
    // template comes again with the same zone files.
    QString m_shownTemplate;
    int m_shownPlayType = -1;
    QList<QByteArray> m_shownZoneFiles; // name and content of each zone file
    bool m_handOverDue = true; // after a playbill load
};
