#pragma once

#include "formats/xmldata.h"
#include "loopthread.h"
#include "schedule/playbillscheduler.h"

#include <QVariant>

#include <atomic>

class PlayLog;

// The player's playbill scheduler thread. It decides which template is on
// screen and what its zones play (PlaybillScheduler) and hands copies of the
// parsed records to the main window through three queued signals.
//
// The thread sleeps until the next thing is due: the current template's end,
// the next status re-read (every 2 s while not authorized) or the next insert
// window check (once a second while today has an insert programme). A reload,
// a status change or stop() wakes it at once. With nothing to play it
// sleeps until a reload.
//
// stop(), reloadPlay() and readStatus() may be called from any thread.
class PlaybillThread : public LoopThread, private PlaybillScheduler::Sink
{
    Q_OBJECT
public:
    explicit PlaybillThread(QObject *parent = nullptr, const DataLayout &layout = DataLayout());
    ~PlaybillThread() override;

    void init(PlayLog *playLog);
    // Re-read the playbill and start again with its first template.
    void reloadPlay();
    // Re-read status.json and emit sigCallbackStatus.
    void readStatus();

    void readDayPlay();
    void readTemplate(const ContentXml::TP_CTRL &entry);

    // One scheduling pass on the calling thread; returns the clock time
    // (Clock::nowMs()) when the next pass is due. run() is a loop around it;
    // tests call it directly without starting the thread.
    qint64 step();
    PlaybillScheduler &scheduler() { return m_scheduler; }
    // Passes run by the thread so far, and the clock time its last pass
    // chose to sleep until (PlaybillScheduler::NEVER: until woken).
    int passCount() const { return m_passes.load(); }
    qint64 sleepsUntilMs() const { return m_sleepsUntil.load(); }

signals:
    void sigCallbackStatus(StatusRecord status);
    // Holds a ContentXml::TP_CONTENT.
    void sigLoadTemplate(QVariant content);
    // Holds a ContentXml::TP_ZONE_CTRL; playType 2 for the insert
    // programme, 0 for the day programme.
    void sigTemplateZoneCtrl(QVariant zones, int playType);

protected:
    void loop() override;
    void onStopRequested() override;

private:
    void statusRead(const StatusRecord &status) override;
    void templateLoaded(const ContentXml::TP_CONTENT &content) override;
    void zonesLoaded(const ContentXml::TP_ZONE_CTRL &zones, int playType) override;

    PlaybillScheduler m_scheduler;
    std::atomic<int> m_passes {0};
    std::atomic<qint64> m_sleepsUntil {0};
};
