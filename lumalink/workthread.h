#pragma once

#include "serversession.h"

#include <QMutex>
#include <QThread>

#include <atomic>
#include <functional>

// The thread of the server session. The session object is created inside
// run() and lives on this thread with its socket and timers; calls from other
// threads reach it as queued calls.
class WorkThread : public QThread
{
    Q_OBJECT
public:
    using StatusEnum = ServerSession::StatusEnum;
    using StepEnum = ServerSession::StepEnum;

    explicit WorkThread(QObject *parent = nullptr);
    ~WorkThread() override;

    // Set before start().
    void setFileRecorder(std::function<void(const QString &)> recorder);
    void setDownloadThread(DownloadThread *thread) { m_downloadThread = thread; }

    // Both may be called from any thread.
    void quitThread();
    void resetThread();

    // Parameter data blocks of a frame; never reads past its end.
    static unsigned short getPackageParams(const QByteArray &frame, QList<QByteArray> &params);

protected:
    void run() override;

private:
    QMutex m_mutex;
    ServerSession *m_session = nullptr;
    std::atomic<bool> m_stopRequested {false};
    std::function<void(const QString &)> m_recordFile;
    SessionSettings m_settings;
    DownloadThread *m_downloadThread = nullptr;
};
