#pragma once

#include "content/contentwalk.h"
#include "link/authorization.h"
#include "link/sendqueue.h"
#include "net/offthreadwork.h"
#include "power/powerschedule.h"
#include "protocol/framereceiver.h"
#include "protocol/sessionenums.h"
#include "requests/serverconfig.h"
#include "requests/serverrequests.h"
#include "settings/terminalstatus.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHash>
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
// the owning thread's event loop, every time read from Clock so tests can move
// it. It cuts received bytes into frames and hands them on: the content walk
// (ContentWalk) handles schedule, lists and zones and the download hand-over;
// the server's requests and notices go to ServerRequests; the power schedule
// (PowerSchedule) is checked from a one-second poll timer. Bytes travel through
// a LinkTransport, a TCP socket unless a test sets another.
class ServerSession : public QObject, public SessionEnums
{
    Q_OBJECT
public:
    // Retry periods and waits of the loop, in milliseconds.
    static constexpr qint64 CONNECT_RETRY_MS = 30000;
    static constexpr qint64 CONNECT_WAIT_MS = 6000;
    static constexpr qint64 HANDSHAKE_RETRY_MS = 2000;
    static constexpr qint64 AUTH_RETRY_MS = 30000;
    static constexpr qint64 UNAUTHORIZED_RETRY_MS = 120000;
    static constexpr qint64 REQUEST_RETRY_MS = 20000;
    static constexpr qint64 SCHEDULE_RETRY_MS = 120000;
    static constexpr qint64 IDLE_WAIT_MS = 80000;
    static constexpr qint64 HEARTBEAT_AFTER_MS = 29999;
    static constexpr qint64 SYNC_PERIOD_MS = 86400000;
    static constexpr qint64 PASS_SLEEP_MS = 1000;
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
    void quitThread();
    void resetThread();
    void sendCommand(int step);
    // Runs the next pass at once instead of at its time (tests).
    void runPassNow();

    // Records a stored template list or zone id, or a downloaded file's URL
    // (the statistics file table).
    void setFileRecorder(std::function<void(const QString &)> recorder);
    // The thread that fetches the files; set before start().
    void setDownloadThread(DownloadThread *thread);

    int status() const { return m_status; }
    int step() const { return m_step; }
    bool contentReady() const { return m_contentReady; }
    bool isConnected() const { return m_connected; }
    bool receiving() const { return m_receiver.holding(); }
    double volume() const { return m_requests.volume(); }
    int clearType() const { return m_requests.clearType(); }
    qint64 lastSyncMs() const { return m_lastSyncMs; }
    qint64 nextActionMs() const { return m_nextActionMs; }
    qint64 pendingWaitMs() const { return m_pendingWaitMs; }
    // Clock time at which the next pass is due.
    qint64 nextPassAtMs() const { return m_wakeAtMs; }
    const ServerConfig &serverConfig() const { return m_serverConfig; }
    const QList<QByteArray> &tplIds() const { return m_walk.tplIds(); }
    const QList<QByteArray> &zoneIds() const { return m_walk.zoneIds(); }
    const QList<QString> &downloadFiles() const { return m_walk.tracker().downloadFiles; }
    const QList<QString> &doneFiles() const { return m_walk.tracker().doneFiles; }
    QString currentDownload() const { return m_walk.tracker().currentDownload; }
    const QList<QByteArray> &sendQueue() const { return m_sendQueue.frames(); }
    // Requests whose answer is still being worked out off this thread.
    int answersInWork() const { return m_offThread.pending(); }
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
    enum class Resume { None, ToStep4, SleepAfterWait, ClearPendingThenSleep };
    enum class WaitKind { None, Data, Connect };

    qint64 now() const;
    void armAt(qint64 atMs);
    void onTimer();
    void sleepFor(qint64 ms);
    void waitFor(WaitKind kind, qint64 ms, Resume resume);
    void endWait(WaitKind kind);

    void pass();
    void passFromStep3();
    void passFromStep4();
    void actOnStatus();
    void actOnStep();
    // A reply of the walk could not be stored and its retry period is over.
    bool askAgainDue() const;
    bool writeFrame(const QByteArray &frame);
    void sendRequest(const QByteArray &frame, qint64 waitMs, const QString &logLine);

    void handleFrame(const QByteArray &frame);
    // True when an answer of the request's kind (ServerRequests::answerKind)
    // is still on its way: the request is not handled again.
    bool repeatedRequest(unsigned short kind, unsigned short command);
    void handleAuthResult(unsigned int status);
    void handleConfig(const QByteArray &frame);
    void handleServerTime(const QByteArray &frame);
    void applyWalkMove(const ContentWalk::Move &move);
    void applyRequestOutcome(const ServerRequests::Outcome &outcome, unsigned short kind);
    void startDeferred(const ServerRequests::Deferred &request, unsigned short kind);
    void restartContentWalk();
    void loadSettings();
    void applySettings(const SessionSettings &stored);
    void setUpTimers();

    ServiceSettings &m_settings;
    TerminalStatus m_statusFile;
    Authorization m_auth;
    ContentWalk m_walk;
    PowerSchedule m_power;
    ServerRequests m_requests;

    LinkTransport *m_transport = nullptr;
    QTimer m_timer;
    QTimer m_pollTimer;
    QTimer m_downloadTimer;
    DownloadThread *m_downloadThread = nullptr;
    qint64 m_wakeAtMs = 0;
    WaitKind m_wait = WaitKind::None;
    Resume m_resume = Resume::None;
    bool m_handling = false;
    bool m_stopRequested = false;

    FrameReceiver m_receiver;
    ServerConfig m_serverConfig;
    qint64 m_lastSyncMs = 0;
    int m_status = NOT_CONNECTED;
    int m_step = INNER_HANDSHAKE;
    bool m_contentReady = false;
    bool m_connected = false;
    qint64 m_nextActionMs = 0;
    bool m_askAgain = false; // the walk's last reply was not stored: ask again
    qint64 m_lastTrafficMs = 0;
    qint64 m_pendingWaitMs = 0;
    SendQueue m_sendQueue;
    // Requests that came again while their answer was on its way, by kind,
    // since the last one that was answered.
    QHash<unsigned short, int> m_repeatedRequests;
    // Moves on with every lost connection: an answer worked out for an older
    // connection is not sent on a newer one.
    quint64 m_linkGeneration = 0;
    OffThreadWork m_offThread;
};
