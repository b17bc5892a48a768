#pragma once

#include "content/contentwalk.h"
#include "link/authorization.h"
#include "link/passloop.h"
#include "link/passtimer.h"
#include "link/requeststeps.h"
#include "link/serveranswers.h"
#include "link/sessionstate.h"
#include "power/powerschedule.h"
#include "protocol/builddata.h"
#include "protocol/framereceiver.h"
#include "protocol/sessionenums.h"
#include "requests/serverconfig.h"
#include "requests/serverrequests.h"
#include "settings/terminalstatus.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class DownloadThread;
class LinkTransport;
struct ServiceSettings;

// The session with the signage server: connect, handshake, authorize, then
// walk configuration, time, day schedule, template lists and zones, answer the
// server's requests and keep the link alive.
//
// This class is the connection and its pass loop: a chain of timed passes on
// the owning thread's event loop (PassTimer), every time read from Clock so
// tests can move it. Each pass sends what waits, keeps the link alive with a
// heartbeat, or acts on the status: connect, handshake, then the requests of
// RequestSteps. It cuts received bytes into frames and hands them on: replies
// to its requests go to RequestSteps (the content walk, ContentWalk, handles
// schedule, lists and zones and the download hand-over); the server's
// requests and notices go to ServerRequests, their answers out through
// ServerAnswers; the power schedule (PowerSchedule) is checked from a
// one-second poll timer. Bytes travel through a LinkTransport, a TCP socket
// unless a test sets another.
class ServerSession : public QObject, public SessionEnums
{
    Q_OBJECT
public:
    // Retry periods and waits of the loop, in milliseconds.
    static constexpr qint64 CONNECT_RETRY_MS = PassLoop::CONNECT_RETRY_MS;
    static constexpr qint64 CONNECT_WAIT_MS = PassLoop::CONNECT_WAIT_MS;
    static constexpr qint64 HANDSHAKE_RETRY_MS = PassLoop::HANDSHAKE_RETRY_MS;
    static constexpr qint64 AUTH_RETRY_MS = RequestSteps::AUTH_RETRY_MS;
    static constexpr qint64 UNAUTHORIZED_RETRY_MS = RequestSteps::UNAUTHORIZED_RETRY_MS;
    static constexpr qint64 REQUEST_RETRY_MS = RequestSteps::REQUEST_RETRY_MS;
    static constexpr qint64 SCHEDULE_RETRY_MS = RequestSteps::SCHEDULE_RETRY_MS;
    static constexpr qint64 IDLE_WAIT_MS = SessionState::IDLE_WAIT_MS;
    static constexpr qint64 HEARTBEAT_AFTER_MS = PassLoop::HEARTBEAT_AFTER_MS;
    static constexpr qint64 SYNC_PERIOD_MS = RequestSteps::SYNC_PERIOD_MS;
    static constexpr qint64 PASS_SLEEP_MS = PassTimer::PASS_SLEEP_MS;
    static constexpr qint64 DOWNLOAD_POLL_MS = 1000;
    static constexpr qint64 POLL_MS = 1000;

    // Reads its stored values from the status file at statusPath (the
    // default one when empty) into settings.
    explicit ServerSession(ServiceSettings &settings, const QString &statusPath = QString(),
        QObject *parent = nullptr);
    // With values already read from the status file (by the thread's creator,
    // so the shared settings are loaded before anything else can change them).
    ServerSession(ServiceSettings &settings, const SessionSettings &stored,
        const QString &statusPath = QString(), QObject *parent = nullptr);
    ~ServerSession() override;

    // Replaces the TCP socket (tests); set before start(). Not owned.
    void setTransport(LinkTransport *transport);
    // Creates the transport if none was set and starts the loop on the calling thread.
    void start();
    void stop();
    void restart();
    // Runs the next pass at once instead of at its time (tests).
    void runPassNow();

    // Records a stored template list or zone id, or a downloaded file's URL
    // (the statistics file table).
    void setFileRecorder(std::function<void(const QString &)> recorder);
    // The thread that fetches the files; set before start().
    void setDownloadThread(DownloadThread *thread);

    int status() const { return m_state.status; }
    int step() const { return m_state.step; }
    bool contentReady() const { return m_state.contentReady; }
    bool isConnected() const { return m_state.connected; }
    bool receiving() const { return m_receiver.holding(); }
    double volume() const { return m_requests.volume(); }
    int clearType() const { return m_requests.clearType(); }
    qint64 lastSyncMs() const { return m_state.lastSyncMs; }
    qint64 nextActionMs() const { return m_state.nextActionMs; }
    qint64 pendingWaitMs() const { return m_state.pendingWaitMs; }
    // Clock time at which the next pass is due.
    qint64 nextPassAtMs() const { return m_passes.wakeAtMs(); }
    const ServerConfig &serverConfig() const { return m_state.serverConfig; }
    const QList<QByteArray> &tplIds() const { return m_walk.tplIds(); }
    const QList<QByteArray> &zoneIds() const { return m_walk.zoneIds(); }
    const QList<QString> &downloadFiles() const { return m_walk.tracker().downloadFiles; }
    const QList<QString> &doneFiles() const { return m_walk.tracker().doneFiles; }
    QString currentDownload() const { return m_walk.tracker().currentDownload; }
    const QList<QByteArray> &sendQueue() const { return m_answers.queue().frames(); }
    // Requests whose answer is still being worked out off this thread.
    int answersInWork() const { return m_answers.inWork(); }
    const PowerSchedule &powerSchedule() const { return m_power; }

public slots:
    void slot_readData();
    void slot_connected();
    void slot_disconnected();
    void slot_error(QAbstractSocket::SocketError error);
    // Every second: the power schedule check when it is due.
    void slot_handleTimeout();
    // The download hand-over: every second, and at once when a file arrives.
    void slot_handleDownloadTimeout();

signals:
    // After every received chunk, connection event and loop pass (tests, status).
    void sigStateChanged();

private:
    using WaitKind = PassTimer::WaitKind;

    // Both public constructors: the members, before the stored values.
    ServerSession(QObject *parent, ServiceSettings &settings, const QString &statusPath);
    qint64 now() const;
    void onPassDue();

    void handleFrame(const QByteArray &frame);
    void restartContentWalk();
    void loadSettings();
    void applySettings(const SessionSettings &stored);
    void setUpTimers();

    ServiceSettings &m_settings;
    TerminalStatus m_statusFile;
    Authorization m_auth;
    ContentWalk m_walk;
    PowerSchedule m_power;
    FrameSequence m_sequence; // this link's frame numbers
    ServerRequests m_requests;
    SessionState m_state;
    RequestSteps m_steps;

    LinkTransport *m_transport = nullptr;
    PassTimer m_passes;
    FrameReceiver m_receiver;
    QTimer m_pollTimer;
    QTimer m_downloadTimer;
    DownloadThread *m_downloadThread = nullptr;
    bool m_handling = false;
    bool m_stopRequested = false;

    ServerAnswers m_answers;
    PassLoop m_loop;
};
