#include "httpfileserver.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

HttpFileServer::HttpFileServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpFileServer::onNewConnection);
    connect(&m_posts, &PostIntake::uploadReceived, this, &HttpFileServer::uploadReceived);
    connect(&m_posts, &PostIntake::statisticsReceived, this, &HttpFileServer::statisticsReceived);
    connect(&m_posts, &PostIntake::logLine, this, &HttpFileServer::logLine);
}

HttpFileServer::~HttpFileServer()
{
    // Sockets must not call back into a half-destroyed server.
    const QList<QTcpSocket *> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect();
        socket->abort();
        delete socket;
    }
}

bool HttpFileServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server->listen(address, port)) {
        m_error = m_server->errorString();
        return false;
    }
    m_error.clear();
    return true;
}

void HttpFileServer::close()
{
    m_server->close();
    const QList<HttpConnection *> open = m_connections.values();
    for (HttpConnection *conn : open)
        conn->abort();
}

bool HttpFileServer::isListening() const
{
    return m_server->isListening();
}

quint16 HttpFileServer::port() const
{
    return m_server->serverPort();
}

QHostAddress HttpFileServer::address() const
{
    return m_server->serverAddress();
}

void HttpFileServer::unstall(const QString &name, bool resume)
{
    const QString key = HttpFaults::lastSegment(name);
    m_faults.unstall(key);
    const QList<HttpConnection *> open = m_connections.values();
    for (HttpConnection *conn : open) {
        if (conn->gone() || !conn->stalling(key))
            continue;
        if (resume)
            conn->resume();
        else
            conn->abort();
    }
}

void HttpFileServer::clearFaults()
{
    // The counted faults end before the held answers resume (and the requests
    // queued behind them are answered), delay and drip after.
    m_faults.clearCounted();
    const QStringList stalled = m_faults.stalled();
    for (const QString &name : stalled)
        unstall(name);
    m_faults.clearSettings();
    m_weather.clearFaults();
}

QStringList HttpFileServer::faults() const
{
    QStringList lines = m_faults.lines();
    lines << m_weather.faults();
    lines.sort();
    return lines;
}

int HttpFileServer::heldAnswers() const
{
    int count = 0;
    for (const HttpConnection *conn : m_connections) {
        if (conn->held())
            ++count;
    }
    return count;
}

QList<HttpFileServer::Request> HttpFileServer::requests() const
{
    QList<Request> list;
    list.reserve(m_requests.size());
    for (const std::shared_ptr<Request> &request : m_requests)
        list.append(*request);
    return list;
}

void HttpFileServer::clearHistory()
{
    // Answers still in progress go on updating records no longer listed.
    m_requests.clear();
    m_posts.clearHistory();
}

void HttpFileServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *conn = new HttpConnection(socket, ++m_connectionSerial, m_faults);
        m_connections.insert(socket, conn);
        connect(conn, &HttpConnection::requestRecorded, this,
            [this](const std::shared_ptr<Request> &record) { m_requests.append(record); });
        connect(conn, &HttpConnection::requestReady, this, [this, conn]() { answer(conn); });
        connect(conn, &HttpConnection::answerHeld, this, &HttpFileServer::answerHeld);
        connect(conn, &HttpConnection::answerEnded, this, &HttpFileServer::requestServed);
        connect(conn, &HttpConnection::closed, this,
            [this, socket]() { m_connections.remove(socket); });
        connect(conn, &HttpConnection::logLine, this, &HttpFileServer::logLine);
    }
}

void HttpFileServer::answer(HttpConnection *conn)
{
    const QByteArray method = conn->request().method;
    if (method == "GET" || method == "HEAD")
        m_files.answer(conn);
    else if (method == "POST")
        answerPost(conn);
    else
        conn->sendSimple(
            405, "405 Method Not Allowed\n", "text/plain", {{"Allow", "GET, HEAD, POST"}});
}

void HttpFileServer::answerPost(HttpConnection *conn)
{
    if (conn->request().path == QLatin1String("/getweather")) {
        answerWeather(conn);
        return;
    }
    int status = 0;
    QByteArray reply;
    if (!m_posts.take(conn->request(), status, reply)) {
        conn->sendSimple(404, "404 Not Found\n");
        return;
    }
    // A receiver of the signals above may have closed the connection.
    if (!conn->gone())
        conn->sendSimple(status, reply, "application/json");
}

void HttpFileServer::answerWeather(HttpConnection *conn)
{
    const WeatherService::Reply reply
        = m_weather.answer(conn->request().body, QDateTime::currentDateTime());
    emit logLine(
        QStringLiteral("HTTP weather: \"%1\" %2%3")
            .arg(reply.city)
            .arg(reply.outcome)
            .arg(reply.delayMs > 0 ? QStringLiteral(", answered in %1 ms").arg(reply.delayMs)
                                   : QString()));
    auto send = [conn, reply]() {
        if (!conn->gone())
            conn->sendSimple(reply.status, reply.body, reply.contentType);
    };
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, conn, send);
    else
        send();
}
