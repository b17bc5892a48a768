#pragma once

#include "fileresponder.h"
#include "httpconnection.h"
#include "httpfaults.h"
#include "httpmessage.h"
#include "md5companion.h"
#include "multipart.h"
#include "postintake.h"
#include "statreport.h"
#include "weatherservice.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

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
// honoured so that an interrupted wget can resume (FileResponder). POST
// /logfile/upload takes a multipart/form-data body and keeps its parts; POST
// /mtllog/add keeps its JSON body; both answer {"code":0} unless told otherwise
// (PostIntake). POST /getweather is the weather server of the terminal's
// weather zones (WeatherService).
//
// HTTP/1.0 and 1.1 with keep-alive and pipelining; request bodies need a
// Content-Length (HttpConnection). Faults (a flipped byte, a 500, a stalled
// body, a delay) can be injected per file name to exercise the terminal's
// checks and retries (HttpFaults). Every request is kept for tests and logged
// in one line.
class HttpFileServer : public QObject
{
    Q_OBJECT
public:
    using Headers = HttpHeaders;
    using Request = HttpRequestRecord;
    using Part = Multipart::Part;
    using Upload = LogUpload;
    using Post = StatisticsPost;

    static constexpr qint64 CHUNK = HttpConnection::CHUNK;
    static constexpr qint64 MAX_BODY = HttpRequest::MAX_BODY;
    static constexpr int MAX_HEAD = HttpRequest::MAX_HEAD;

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

    void setFilesDir(const QString &dir) { m_files.setFilesDir(dir); }
    QString filesDir() const { return m_files.filesDir(); }

    // Answer to POSTs on path ("/logfile/upload", "/mtllog/add") instead of
    // the default (200 {"code":0} for log uploads, 200 {"status":200} for
    // statistics); status 0 restores the default.
    void setPostReply(const QString &path, int status, const QByteArray &body = QByteArray())
    {
        m_posts.setReply(path, status, body);
    }
    // The POSTs on path after the next `after` ones, `count` of them, get
    // 500 {"status":500}; then the answers are as before.
    void failPosts(const QString &path, int count, int after = 0)
    {
        m_faults.failPosts(path, count, after);
    }

    // Faults by file name (the last path segment: "<md5>.png", "<md5>.png.md5";
    // a path is cut to its last segment). Counted faults are used up by GETs.
    // corrupt: the body goes out with its middle byte inverted.
    void corrupt(const QString &name, int times = 1) { m_faults.corrupt(name, times); }
    // fail: 500 instead of the file (GET and HEAD).
    void fail(const QString &name, int times = 1) { m_faults.fail(name, times); }
    // stall: every GET of name sends its headers and half its body, then holds
    // the connection until unstall().
    void stall(const QString &name) { m_faults.stall(name); }
    // Ends stalling name. Held answers are completed, or with resume false their
    // connections are closed.
    void unstall(const QString &name, bool resume = true);
    // Every answer waits this long before it starts (0: none).
    void setDelay(int ms) { m_faults.setDelay(ms); }
    int delay() const { return m_faults.delay(); }
    // Every download (not the .md5 companions) goes out with a byte inverted,
    // for as long as it is on: content that never matches its name.
    void setCorruptAll(bool on) { m_faults.setCorruptAll(on); }
    // File bodies go out one byte every ms milliseconds (0: as fast as the
    // connection takes them), as from a server at the end of a bad line.
    void setDrip(int ms) { m_faults.setDrip(ms); }
    // Also ends the weather faults; faults() lists them too.
    void clearFaults();
    QStringList faults() const;
    int heldAnswers() const;

    // The weather server: its table of cities, its faults, the cities asked.
    WeatherService &weather() { return m_weather; }
    const WeatherService &weather() const { return m_weather; }

    QList<Request> requests() const;
    QList<Upload> uploads() const { return m_posts.uploads(); }
    QList<Post> statistics() const { return m_posts.statistics(); }
    // The rows of every statistics post answered as a success, in order.
    QList<StatReport::Row> acceptedStatisticsRows() const { return m_posts.acceptedRows(); }
    int connectionCount() const { return m_connectionSerial; }
    int openConnections() const { return m_connections.size(); }
    void clearHistory();

    // The generated companion of a file with this content MD5 (hex) and size.
    static QByteArray companion(const QByteArray &md5Hex, quint64 size)
    {
        return Md5Companions::companion(md5Hex, size);
    }
    // The boundary parameter of a multipart Content-Type; empty when there is none.
    static QByteArray boundaryOf(const QByteArray &contentType)
    {
        return Multipart::boundaryOf(contentType);
    }
    // Splits a multipart body; false (with the reason) when it is malformed.
    static bool parseMultipart(const QByteArray &body, const QByteArray &boundary,
        QList<Part> &parts, QString *error = nullptr)
    {
        return Multipart::parse(body, boundary, parts, error);
    }
    // Name and filename parameters of a Content-Disposition value.
    static QHash<QString, QString> dispositionParams(const QByteArray &value)
    {
        return Multipart::dispositionParams(value);
    }

signals:
    // An answer ended: handed over completely, or cut off (see requests()).
    void requestServed(const QString &method, const QString &target, int status);
    void uploadReceived(const QString &fieldName, const QString &fileName, qint64 size);
    void statisticsReceived(const QByteArray &json);
    // A stalled answer has sent what it will send until unstall().
    void answerHeld(const QString &name);
    void logLine(const QString &line);

private:
    void onNewConnection();
    void answer(HttpConnection *conn);
    void answerPost(HttpConnection *conn);
    void answerWeather(HttpConnection *conn);

    QTcpServer *m_server;
    QHash<QTcpSocket *, HttpConnection *> m_connections;
    QString m_error;
    HttpFaults m_faults;
    FileResponder m_files {m_faults};
    PostIntake m_posts {m_faults};
    WeatherService m_weather;

    QList<std::shared_ptr<Request>> m_requests;
    int m_connectionSerial = 0;
};
