#include "schedule/playbillthread.h"

#include "clock.h"

#include <chrono>

PlaybillThread::PlaybillThread(QObject *parent)
    : QThread(parent)
    , m_scheduler(this)
{
    ContentXml::registerMetaTypes();
}

PlaybillThread::~PlaybillThread()
{
    quitThread();
    if (QThread::currentThread() != this && wait())
        m_runEnd.join(); // everything run() did is now visible
}

void PlaybillThread::init(PlayLog *playLog)
{
    m_scheduler.setPlayLog(playLog);
}

void PlaybillThread::quitThread()
{
    m_scheduler.requestQuit();
    wake();
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
    return m_scheduler.step();
}

void PlaybillThread::run()
{
    const RunEnd::Scope end(m_runEnd);
    while (!m_scheduler.quitRequested()) {
        const qint64 next = m_scheduler.step();
        m_sleepsUntil = next;
        ++m_passes;
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto woken = [this] { return m_wakePending || m_scheduler.quitRequested(); };
        if (next == PlaybillScheduler::NEVER) {
            m_wakeCondition.wait(lock, woken);
        } else {
            const qint64 ms = qMax<qint64>(0, next - Clock::nowMs());
            m_wakeCondition.wait_for(lock, std::chrono::milliseconds(ms), woken);
        }
        m_wakePending = false;
    }
}

void PlaybillThread::wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakePending = true;
    m_wakeCondition.notify_all();
}

void PlaybillThread::statusRead(const QJsonObject &status)
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
