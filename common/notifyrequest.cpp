#include "notifyrequest.h"

#include <QList>

namespace {

// Where the head ends (the first byte after its blank line), or -1. Lines
// may end in CRLF or in LF alone.
int headEnd(const QByteArray &bytes)
{
    const int crlf = bytes.indexOf("\r\n\r\n");
    const int lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf + 2 <= lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

QList<QByteArray> headerLines(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    if (!lines.isEmpty())
        lines.removeFirst(); // the request line
    for (QByteArray &line : lines)
        line = line.trimmed();
    return lines;
}

bool isHeader(const QByteArray &line, const char *name)
{
    const int colon = line.indexOf(':');
    return colon > 0 && line.left(colon).trimmed().toLower() == name;
}

} // namespace

NotifyRequest::State NotifyRequest::add(const QByteArray &bytes)
{
    if (m_state != State::Incomplete)
        return m_state;
    m_bytes.append(bytes);
    // A NUL ends the request text, as it always has.
    const int nul = m_bytes.indexOf('\0');
    const QByteArray text = nul >= 0 ? m_bytes.left(nul) : m_bytes;
    const int end = headEnd(text);
    if (end < 0) {
        if (nul >= 0) {
            m_request = text;
            m_state = State::Complete;
        } else if (m_bytes.size() > MAX_BYTES) {
            m_state = State::TooLarge;
        }
        return m_state;
    }
    qint64 length = 0;
    for (const QByteArray &line : headerLines(text.left(end))) {
        if (isHeader(line, "content-length")) {
            bool ok = false;
            length = line.mid(line.indexOf(':') + 1).trimmed().toLongLong(&ok);
            if (!ok || length < 0)
                length = 0;
        }
    }
    if (end + length > MAX_BYTES) {
        m_state = State::TooLarge;
        return m_state;
    }
    if (nul < 0 && m_bytes.size() < end + length)
        return m_state;
    m_request = text.left(int(end + length));
    m_state = State::Complete;
    return m_state;
}

QString NotifyRequest::refusal(const QByteArray &request)
{
    const int lineEnd = request.indexOf('\n');
    const QByteArray requestLine = request.left(lineEnd < 0 ? request.size() : lineEnd);
    const QByteArray method = requestLine.left(requestLine.indexOf(' '));
    if (method != "POST")
        return QStringLiteral("method %1").arg(QString::fromLatin1(method.left(16)));
    const int end = headEnd(request);
    for (const QByteArray &line : headerLines(request.left(end < 0 ? request.size() : end))) {
        if (isHeader(line, "origin"))
            return QStringLiteral("Origin header");
        if (isHeader(line, "referer"))
            return QStringLiteral("Referer header");
    }
    return QString();
}
