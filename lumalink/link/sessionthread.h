#pragma once

#include "link/serversession.h"
#include "runend.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

// The thread of the server session. The session object is created inside
// run() and lives on this thread with its socket and timers; calls from other
// threads reach it as queued calls.
class SessionThread : public QThread
{
    Q_OBJECT
public:
    using StatusEnum = ServerSession::StatusEnum;
    using StepEnum = ServerSession::StepEnum;

    // Reads the status file into settings on the creating thread, before
    // start(). The settings outlive the thread.
    explicit SessionThread(ServiceSettings &settings, QObject *parent = nullptr);
    ~SessionThread() override;

    // Set before start(). The recorder is called on this thread with a stored
    // template list or zone id, or a downloaded file's URL.
    void setFileRecorder(std::function<void(const QString &)> recorder);
    void setDownloadThread(DownloadThread *thread) { m_downloadThread = thread; }

    // Both may be called from any thread. stop() returns, called from another
    // thread, once the thread has finished; restart() reconnects with the
    // address now in the status file.
    void stop();
    void restart();

protected:
    void run() override;

private:
    ServiceSettings &m_settings;
    RunEnd m_runEnd; // marked last by run()
    std::mutex m_mutex;
    ServerSession *m_session = nullptr;
    std::atomic<bool> m_stopRequested {false};
    std::function<void(const QString &)> m_recordFile;
    SessionSettings m_stored;
    DownloadThread *m_downloadThread = nullptr;
};
