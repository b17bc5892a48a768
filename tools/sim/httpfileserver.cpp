#include "httpfileserver.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

// One accepted connection and the request it is answering. A child of its
// socket, so it lives exactly as long as the socket; gone is set when the
// connection has ended and the socket is on its way out.
class HttpFileServer::Connection : public QObject
{
public:
    explicit Connection(QTcpSocket *s)
        : QObject(s)
        , socket(s)
    { }

    QTcpSocket *socket;
    int id = 0;
    bool gone = false;
    QByteArray in;
    bool haveHead = false;
    bool busy = false; // a request is being answered or waits for its delay
    bool closing = false; // no further requests are read
    bool dispatching = false; // processInput() is on the stack
    bool continueSent = false;

    // The request being read or answered.
    QByteArray method;
    QByteArray target;
    QByteArray version;
    Headers headers;
    qint64 bodyLength = 0;
    QByteArray body;
    bool keepAlive = true;
    QString path; // percent-decoded, without query
    QString name; // last segment of the path, percent-decoded
    qint64 serial = -1;
    int status = 0;

    // The answer body on its way out.
    std::unique_ptr<QIODevice> source;
    qint64 position = 0; // offset in source of the next byte to send
    qint64 remaining = 0;
    qint64 sent = 0;
    qint64 holdAfter = -1; // stalled: body bytes to send before holding
    qint64 flipAt = -1; // source offset of the byte sent inverted
    bool held = false;
    bool dripWaiting = false; // the next dripped byte waits for its timer

    QByteArray header(const char *lowerName) const
    {
        for (const auto &h : headers) {
            if (h.first == lowerName)
                return h.second;
        }
        return QByteArray();
    }
    bool isHead() const { return method == "HEAD"; }
};

namespace {

const char *reason(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return status < 400 ? "OK" : "Error";
    }
}

// Splits "type; a=b; c=\"d;e\"" into its items, names in lower case; quoted
// values lose their quotes and backslash escapes.
HttpFileServer::Headers headerParams(const QByteArray &value)
{
    HttpFileServer::Headers items;
    int i = 0;
    const int n = value.size();
    while (i < n) {
        QByteArray name;
        while (i < n && value[i] != '=' && value[i] != ';')
            name += value[i++];
        QByteArray text;
        if (i < n && value[i] == '=') {
            ++i;
            while (i < n && (value[i] == ' ' || value[i] == '\t'))
                ++i;
            if (i < n && value[i] == '"') {
                ++i;
                while (i < n && value[i] != '"') {
                    if (value[i] == '\\' && i + 1 < n)
                        ++i;
                    text += value[i++];
                }
                ++i; // closing quote
                while (i < n && value[i] != ';')
                    ++i;
            } else {
                while (i < n && value[i] != ';')
                    text += value[i++];
                text = text.trimmed();
            }
        }
        ++i; // the ';'
        name = name.trimmed().toLower();
        if (!name.isEmpty())
            items.append({name, text});
    }
    return items;
}

bool validName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && !name.contains(QChar(0));
}

// 1: a single satisfiable range [start, end]; 0: no usable Range (serve the
// whole body); -1: a range that lies outside the body.
int parseRange(const QByteArray &value, qint64 size, qint64 &start, qint64 &end)
{
    const QByteArray v = value.trimmed();
    if (!v.startsWith("bytes=") || v.contains(','))
        return 0;
    const QByteArray bounds = v.mid(6).trimmed();
    const int dash = bounds.indexOf('-');
    if (dash < 0)
        return 0;
    const QByteArray first = bounds.left(dash).trimmed();
    const QByteArray last = bounds.mid(dash + 1).trimmed();
    bool ok = false;
    qint64 from = 0;
    qint64 to = size - 1;
    if (first.isEmpty()) {
        const qint64 suffix = last.toLongLong(&ok);
        if (!ok || suffix < 0)
            return 0;
        if (suffix == 0 || size == 0)
            return -1;
        from = qMax<qint64>(0, size - suffix);
    } else {
        from = first.toLongLong(&ok);
        if (!ok || from < 0)
            return 0;
        if (!last.isEmpty()) {
            const qint64 requested = last.toLongLong(&ok);
            if (!ok || requested < from)
                return 0;
            to = qMin(requested, to);
        }
        if (from >= size)
            return -1;
    }
    start = from;
    end = to;
    return 1;
}

QByteArray jsonError(const QString &why)
{
    QByteArray text = why.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"");
    return "{\"code\":1,\"msg\":\"" + text + "\"}";
}

} // namespace

HttpFileServer::HttpFileServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpFileServer::onNewConnection);
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
    const QList<Connection *> open = m_connections.values();
    for (Connection *conn : open)
        conn->socket->abort();
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

void HttpFileServer::setPostReply(const QString &path, int status, const QByteArray &body)
{
    if (status == 0)
        m_postReplies.remove(path);
    else
        m_postReplies.insert(path, {status, body});
}

void HttpFileServer::failPosts(const QString &path, int count, int after)
{
    if (count <= 0)
        m_postFailures.remove(path);
    else
        m_postFailures.insert(path, {qMax(0, after), count});
}

QList<StatReport::Row> HttpFileServer::acceptedStatisticsRows() const
{
    QList<StatReport::Row> rows;
    for (const Post &post : m_statistics) {
        if (post.accepted)
            rows += post.report.rows;
    }
    return rows;
}

QString HttpFileServer::lastSegment(const QString &name)
{
    return name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
}

void HttpFileServer::corrupt(const QString &name, int times)
{
    if (times > 0)
        m_corrupt.insert(lastSegment(name), times);
    else
        m_corrupt.remove(lastSegment(name));
}

void HttpFileServer::fail(const QString &name, int times)
{
    if (times > 0)
        m_fail.insert(lastSegment(name), times);
    else
        m_fail.remove(lastSegment(name));
}

void HttpFileServer::stall(const QString &name)
{
    m_stall.insert(lastSegment(name));
}

void HttpFileServer::unstall(const QString &name, bool resume)
{
    const QString key = lastSegment(name);
    m_stall.remove(key);
    const QList<Connection *> open = m_connections.values();
    for (Connection *conn : open) {
        if (conn->gone || conn->holdAfter < 0 || conn->name != key)
            continue;
        if (resume) {
            log(QStringLiteral("HTTP %1 %2 resumed after %3 bytes")
                    .arg(QString::fromLatin1(conn->method), QString::fromUtf8(conn->target))
                    .arg(conn->sent));
            conn->holdAfter = -1;
            conn->held = false;
            pump(conn);
        } else {
            conn->socket->abort();
        }
    }
}

void HttpFileServer::clearFaults()
{
    m_corrupt.clear();
    m_fail.clear();
    m_postFailures.clear();
    const QList<QString> stalled = m_stall.values();
    for (const QString &name : stalled)
        unstall(name);
    m_delayMs = 0;
    m_corruptAll = false;
    m_dripMs = 0;
    m_weather.clearFaults();
}

QStringList HttpFileServer::faults() const
{
    QStringList lines;
    for (auto it = m_corrupt.cbegin(); it != m_corrupt.cend(); ++it)
        lines << QStringLiteral("corrupt %1 %2").arg(it.key()).arg(it.value());
    for (auto it = m_fail.cbegin(); it != m_fail.cend(); ++it)
        lines << QStringLiteral("fail %1 %2").arg(it.key()).arg(it.value());
    for (const QString &name : m_stall)
        lines << QStringLiteral("stall %1").arg(name);
    if (m_delayMs > 0)
        lines << QStringLiteral("delay %1").arg(m_delayMs);
    if (m_corruptAll)
        lines << QStringLiteral("corrupt every download");
    if (m_dripMs > 0)
        lines << QStringLiteral("drip %1").arg(m_dripMs);
    lines << m_weather.faults();
    for (auto it = m_postFailures.cbegin(); it != m_postFailures.cend(); ++it)
        lines << QStringLiteral("postfail %1 %2 %3").arg(it.key()).arg(it->count).arg(it->after);
    lines.sort();
    return lines;
}

int HttpFileServer::heldAnswers() const
{
    int count = 0;
    for (const Connection *conn : m_connections) {
        if (conn->held)
            ++count;
    }
    return count;
}

void HttpFileServer::clearHistory()
{
    m_requests.clear();
    m_firstSerial = m_nextSerial;
    m_uploads.clear();
    m_statistics.clear();
}

HttpFileServer::Request *HttpFileServer::current(Connection *conn)
{
    const qint64 index = conn->serial - m_firstSerial;
    if (conn->serial < 0 || index < 0 || index >= m_requests.size())
        return nullptr;
    return &m_requests[int(index)];
}

QByteArray HttpFileServer::companion(const QByteArray &md5Hex, quint64 size)
{
    QByteArray out = md5Hex.left(32).toLower();
    out.append(32 - out.size(), '\0');
    out.append(16, '\0');
    for (int i = 0; i < 8; ++i)
        out.append(char((size >> (8 * i)) & 0xFF));
    return out;
}

QByteArray HttpFileServer::companionFor(const QString &path)
{
    const QFileInfo info(path);
    CompanionEntry &entry = m_companions[path];
    if (entry.size != info.size() || entry.modified != info.lastModified()) {
        QFile file(path);
        QCryptographicHash hash(QCryptographicHash::Md5);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
            m_companions.remove(path);
            return QByteArray();
        }
        entry.size = info.size();
        entry.modified = info.lastModified();
        entry.md5Hex = hash.result().toHex();
    }
    return companion(entry.md5Hex, quint64(entry.size));
}

QByteArray HttpFileServer::boundaryOf(const QByteArray &contentType)
{
    for (const auto &item : headerParams(contentType)) {
        if (item.first == "boundary")
            return item.second;
    }
    return QByteArray();
}

QHash<QString, QString> HttpFileServer::dispositionParams(const QByteArray &value)
{
    QHash<QString, QString> params;
    for (const auto &item : headerParams(value))
        params.insert(QString::fromLatin1(item.first), QString::fromUtf8(item.second));
    return params;
}

bool HttpFileServer::parseMultipart(
    const QByteArray &body, const QByteArray &boundary, QList<Part> &parts, QString *error)
{
    auto failWith = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    parts.clear();
    if (boundary.isEmpty())
        return failWith(QStringLiteral("no boundary"));
    const QByteArray delimiter = "--" + boundary;
    int pos = body.startsWith(delimiter) ? 0 : body.indexOf("\r\n" + delimiter);
    if (pos < 0)
        return failWith(QStringLiteral("boundary not found"));
    pos += body.startsWith(delimiter) ? delimiter.size() : delimiter.size() + 2;
    for (;;) {
        if (body.mid(pos, 2) == "--")
            return true;
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t'))
            ++pos;
        if (body.mid(pos, 2) != "\r\n")
            return failWith(QStringLiteral("part %1: boundary line not ended or body cut short")
                                .arg(parts.size() + 1));
        pos += 2;
        Part part;
        int dataStart = pos + 2;
        if (body.mid(pos, 2) != "\r\n") {
            const int headEnd = body.indexOf("\r\n\r\n", pos);
            if (headEnd < 0)
                return failWith(QStringLiteral("part %1: headers not ended").arg(parts.size() + 1));
            for (const QByteArray &line : body.mid(pos, headEnd - pos).split('\n')) {
                const int colon = line.indexOf(':');
                if (colon <= 0)
                    return failWith(
                        QStringLiteral("part %1: bad header line").arg(parts.size() + 1));
                part.headers.append(
                    {line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
            }
            dataStart = headEnd + 4;
        }
        const int next = body.indexOf("\r\n" + delimiter, dataStart);
        if (next < 0)
            return failWith(QStringLiteral("part %1: not closed").arg(parts.size() + 1));
        part.data = body.mid(dataStart, next - dataStart);
        for (const auto &h : part.headers) {
            if (h.first == "content-disposition") {
                const QHash<QString, QString> params = dispositionParams(h.second);
                part.name = params.value(QStringLiteral("name"));
                part.fileName = params.value(QStringLiteral("filename"));
            } else if (h.first == "content-type") {
                part.contentType = h.second;
            }
        }
        parts.append(part);
        pos = next + 2 + delimiter.size();
    }
}

void HttpFileServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *conn = new Connection(socket);
        conn->id = ++m_connectionSerial;
        m_connections.insert(socket, conn);
        connect(socket, &QTcpSocket::readyRead, conn, [this, conn]() { onReadyRead(conn); });
        connect(socket, &QTcpSocket::bytesWritten, conn, [this, conn]() { pump(conn); });
        connect(socket, &QTcpSocket::disconnected, conn, [this, conn]() { onDisconnected(conn); });
    }
}

void HttpFileServer::onReadyRead(Connection *conn)
{
    if (conn->gone)
        return;
    const QByteArray chunk = conn->socket->readAll();
    if (conn->closing)
        return; // the answer in progress is the last one
    conn->in.append(chunk);
    if (!conn->busy)
        processInput(conn);
}

void HttpFileServer::onDisconnected(Connection *conn)
{
    if (conn->gone)
        return;
    conn->gone = true;
    m_connections.remove(conn->socket);
    conn->socket->deleteLater();
    if (!conn->busy)
        return;
    // The connection ended in the middle of an answer (or before it started).
    if (Request *request = current(conn))
        request->bytesSent = conn->sent;
    const QString method = QString::fromLatin1(conn->method);
    const QString target = QString::fromUtf8(conn->target);
    if (conn->status == 0) {
        log(QStringLiteral("HTTP %1 %2 closed before the answer").arg(method, target));
    } else {
        log(QStringLiteral("HTTP %1 %2 %3 %4 cut off, %5 bytes not sent")
                .arg(method, target)
                .arg(conn->status)
                .arg(conn->sent)
                .arg(conn->remaining));
    }
    conn->source.reset();
    emit requestServed(method, target, conn->status);
}

void HttpFileServer::processInput(Connection *conn)
{
    conn->dispatching = true;
    while (!conn->gone && !conn->busy && !conn->closing && takeRequest(conn)) { }
    conn->dispatching = false;
}

// Reads one request from the connection's input and starts its answer; false
// while the request is not complete yet.
bool HttpFileServer::takeRequest(Connection *conn)
{
    QByteArray &in = conn->in;
    auto reject = [this, conn](int status) {
        conn->in.clear();
        conn->haveHead = false;
        conn->body.clear();
        conn->closing = true;
        conn->busy = true;
        Request request;
        request.connection = conn->id;
        request.method = QString::fromLatin1(conn->method);
        request.target = QString::fromUtf8(conn->target);
        request.timeMs = QDateTime::currentMSecsSinceEpoch();
        conn->serial = m_nextSerial++;
        m_requests.append(request);
        sendSimple(conn, status, QByteArray::number(status) + ' ' + reason(status) + '\n');
        return true;
    };

    if (!conn->haveHead) {
        // Blank lines before a request line are ignored.
        while (in.startsWith("\r\n") || in.startsWith('\n'))
            in.remove(0, in.startsWith('\n') ? 1 : 2);
        int end = in.indexOf("\r\n\r\n");
        int separator = 4;
        const int bare = in.indexOf("\n\n");
        if (bare >= 0 && (end < 0 || bare < end)) {
            end = bare;
            separator = 2;
        }
        if (end < 0 || end > MAX_HEAD) {
            conn->method.clear();
            conn->target.clear();
            return in.size() > MAX_HEAD ? reject(431) : false;
        }
        QList<QByteArray> lines = in.left(end).split('\n');
        in.remove(0, end + separator);
        for (QByteArray &line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
        }
        const QList<QByteArray> words = lines.takeFirst().split(' ');
        conn->method = words.value(0);
        conn->target = words.value(1);
        conn->version = words.value(2);
        conn->headers.clear();
        const bool originForm = conn->target.startsWith('/');
        const bool absoluteForm
            = conn->target.startsWith("http://") || conn->target.startsWith("https://");
        if (words.size() != 3 || conn->method.isEmpty() || !(originForm || absoluteForm))
            return reject(400);
        if (!conn->version.startsWith("HTTP/1."))
            return reject(conn->version.startsWith("HTTP/") ? 505 : 400);
        qint64 length = 0;
        bool haveLength = false;
        for (const QByteArray &line : lines) {
            const int colon = line.indexOf(':');
            if (colon <= 0)
                return reject(400);
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            conn->headers.append({name, value});
            if (name == "content-length") {
                bool ok = !value.isEmpty();
                for (char c : value)
                    ok = ok && c >= '0' && c <= '9';
                const qint64 number = ok ? value.toLongLong(&ok) : -1;
                if (!ok || (haveLength && number != length))
                    return reject(400);
                length = number;
                haveLength = true;
            }
        }
        if (!conn->header("transfer-encoding").isEmpty())
            return reject(501);
        if (length > MAX_BODY)
            return reject(413);
        const QByteArray connection = conn->header("connection").toLower();
        conn->keepAlive = conn->version == "HTTP/1.0" ? connection.contains("keep-alive")
                                                      : !connection.contains("close");
        conn->bodyLength = length;
        conn->continueSent = false;
        conn->haveHead = true;

        QByteArray path = conn->target;
        if (!path.startsWith('/')) { // absolute form: http://host:port/path
            const int slash = path.indexOf('/', path.indexOf("//") + 2);
            path = slash < 0 ? QByteArray("/") : path.mid(slash);
        }
        for (char cut : {'?', '#'}) {
            const int at = path.indexOf(cut);
            if (at >= 0)
                path.truncate(at);
        }
        conn->path = QString::fromUtf8(QByteArray::fromPercentEncoding(path));
        conn->name = QString::fromUtf8(
            QByteArray::fromPercentEncoding(path.mid(path.lastIndexOf('/') + 1)));
    }

    if (in.size() < conn->bodyLength) {
        if (!conn->continueSent && conn->version == "HTTP/1.1"
            && conn->header("expect").toLower() == "100-continue") {
            conn->socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            conn->continueSent = true;
        }
        return false;
    }
    conn->body = in.left(int(conn->bodyLength));
    in.remove(0, int(conn->bodyLength));
    conn->haveHead = false;

    Request request;
    request.connection = conn->id;
    request.method = QString::fromLatin1(conn->method);
    request.target = QString::fromUtf8(conn->target);
    request.name = conn->name;
    request.timeMs = QDateTime::currentMSecsSinceEpoch();
    request.bytesReceived = conn->body.size();
    conn->serial = m_nextSerial++;
    m_requests.append(request);
    conn->busy = true;
    conn->status = 0;
    conn->sent = 0;
    conn->remaining = 0;
    if (m_delayMs > 0) {
        QTimer::singleShot(m_delayMs, conn, [this, conn]() {
            if (!conn->gone)
                answer(conn);
        });
    } else {
        answer(conn);
    }
    return true;
}

void HttpFileServer::answer(Connection *conn)
{
    if (!conn->keepAlive)
        conn->closing = true;
    if (conn->method == "GET" || conn->method == "HEAD")
        answerFile(conn, conn->isHead());
    else if (conn->method == "POST")
        answerPost(conn);
    else
        sendSimple(
            conn, 405, "405 Method Not Allowed\n", "text/plain", {{"Allow", "GET, HEAD, POST"}});
}

void HttpFileServer::answerFile(Connection *conn, bool head)
{
    const QString name = conn->name;
    if (m_fail.contains(name)) {
        if (--m_fail[name] <= 0)
            m_fail.remove(name);
        sendSimple(conn, 500, "500 Internal Server Error (injected)\n");
        return;
    }
    if (!validName(name) || m_filesDir.isEmpty()) {
        sendSimple(conn, 404, "404 Not Found\n");
        return;
    }
    const QString path = m_filesDir + QLatin1Char('/') + name;
    std::unique_ptr<QIODevice> source;
    if (QFileInfo(path).isFile()) {
        source = std::make_unique<QFile>(path);
    } else if (name.endsWith(QLatin1String(".md5")) && QFileInfo(path.chopped(4)).isFile()) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(companionFor(path.chopped(4)));
        source = std::move(buffer);
    }
    if (!source || !source->open(QIODevice::ReadOnly)) {
        sendSimple(conn, 404, "404 Not Found\n");
        return;
    }
    const qint64 size = source->size();

    int status = 200;
    qint64 start = 0;
    qint64 end = size - 1;
    Headers extra {{"Accept-Ranges", "bytes"}};
    const QByteArray range = conn->header("range");
    if (!range.isEmpty() && conn->header("if-range").isEmpty()) {
        const int found = parseRange(range, size, start, end);
        if (found < 0) {
            sendSimple(conn, 416, QByteArray(), "application/octet-stream",
                {{"Content-Range", "bytes */" + QByteArray::number(size)}});
            return;
        }
        if (found > 0) {
            status = 206;
            extra.append({"Content-Range",
                "bytes " + QByteArray::number(start) + '-' + QByteArray::number(end) + '/'
                    + QByteArray::number(size)});
        }
    }
    const qint64 length = end - start + 1;
    sendHead(conn, status, length, "application/octet-stream", extra);
    if (head) {
        finish(conn);
        return;
    }
    conn->flipAt = -1;
    const bool corruptAll = m_corruptAll && !name.endsWith(QLatin1String(".md5"));
    if (m_corrupt.contains(name) || corruptAll) {
        if (m_corrupt.contains(name) && --m_corrupt[name] <= 0)
            m_corrupt.remove(name);
        if (size > 0)
            conn->flipAt = size / 2;
    }
    conn->holdAfter = m_stall.contains(name) ? length / 2 : -1;
    conn->held = false;
    if (start > 0)
        source->seek(start);
    conn->position = start;
    conn->remaining = length;
    conn->sent = 0;
    conn->source = std::move(source);
    pump(conn);
}

void HttpFileServer::answerPost(Connection *conn)
{
    const QString path = conn->path;
    if (path == QLatin1String("/getweather")) {
        answerWeather(conn);
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool statistics = path == QLatin1String("/mtllog/add");
    const auto override = m_postReplies.constFind(path);
    bool overridden = override != m_postReplies.constEnd();
    int status = overridden ? override->first : 200;
    QByteArray reply = overridden ? override->second
        : statistics              ? QByteArray("{\"status\":200}")
                                  : QByteArray("{\"code\":0}");
    auto failures = m_postFailures.find(path);
    if (failures != m_postFailures.end()) {
        if (failures->after > 0) {
            --failures->after;
        } else {
            overridden = true;
            status = 500;
            reply = "{\"status\":500}";
            if (--failures->count <= 0)
                m_postFailures.erase(failures);
        }
    }

    if (path == QLatin1String("/logfile/upload")) {
        Upload upload;
        upload.path = path;
        upload.timeMs = now;
        upload.contentType = conn->header("content-type");
        upload.size = conn->body.size();
        if (!upload.contentType.toLower().startsWith("multipart/form-data"))
            upload.error = QStringLiteral("not multipart/form-data");
        else
            parseMultipart(conn->body, boundaryOf(upload.contentType), upload.parts, &upload.error);
        if (!upload.error.isEmpty() && !overridden) {
            status = 400;
            reply = jsonError(upload.error);
        }
        upload.status = status;
        m_uploads.append(upload);
        Part first;
        for (const Part &part : upload.parts) {
            if (!part.fileName.isEmpty()) {
                first = part;
                break;
            }
        }
        if (first.fileName.isEmpty() && !upload.parts.isEmpty())
            first = upload.parts.first();
        if (upload.error.isEmpty())
            log(QStringLiteral("HTTP upload: %1 parts, %2=\"%3\" %4 bytes")
                    .arg(upload.parts.size())
                    .arg(first.name, first.fileName)
                    .arg(first.data.size()));
        else
            log(QStringLiteral("HTTP upload not readable: %1").arg(upload.error));
        emit uploadReceived(first.name, first.fileName, first.data.size());
    } else if (statistics) {
        Post post;
        post.path = path;
        post.timeMs = now;
        post.body = conn->body;
        post.report = StatReport::parse(conn->body);
        post.status = status;
        post.accepted
            = status == 200 && (reply.contains("\"status\":200") || reply.contains("\"code\":0"));
        m_statistics.append(post);
        log(QStringLiteral("HTTP statistics: %1, answered %2")
                .arg(post.report.summary(), QString::number(status)));
        emit statisticsReceived(conn->body);
    } else {
        sendSimple(conn, 404, "404 Not Found\n");
        return;
    }
    if (!conn->gone)
        sendSimple(conn, status, reply, "application/json");
}

void HttpFileServer::answerWeather(Connection *conn)
{
    const WeatherService::Reply reply = m_weather.answer(conn->body, QDateTime::currentDateTime());
    log(QStringLiteral("HTTP weather: \"%1\" %2%3")
            .arg(reply.city)
            .arg(reply.outcome)
            .arg(reply.delayMs > 0 ? QStringLiteral(", answered in %1 ms").arg(reply.delayMs)
                                   : QString()));
    auto send = [this, conn, reply]() {
        if (!conn->gone)
            sendSimple(conn, reply.status, reply.body, reply.contentType);
    };
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, conn, send);
    else
        send();
}

void HttpFileServer::sendHead(
    Connection *conn, int status, qint64 length, const QByteArray &type, const Headers &extra)
{
    if (!conn->keepAlive)
        conn->closing = true;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    head += "Server: lumasim\r\n";
    head += "Date: "
        + QLocale::c()
              .toString(QDateTime::currentDateTimeUtc(),
                  QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
              .toLatin1()
        + "\r\n";
    head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &h : extra)
        head += h.first + ": " + h.second + "\r\n";
    if (conn->closing)
        head += "Connection: close\r\n";
    else if (conn->version == "HTTP/1.0")
        head += "Connection: keep-alive\r\n";
    head += "\r\n";
    conn->socket->write(head);
    conn->status = status;
    if (Request *request = current(conn)) {
        request->status = status;
        request->contentLength = length;
    }
}

void HttpFileServer::sendSimple(Connection *conn, int status, const QByteArray &body,
    const QByteArray &type, const Headers &extra)
{
    sendHead(conn, status, body.size(), type, extra);
    if (!conn->isHead()) {
        conn->socket->write(body);
        conn->sent = body.size();
    }
    finish(conn);
}

void HttpFileServer::pump(Connection *conn)
{
    if (conn->gone || !conn->source || conn->dripWaiting)
        return;
    while (conn->remaining > 0) {
        if (conn->holdAfter >= 0 && conn->sent >= conn->holdAfter) {
            if (!conn->held) {
                conn->held = true;
                if (Request *request = current(conn))
                    request->bytesSent = conn->sent;
                log(QStringLiteral("HTTP %1 %2 %3 held after %4 of %5 bytes")
                        .arg(QString::fromLatin1(conn->method), QString::fromUtf8(conn->target))
                        .arg(conn->status)
                        .arg(conn->sent)
                        .arg(conn->sent + conn->remaining));
                emit answerHeld(conn->name);
            }
            return;
        }
        if (conn->socket->bytesToWrite() >= CHUNK)
            return; // bytesWritten brings us back
        qint64 want = qMin(m_dripMs > 0 ? qint64(1) : CHUNK, conn->remaining);
        if (conn->holdAfter >= 0)
            want = qMin(want, conn->holdAfter - conn->sent);
        QByteArray piece = conn->source->read(want);
        if (piece.isEmpty()) {
            // The file shrank or cannot be read: the client sees a short body.
            log(QStringLiteral("HTTP %1: read error, connection closed").arg(conn->name));
            conn->socket->abort();
            return;
        }
        if (conn->flipAt >= conn->position && conn->flipAt < conn->position + piece.size())
            piece[int(conn->flipAt - conn->position)]
                = char(~piece[int(conn->flipAt - conn->position)]);
        conn->position += piece.size();
        conn->sent += piece.size();
        conn->remaining -= piece.size();
        conn->socket->write(piece);
        if (Request *request = current(conn))
            request->bytesSent = conn->sent;
        if (m_dripMs > 0 && conn->remaining > 0) {
            conn->dripWaiting = true;
            QTimer::singleShot(m_dripMs, conn, [this, conn]() {
                conn->dripWaiting = false;
                pump(conn);
            });
            return;
        }
    }
    finish(conn);
}

void HttpFileServer::finish(Connection *conn)
{
    if (Request *request = current(conn)) {
        request->complete = true;
        request->bytesSent = conn->sent;
    }
    const QString method = QString::fromLatin1(conn->method);
    const QString target = QString::fromUtf8(conn->target);
    const int status = conn->status;
    log(QStringLiteral("HTTP %1 %2 %3 %4").arg(method, target).arg(status).arg(conn->sent));
    conn->source.reset();
    conn->busy = false;
    conn->held = false;
    conn->holdAfter = -1;
    conn->flipAt = -1;
    conn->serial = -1;
    conn->body.clear();
    if (conn->closing) {
        QTcpSocket *socket = conn->socket;
        QMetaObject::invokeMethod(
            socket, [socket]() { socket->disconnectFromHost(); }, Qt::QueuedConnection);
    }
    emit requestServed(method, target, status);
    if (!conn->gone && !conn->closing && !conn->dispatching && !conn->in.isEmpty())
        processInput(conn);
}

void HttpFileServer::log(const QString &line)
{
    emit logLine(line);
}
