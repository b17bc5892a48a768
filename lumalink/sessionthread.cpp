#include "sessionthread.h"

#include "globals.h"

SessionThread::SessionThread(QObject *parent)
    : QThread(parent)
    , m_stored(TerminalStatus().checkStatus()) // on the creating thread, before start()
{ }

SessionThread::~SessionThread()
{
    quitThread();
    wait();
}

void SessionThread::setFileRecorder(std::function<void(const QString &)> recorder)
{
    m_recordFile = std::move(recorder);
}

void SessionThread::run()
{
    ServerSession session(ServiceSettings::process(), m_stored);
    session.setFileRecorder(m_recordFile);
    session.setDownloadThread(m_downloadThread);
    {
        QMutexLocker lock(&m_mutex);
        if (m_stopRequested)
            return;
        m_session = &session;
    }
    session.start();
    exec();
    QMutexLocker lock(&m_mutex);
    m_session = nullptr;
}

void SessionThread::quitThread()
{
    QMutexLocker lock(&m_mutex);
    m_stopRequested = true;
    if (m_session)
        QMetaObject::invokeMethod(m_session, &ServerSession::quitThread, Qt::QueuedConnection);
    quit();
}

void SessionThread::resetThread()
{
    QMutexLocker lock(&m_mutex);
    if (m_session)
        QMetaObject::invokeMethod(m_session, &ServerSession::resetThread, Qt::QueuedConnection);
}
