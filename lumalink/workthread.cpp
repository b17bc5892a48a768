#include "workthread.h"

#include "miscfunc.h"

WorkThread::WorkThread(QObject *parent)
    : QThread(parent)
    , m_settings(TerminalStatus().checkStatus()) // on the creating thread, before start()
{ }

WorkThread::~WorkThread()
{
    quitThread();
    wait();
}

void WorkThread::setFileRecorder(std::function<void(const QString &)> recorder)
{
    m_recordFile = std::move(recorder);
}

void WorkThread::run()
{
    ServerSession session(m_settings);
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

void WorkThread::quitThread()
{
    QMutexLocker lock(&m_mutex);
    m_stopRequested = true;
    if (m_session)
        QMetaObject::invokeMethod(m_session, &ServerSession::quitThread, Qt::QueuedConnection);
    quit();
}

void WorkThread::resetThread()
{
    QMutexLocker lock(&m_mutex);
    if (m_session)
        QMetaObject::invokeMethod(m_session, &ServerSession::resetThread, Qt::QueuedConnection);
}

unsigned short WorkThread::getPackageParams(const QByteArray &frame, QList<QByteArray> &params)
{
    const unsigned short count = MiscFunc::getLowerShort(frame, 12);
    params.clear();
    qint64 offset = 22;
    for (unsigned short i = 0; i < count; ++i) {
        if (offset + 4 > frame.size())
            break;
        const unsigned int size = MiscFunc::getLowerInt(frame, static_cast<int>(offset));
        const qint64 start = offset + 4;
        const qint64 available = qMax<qint64>(0, frame.size() - start);
        params.append(
            frame.mid(static_cast<int>(start), static_cast<int>(qMin<qint64>(size, available))));
        offset = start + size;
    }
    return count;
}
