#include "workthread.h"

#include "clock.h"

#include <chrono>

WorkThread::WorkThread(QObject *parent)
    : QThread(parent)
    , m_scheduler(this)
{
    CONVERTXMLDATA::registerMetaTypes();
}

WorkThread::~WorkThread()
{
    quitThread();
    if (QThread::currentThread() != this && wait())
        m_runEnded.load(std::memory_order_acquire); // everything run() did is now visible
}

void WorkThread::init(PlayLogUtil *playLog)
{
    m_scheduler.setPlayLog(playLog);
}

void WorkThread::quitThread()
{
    m_scheduler.requestQuit();
    wake();
}

void WorkThread::reloadPlay()
{
    m_scheduler.requestReload();
    wake();
}

void WorkThread::readStatus()
{
    // Only a change matters to the thread: it may now load the playbill, or
    // must go back to waiting for authorization at its next reload.
    if (m_scheduler.readStatus())
        wake();
}

void WorkThread::readDayPlay()
{
    m_scheduler.readDayPlay();
}

void WorkThread::readTemplate(const CONVERTXMLDATA::TP_CTRL &entry)
{
    m_scheduler.readTemplate(entry);
}

qint64 WorkThread::step()
{
    return m_scheduler.step();
}

void WorkThread::run()
{
    while (!m_scheduler.quitRequested()) {
        const qint64 next = m_scheduler.step();
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
    m_runEnded.store(true, std::memory_order_release);
}

void WorkThread::wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakePending = true;
    m_wakeCondition.notify_all();
}

void WorkThread::statusRead(const QJsonObject &status)
{
    emit sigCallbackStatus(status);
}

void WorkThread::templateLoaded(const CONVERTXMLDATA::TP_CONTENT &content)
{
    emit sigLoadTemplate(QVariant::fromValue(content));
}

void WorkThread::zonesLoaded(const CONVERTXMLDATA::TP_ZONE_CTRL &zones, int playType)
{
    emit sigTemplateZoneCtrl(QVariant::fromValue(zones), playType);
}
