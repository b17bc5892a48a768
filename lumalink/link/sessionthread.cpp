#include "link/sessionthread.h"

#include "settings/servicesettings.h"

SessionThread::SessionThread(ServiceSettings &settings, QObject *parent)
    : QThread(parent)
    , m_settings(settings)
    // on the creating thread, before start()
    , m_stored(TerminalStatus(QString(), settings).reloadForSession())
{ }

SessionThread::~SessionThread()
{
    stop();
}

void SessionThread::setFileRecorder(std::function<void(const QString &)> recorder)
{
    m_recordFile = std::move(recorder);
}

void SessionThread::run()
{
    const RunEnd::Scope end(m_runEnd);
    ServerSession session(m_settings, m_stored);
    session.setFileRecorder(m_recordFile);
    session.setDownloadThread(m_downloadThread);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopRequested)
            return;
        m_session = &session;
    }
    session.start();
    exec();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_session = nullptr;
}

void SessionThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = true;
        if (m_session)
            QMetaObject::invokeMethod(m_session, &ServerSession::stop, Qt::QueuedConnection);
        quit();
    }
    if (QThread::currentThread() != this && wait())
        m_runEnd.join(); // everything run() did is now visible
}

void SessionThread::restart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_session)
        QMetaObject::invokeMethod(m_session, &ServerSession::restart, Qt::QueuedConnection);
}
