#include "schedule/playbillthread.h"

#include "clock.h"

PlaybillThread::PlaybillThread(QObject *parent, const DataLayout &layout)
    : LoopThread(parent)
    , m_scheduler(this, layout)
{
    ContentXml::registerMetaTypes();
    qRegisterMetaType<StatusRecord>();
}

PlaybillThread::~PlaybillThread()
{
    stop();
}

void PlaybillThread::init(PlayLog *playLog)
{
    m_scheduler.setPlayLog(playLog);
}

void PlaybillThread::onStopRequested()
{
    m_scheduler.requestQuit();
}

void PlaybillThread::reloadPlay()
{
    m_scheduler.requestReload();
    wake();
}

void PlaybillThread::readStatus()
{
    // Only a change matters to the thread: it may now load the playbill, or
    // must go back to waiting for authorization at its next reload.
    if (m_scheduler.readStatus())
        wake();
}

void PlaybillThread::readDayPlay()
{
    m_scheduler.readDayPlay();
}

void PlaybillThread::readTemplate(const ContentXml::TP_CTRL &entry)
{
    m_scheduler.readTemplate(entry);
}

qint64 PlaybillThread::step()
{
    assertOnLoopThread();
    return m_scheduler.step();
}

void PlaybillThread::loop()
{
    while (!stopRequested() && !m_scheduler.quitRequested()) {
        const qint64 next = m_scheduler.step();
        m_sleepsUntil = next;
        ++m_passes;
        sleepFor(next == PlaybillScheduler::NEVER ? UNTIL_WOKEN
                                                  : qMax<qint64>(0, next - Clock::nowMs()));
    }
}

void PlaybillThread::statusRead(const StatusRecord &status)
{
    emit sigCallbackStatus(status);
}

void PlaybillThread::templateLoaded(const ContentXml::TP_CONTENT &content)
{
    emit sigLoadTemplate(QVariant::fromValue(content));
}

void PlaybillThread::zonesLoaded(const ContentXml::TP_ZONE_CTRL &zones, int playType)
{
    emit sigTemplateZoneCtrl(QVariant::fromValue(zones), playType);
}
