#pragma once

#include "statreport.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include "weatherservice.h"

class QTcpServer;
class QTcpSocket;

// The signage server's HTTP side, on the port the configuration announces as
// HTTP (media download) and LOG (log and statistics upload) server.
//
// GET and HEAD of any path serve the file named by the path's last segment
// (percent-decoded) from the files folder; "<name>.md5" of an existing file is
// generated when the folder has no such file: 32 bytes of lower-case hex MD5,
// 16 zero bytes, the file size as a little-endian u64. Files are streamed in
// pieces as the connection drains, never read whole, and single byte ranges are
// honoured so that an interrupted wget can resume. POST /logfile/upload takes a
// multipart/form-data body and keeps its parts; POST /mtllog/add keeps its JSON
// body; both answer {"code":0} unless told otherwise. POST /getweather is the
// weather server of the terminal's weather zones (WeatherService).
//
// HTTP/1.0 and 1.1 with keep-alive and pipelining; request bodies need a
// Content-Length. Faults (a flipped byte, a 500, a stalled body, a delay) can be
// injected per file name to exercise the terminal's checks and retries. Every
// request is kept for tests and logged in one line.
class HttpFileServer : public QObject
{
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Request
    {
        int connection = 0; // serial number of the TCP connection, from 1
        QString method;
        QString target; // as written in the request line
        QString name; // last path segment, percent-decoded
        qint64 timeMs = 0; // when the request was complete, ms since the epoch
        int status = 0; // 0 while the answer has not been started
        qint64 contentLength = 0; // body length announced in the answer
        qint64 bytesSent = 0; // body bytes handed to the connection so far
        qint64 bytesReceived = 0; // request body length
        bool complete = false; // the whole answer was handed to the connection
    };

    struct Part
    {
        QString name; // form field name
        QString fileName; // empty when the part names no file
        QByteArray contentType;
        Headers headers; // names in lower case, as received
        QByteArray data;
    };

    struct Upload
    {
        QString path;
        qint64 timeMs = 0;
        QByteArray contentType; // of the request
        qint64 size = 0; // request body length
        QList<Part> parts;
        QString error; // why the body is not readable multipart; empty when it is
        int status = 0; // status answered
    };

    struct Post
    {
        QString path;
        qint64 timeMs = 0;
        QByteArray body;
        StatReport report; // the body read as the server reads statistics
        int status = 0; // status answered
        bool accepted = false; // answered as a success ({"status":200} or {"code":0})
    };

    static constexpr qint64 CHUNK = 256 * 1024;
    static constexpr qint64 MAX_BODY = 256 * 1024 * 1024;
    static constexpr int MAX_HEAD = 64 * 1024;

    explicit HttpFileServer(QObject *parent = nullptr);
    ~HttpFileServer() override;

    // Port 0 picks a free port; port() tells which.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Stops listening and drops every connection (answers in progress are cut off).
    void close();
    bool isListening() const;
    quint16 port() const;
    QHostAddress address() const;
    QString errorString() const { return m_error; }

    void setFilesDir(const QString &dir) { m_filesDir = dir; }
    QString filesDir() const { return m_filesDir; }

    // Answer to POSTs on path ("/logfile/upload", "/mtllog/add") instead of
    // the default (200 {"code":0} for log uploads, 200 {"status":200} for
    // statistics); status 0 restores the default.
    void setPostReply(const QString &path, int status, const QByteArray &body = QByteArray());
    // The POSTs on path after the next `after` ones, `count` of them, get
    // 500 {"status":500}; then the answers are as before.
    void failPosts(const QString &path, int count, int after = 0);

    // Faults by file name (the last path segment: "<md5>.png", "<md5>.png.md5";
    // a path is cut to its last segment). Counted faults are used up by GETs.
    // corrupt: the body goes out with its middle byte inverted.
    void corrupt(const QString &name, int times = 1);
    // fail: 500 instead of the file (GET and HEAD).
    void fail(const QString &name, int times = 1);
    // stall: every GET of name sends its headers and half its body, then holds
    // the connection until unstall().
    void stall(const QString &name);
    // Ends stalling name. Held answers are completed, or with resume false their
    // connections are closed.
    void unstall(const QString &name, bool resume = true);
    // Every answer waits this long before it starts (0: none).
    void setDelay(int ms) { m_delayMs = qMax(0, ms); }
    int delay() const { return m_delayMs; }
    // Every download (not the .md5 companions) goes out with a byte inverted,
    // for as long as it is on: content that never matches its name.
    void setCorruptAll(bool on) { m_corruptAll = on; }
    // File bodies go out one byte every ms milliseconds (0: as fast as the
    // connection takes them), as from a server at the end of a bad line.
    void setDrip(int ms) { m_dripMs = qMax(0, ms); }
    // Also ends the weather faults; faults() lists them too.
    void clearFaults();
    QStringList faults() const;
    int heldAnswers() const;

    // The weather server: its table of cities, its faults, the cities asked.
    WeatherService &weather() { return m_weather; }
    const WeatherService &weather() const { return m_weather; }

    QList<Request> requests() const { return m_requests; }
    QList<Upload> uploads() const { return m_uploads; }
    QList<Post> statistics() const { return m_statistics; }
    // The rows of every statistics post answered as a success, in order.
    QList<StatReport::Row> acceptedStatisticsRows() const;
    int connectionCount() const { return m_connectionSerial; }
    int openConnections() const { return m_connections.size(); }
    void clearHistory();

    // The generated companion of a file with this content MD5 (hex) and size.
    static QByteArray companion(const QByteArray &md5Hex, quint64 size);
    // The boundary parameter of a multipart Content-Type; empty when there is none.
    static QByteArray boundaryOf(const QByteArray &contentType);
    // Splits a multipart body; false (with the reason) when it is malformed.
    static bool parseMultipart(const QByteArray &body, const QByteArray &boundary,
        QList<Part> &parts, QString *error = nullptr);
    // Name and filename parameters of a Content-Disposition value.
    static QHash<QString, QString> dispositionParams(const QByteArray &value);

signals:
    // An answer ended: handed over completely, or cut off (see requests()).
    void requestServed(const QString &method, const QString &target, int status);
    void uploadReceived(const QString &fieldName, const QString &fileName, qint64 size);
    void statisticsReceived(const QByteArray &json);
    // A stalled answer has sent what it will send until unstall().
    void answerHeld(const QString &name);
    void logLine(const QString &line);

private:
    class Connection;
    struct CompanionEntry
    {
        qint64 size = -1;
        QDateTime modified;
        QByteArray md5Hex;
    };

    void onNewConnection();
    void onReadyRead(Connection *conn);
    void onDisconnected(Connection *conn);
    void processInput(Connection *conn);
    bool takeRequest(Connection *conn);
    void answer(Connection *conn);
    void answerFile(Connection *conn, bool head);
    void answerPost(Connection *conn);
    void answerWeather(Connection *conn);
    void sendSimple(Connection *conn, int status, const QByteArray &body,
        const QByteArray &type = "text/plain", const Headers &extra = {});
    void sendHead(
        Connection *conn, int status, qint64 length, const QByteArray &type, const Headers &extra);
    void pump(Connection *conn);
    void finish(Connection *conn);
    Request *current(Connection *conn);
    QByteArray companionFor(const QString &path);
    static QString lastSegment(const QString &name);
    void log(const QString &line);

    QTcpServer *m_server;
    QHash<QTcpSocket *, Connection *> m_connections;
    QString m_error;
    QString m_filesDir;
    QHash<QString, QPair<int, QByteArray>> m_postReplies;
    struct PostFailures
    {
        int after = 0;
        int count = 0;
    };
    QHash<QString, PostFailures> m_postFailures;
    QHash<QString, int> m_corrupt;
    QHash<QString, int> m_fail;
    QSet<QString> m_stall;
    int m_delayMs = 0;
    bool m_corruptAll = false;
    int m_dripMs = 0;
    QHash<QString, CompanionEntry> m_companions;
    WeatherService m_weather;

    QList<Request> m_requests;
    qint64 m_firstSerial = 0; // serial of m_requests.first()
    qint64 m_nextSerial = 0;
    QList<Upload> m_uploads;
    QList<Post> m_statistics;
    int m_connectionSerial = 0;
};
