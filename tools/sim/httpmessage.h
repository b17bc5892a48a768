#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Header lines, names in lower case as received.
using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// One HTTP/1.x request as the simulator's HTTP server reads it off a
// connection: the request line, the headers and (once it has all arrived) the
// body, which needs a Content-Length.
struct HttpRequest
{
    static constexpr qint64 MAX_BODY = 256 * 1024 * 1024;
    static constexpr int MAX_HEAD = 64 * 1024;
    // readHead(): the head is not complete yet.
    static constexpr int INCOMPLETE = -1;

    QByteArray method;
    QByteArray target; // as written in the request line
    QByteArray version;
    HttpHeaders headers;
    qint64 bodyLength = 0;
    QByteArray body;
    bool keepAlive = true;
    QString path; // percent-decoded, without query
    QString name; // last segment of the path, percent-decoded

    // Takes the next request head off the front of in (blank lines before it
    // are dropped). Returns 0 when a head was read, INCOMPLETE while it has not
    // all arrived, or the status of the error answer it gets (400, 413, 431,
    // 501, 505). Method, target and version are those of the request line read,
    // also when it is refused; both are empty while no head is complete.
    int readHead(QByteArray &in);

    QByteArray header(const char *lowerName) const;
    bool isHead() const { return method == "HEAD"; }
};

// The reason phrase of a status line.
const char *httpReason(int status);

// Splits "type; a=b; c=\"d;e\"" into its items, names in lower case; quoted
// values lose their quotes and backslash escapes.
HttpHeaders headerParams(const QByteArray &value);
