#pragma once

#include "httpmessage.h"

#include <QObject>
#include <QString>

#include <memory>

class HttpFaults;
class QIODevice;
class QTcpSocket;

// What the HTTP server keeps of each request it read.
struct HttpRequestRecord
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

// One accepted connection of the HTTP server. It reads the requests one after
// the other (keep-alive and pipelining; a request that cannot be read gets its
// error answer and closes the connection), hands each complete one over with
// requestReady() and sends the answer it is given: head and body, the body in
// pieces as the connection drains, possibly stopped halfway for a stall,
// carrying an inverted byte or dripping. It keeps the request's record up to
// date and logs one line per answer.
//
// A child of its socket, so it lives exactly as long as the socket; gone() is
// true once the connection has ended and the socket is on its way out.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 CHUNK = 256 * 1024;

    // The delay before each answer and the drip of bodies come from faults.
    HttpConnection(QTcpSocket *socket, int id, const HttpFaults &faults);

    QTcpSocket *socket() const { return m_socket; }
    bool gone() const { return m_gone; }
    bool held() const { return m_held; }
    // The request being answered.
    const HttpRequest &request() const { return m_request; }
    // True while the body being sent stops, or has stopped, halfway for a
    // stall of name.
    bool stalling(const QString &name) const { return m_holdAfter >= 0 && m_request.name == name; }

    void sendHead(int status, qint64 length, const QByteArray &type, const HttpHeaders &extra = {});
    // A whole answer: the head and, but to HEAD, the body.
    void sendSimple(int status, const QByteArray &body, const QByteArray &type = "text/plain",
        const HttpHeaders &extra = {});
    // After sendHead(): length bytes of source from offset start. The byte at
    // source offset flipAt (-1: none) goes out inverted; with holdAfter >= 0
    // the body stops after that many bytes until resume().
    void sendBody(std::unique_ptr<QIODevice> source, qint64 start, qint64 length, qint64 flipAt,
        qint64 holdAfter);
    // The answer is complete (a HEAD answer after its head).
    void finish();
    // A stalled body goes on to its end.
    void resume();
    void abort();

signals:
    // A request was read; the server keeps its record.
    void requestRecorded(const std::shared_ptr<HttpRequestRecord> &record);
    // The request read waits for its answer (the delay in force has passed).
    void requestReady();
    // A stalled body has sent what it will send until resume().
    void answerHeld(const QString &name);
    // An answer ended: handed over completely, or cut off.
    void answerEnded(const QString &method, const QString &target, int status);
    // The connection has ended; the object goes with its socket.
    void closed();
    void logLine(const QString &line);

private:
    void onReadyRead();
    void onDisconnected();
    void processInput();
    bool takeRequest();
    void reject(int status);
    void record(const QString &name, qint64 bytesReceived);
    void startAnswer();
    void pump();

    QTcpSocket *m_socket;
    const int m_id;
    const HttpFaults &m_faults;
    bool m_gone = false;
    QByteArray m_in;
    bool m_haveHead = false;
    bool m_busy = false; // a request is being answered or waits for its delay
    bool m_closing = false; // no further requests are read
    bool m_dispatching = false; // processInput() is on the stack
    bool m_continueSent = false;

    // The request being read or answered, and its record.
    HttpRequest m_request;
    std::shared_ptr<HttpRequestRecord> m_record;
    int m_status = 0;

    // The answer body on its way out.
    std::unique_ptr<QIODevice> m_source;
    qint64 m_position = 0; // offset in source of the next byte to send
    qint64 m_remaining = 0;
    qint64 m_sent = 0;
    qint64 m_holdAfter = -1; // stalled: body bytes to send before holding
    qint64 m_flipAt = -1; // source offset of the byte sent inverted
    bool m_held = false;
    bool m_dripWaiting = false; // the next dripped byte waits for its timer
};
