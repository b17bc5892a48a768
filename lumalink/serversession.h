#pragma once

#include "downloadtracker.h"
#include "framereceiver.h"
#include "processdata.h"
#include "terminalstatus.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class DownloadThread;
class QTcpSocket;

// The session with the signage server: connect, handshake, authorize, then
// walk configuration, time, day schedule, template lists and zones, answer the
// server's requests and keep the link alive. The object and its socket live on
// one thread; the loop is a chain of timed passes on that thread's event loop,
// and every time it reads comes from Clock so tests can move it.
class ServerSession : public QObject
{
    Q_OBJECT
public:
    enum StatusEnum {
        NOT_CONNECTED = 0,
        CONNECTED = 1,
        HANDSHAKING = 2,
        AUTHORIZED = 4,
        UNAUTHORIZED = 5,
        ID_CONFLICT = 6,
        EXCEED_AUTH_COUNT = 7
    };
    Q_ENUM(StatusEnum)

    enum StepEnum {
        START = -1,
        INNER_HANDSHAKE = 0,
        REQ_AUTH = 1,
        REQ_CONFIG = 2,
        SYNC_TIME = 3,
        REQ_SCHEDULE = 4,
        REQ_TPL = 5,
        REQ_ZONE = 6,
        REQ_FILE = 7,
        WAITING = 8
    };
    Q_ENUM(StepEnum)

    // Retry periods and waits of the loop, in milliseconds.
    static constexpr qint64 CONNECT_RETRY_MS = 30000;
    static constexpr qint64 HANDSHAKE_RETRY_MS = 2000;
    static constexpr qint64 AUTH_RETRY_MS = 30000;
    static constexpr qint64 UNAUTHORIZED_RETRY_MS = 120000;
    static constexpr qint64 REQUEST_RETRY_MS = 20000;
    static constexpr qint64 SCHEDULE_RETRY_MS = 120000;
    static constexpr qint64 IDLE_WAIT_MS = 80000;
    static constexpr qint64 HEARTBEAT_AFTER_MS = 29999;
    static constexpr qint64 SYNC_PERIOD_MS = 86400000;
    static constexpr qint64 PASS_SLEEP_MS = 1000;

    explicit ServerSession(const QString &statusPath = QString(), QObject *parent = nullptr);
    // With settings already read from the status file (by the thread's creator,
    // so the shared settings are loaded before anything else can change them).
    ServerSession(const SessionSettings &settings, QObject *parent = nullptr);
    ~ServerSession() override;

    // Creates the socket and starts the loop on the calling thread.
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
    double volume() const { return m_volume; }
    int clearType() const { return m_clearType; }
    qint64 lastSyncMs() const { return m_lastSyncMs; }
    qint64 nextActionMs() const { return m_nextActionMs; }
    qint64 pendingWaitMs() const { return m_pendingWaitMs; }
    const PROCESSDATA::SERVER_CONFIG &serverConfig() const { return m_serverConfig; }
    const QList<QByteArray> &tplIds() const { return m_tplIds; }
    const QList<QByteArray> &zoneIds() const { return m_zoneIds; }
    const QList<QString> &downloadFiles() const { return m_tracker.downloadFiles; }
    const QList<QString> &doneFiles() const { return m_tracker.doneFiles; }
    QString currentDownload() const { return m_tracker.currentDownload; }
    const QList<QByteArray> &sendQueue() const { return m_sendQueue; }

public slots:
    void slot_readData();
    void slot_connected();
    void slot_disconnected();
    void slot_error(QAbstractSocket::SocketError error);
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
    bool writeFrame(const QByteArray &frame);

    void handleFrame(const QByteArray &frame);
    void handleAuthResult(unsigned int status);
    void handleConfig(const QByteArray &frame);
    void handleServerTime(const QByteArray &frame);
    void handleSchedule(const QByteArray &frame);
    void handleTemplateList(const QByteArray &frame);
    void handleZone(const QByteArray &frame);
    void handleServerRequest(unsigned short command, const QByteArray &frame);
    void handleServerNotice(unsigned short command, const QByteArray &frame);
    void queueAnswer(unsigned short command, const QByteArray &frame, const QByteArray &payload);
    void queueEchoAnswer(unsigned short command, const QByteArray &echo, const QByteArray &payload);
    void restartContentWalk();
    void dropUnsafeIds(QList<QByteArray> &ids, const char *kind);
    void loadSettings();
    void applySettings(const SessionSettings &settings);
    void setUpTimers();

    TerminalStatus m_statusFile;
    std::function<void(const QString &)> m_recordFile;

    QTcpSocket *m_socket = nullptr;
    QTimer m_timer;
    QTimer m_downloadTimer;
    DownloadThread *m_downloadThread = nullptr;
    DownloadTracker m_tracker;
    qint64 m_wakeAtMs = 0;
    WaitKind m_wait = WaitKind::None;
    Resume m_resume = Resume::None;
    bool m_handling = false;
    bool m_stopRequested = false;

    FrameReceiver m_receiver;
    double m_volume = 0.1;
    int m_clearType = 5;
    PROCESSDATA::SERVER_CONFIG m_serverConfig;
    qint64 m_lastSyncMs = 0;
    int m_status = NOT_CONNECTED;
    int m_step = INNER_HANDSHAKE;
    bool m_contentReady = false;
    bool m_connected = false;
    qint64 m_nextActionMs = 0;
    qint64 m_lastTrafficMs = 0;
    qint64 m_pendingWaitMs = 0;
    QList<QByteArray> m_tplIds;
    QList<QByteArray> m_zoneIds;
    QList<QByteArray> m_sendQueue;
};
