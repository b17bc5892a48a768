#pragma once

#include "contentfolder.h"
#include "sessionsender.h"
#include "simwire.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

class HttpFileServer;
class QIODevice;
class QTcpServer;
class QTcpSocket;

// The signage server's side of the terminal link. It accepts one terminal at a
// time (a new connection replaces the old one, so a reconnecting terminal is
// always served), opens each connection with its inner handshake, answers the
// terminal's requests from a content folder and pushes server commands on demand.
// Everything received and sent is logged one line per frame and kept for
// tests to look at. The content folder is a ContentFolder, what goes out on the
// session a SessionSender; what the terminal sends and the answers to it are
// in sessionanswers.cpp.
//
// It owns the HTTP side as well (http()): the download, log upload and
// statistics server the configuration announces. listenHttp() starts it; it
// serves the content folder's files/ unless setFilesDir() names another folder,
// and its request lines go to the same log.
class SignageServer : public QObject
{
    Q_OBJECT
public:
    // Authorization results the server may give.
    enum AuthStatus : quint32 {
        AUTHORIZED = 4,
        UNAUTHORIZED = 5,
        ID_CONFLICT = 6,
        EXCEED_AUTH_COUNT = 7,
    };

    struct AuthRequest
    {
        SimWire::TerminalRecord terminal;
        QString version;
        QString diskUsed;
        QString diskTotal;
        quint32 statusSent = 0;
    };

    // A 278 answer of the terminal: terminal id, an empty field, the echoed first
    // parameter of the request and the report itself.
    struct Report
    {
        quint16 command = 0;
        QString terminalId;
        QByteArray echoId;
        QByteArray body;
        int paramCount = 0;
    };

    struct Received
    {
        SimWire::StreamCutter::Kind kind = SimWire::StreamCutter::Garbage;
        SimWire::Frame frame; // filled for headed frames
        QByteArray bytes;
    };

    explicit SignageServer(QObject *parent = nullptr);
    ~SignageServer() override;

    // Port 0 picks a free port; port() tells which.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    void close();
    bool isListening() const;
    quint16 port() const;
    QHostAddress address() const;
    QString errorString() const { return m_error; }

    // Starts the HTTP server; port 0 picks a free port. Unless setHttpPort()
    // says otherwise, the configuration then announces the port it listens on.
    bool listenHttp(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    HttpFileServer *http() const { return m_http; }

    // Folder holding day-play.xml, tpl/<id> and zone/<id> (zones stored as UTF-8),
    // and files/ with what the HTTP server hands out.
    void setContentDir(const QString &dir);
    QString contentDir() const { return m_content.dir(); }
    // Folder the HTTP server serves instead of the content's files/; empty
    // follows the content folder again.
    void setFilesDir(const QString &dir);
    QString filesDir() const;

    // Results of the coming authorization requests, one per request; the last
    // one stays in force once the others are used up.
    void setAuthResults(const QList<quint32> &results);
    void setAuthResult(quint32 result) { setAuthResults({result}); }
    QList<quint32> authResults() const { return m_authResults; }

    // Advertised HTTP, log and RTDA (weather) server port; 0 means the HTTP
    // server's port when it listens, else the session port + 1.
    void setHttpPort(quint16 port) { m_httpPort = port; }
    quint16 httpPort() const;
    // Server address announced in the configuration; an empty address announces
    // the listening address and port.
    void setAdvertisedServer(const QString &ip, quint16 port);
    QString advertisedIp() const;
    quint16 advertisedPort() const;
    // Replaces the generated configuration document; empty restores it.
    void setConfigOverride(const QByteArray &xml) { m_configOverride = xml; }
    // Replaces every document the terminal asks for (configuration, day
    // schedule, template lists, zones); empty restores them.
    void setDocumentOverride(const QByteArray &xml) { m_documentOverride = xml; }
    // Everything sent on the session goes out one byte every ms milliseconds
    // (0: at once).
    void setDrip(int ms) { m_sender.setDrip(ms); }
    int dripBacklog() const { return m_sender.dripBacklog(); }
    QByteArray configXml() const;
    // The day schedule as served: day-play.xml of the content folder with every
    // "@TODAY@" replaced by the current date (yyyy-MM-dd), so that an insert
    // programme of the sample content applies on the day of the demonstration.
    QByteArray daySchedule() const { return m_content.daySchedule(); }
    // Problems of the content folder, one text each: ids of the schedule without
    // their template list or zone, documents that do not parse or carry the wrong
    // root, zones with text GBK cannot carry, and named files missing from files/
    // or not named by the MD5 of their content. Empty when all is well.
    QStringList checkContent() const { return m_content.check(); }
    // The media and template files the content names, as files/ holds them.
    QStringList contentFiles() const { return m_content.namedFiles(); }

    // Seconds since the epoch reported as the server time; a negative value
    // reports the current time.
    void setServerTime(qint64 secs) { m_serverTime = secs; }
    qint64 serverTime() const;

    // With false a new connection gets no inner handshake (a silent server).
    void setSendHandshake(bool send) { m_sendHandshake = send; }
    // A muted request is logged but not answered.
    void setMuted(quint16 protocol, quint16 command, bool muted);
    bool isMuted(quint16 protocol, quint16 command) const;

    // Frame log; without a device lines go only to the logLine signal.
    void setLogDevice(QIODevice *device) { m_log = device; }

    bool isConnected() const { return m_sender.isConnected(); }

    // Pushing to the terminal. Each returns the bytes written, or an empty array
    // when no terminal is connected.
    QByteArray buildFrame(quint16 protocol, quint16 command, const QList<QByteArray> &params = {})
    {
        return m_sender.buildFrame(protocol, command, params);
    }
    QByteArray pushFrame(quint16 protocol, quint16 command, const QList<QByteArray> &params = {})
    {
        return pushFrames({buildFrame(protocol, command, params)});
    }
    // Several frames in one write, so they reach the terminal in one chunk.
    QByteArray pushFrames(const QList<QByteArray> &frames) { return m_sender.pushFrames(frames); }
    QByteArray sendRaw(const QByteArray &bytes) { return m_sender.sendRaw(bytes); }
    QByteArray sendHeartbeat() { return m_sender.sendHeartbeat(); }
    QByteArray sendHandshake() { return m_sender.sendHandshake(); }
    void disconnectTerminal();

    // Named server requests. An empty echo id takes the next "req-N".
    QByteArray requestEnvironment(const QByteArray &echoId = QByteArray());
    QByteArray requestScreenshot(const QByteArray &echoId = QByteArray());
    QByteArray requestDownloadReport(const QByteArray &echoId = QByteArray());
    QByteArray requestLogs(quint16 command, const QByteArray &echoId = QByteArray());
    QByteArray setVolume(const QByteArray &volume, quint16 command = 12);
    QByteArray setClearType(const QByteArray &clearType);
    QByteArray restartPlayer();
    QByteArray shutdownNow();
    QByteArray rebootNow();
    QByteArray scheduleChanged();
    // 276/280 with the schedule XML followed by a NUL byte as the first parameter.
    QByteArray pushPowerSchedule(const QByteArray &xml);
    // 278/2 with the schedule XML as the sixth parameter.
    QByteArray pushShutdownSchedule(const QByteArray &xml);
    QByteArray nextEchoId();

    // What the terminal did.
    QList<Received> received() const { return m_received; }
    QList<SimWire::Frame> receivedFrames() const;
    QByteArray rawReceived() const { return m_rawReceived; }
    int heartbeatsReceived() const { return m_heartbeats; }
    int heartbeatAnswersReceived() const { return m_heartbeatAnswers; }
    int handshakesReceived() const { return m_handshakes; }
    int connectionCount() const { return m_connections; }
    QList<AuthRequest> authRequests() const { return m_auths; }
    QString lastTerminalId() const;
    QByteArray lastMac() const;
    QString lastMacText() const;
    QList<Report> reports() const { return m_reports; }
    void clearHistory();

signals:
    void terminalConnected();
    void terminalDisconnected();
    void handshakeReceived();
    void heartbeatReceived();
    void frameReceived(quint16 protocol, quint16 command, const QList<QByteArray> &params);
    void authorizationRequested(const QString &terminalId, quint32 statusSent);
    void reportReceived(quint16 command, const QByteArray &echoId, const QByteArray &body);
    void frameSent(quint16 protocol, quint16 command);
    void logLine(const QString &line);

private slots:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();

private:
    void handlePiece(const SimWire::StreamCutter::Piece &piece);
    void handleFrame(const SimWire::Frame &frame);
    void answerAuthorization(const SimWire::Frame &frame);
    void recordReport(const SimWire::Frame &frame);
    QByteArray reply(quint16 protocol, quint16 command, const QList<QByteArray> &params);
    QByteArray document(const QByteArray &normal) const;
    void log(const QString &line);

    QTcpServer *m_server = nullptr;
    HttpFileServer *m_http = nullptr;
    QPointer<QTcpSocket> m_socket;
    SessionSender m_sender {m_socket};
    SimWire::StreamCutter m_cutter;
    QString m_error;

    ContentFolder m_content;
    QString m_filesDir;
    QList<quint32> m_authResults {AUTHORIZED};
    quint16 m_httpPort = 0;
    QString m_advertisedIp;
    quint16 m_advertisedPort = 0;
    QByteArray m_configOverride;
    QByteArray m_documentOverride;
    qint64 m_serverTime = -1;
    bool m_sendHandshake = true;
    QSet<quint32> m_muted;
    QIODevice *m_log = nullptr;
    int m_echoCounter = 0;

    QList<Received> m_received;
    QByteArray m_rawReceived;
    int m_heartbeats = 0;
    int m_heartbeatAnswers = 0;
    int m_handshakes = 0;
    int m_connections = 0;
    QList<AuthRequest> m_auths;
    QList<Report> m_reports;
};
