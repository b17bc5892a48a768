#include "httpmessage.h"

int HttpRequest::readHead(QByteArray &in)
{
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
        method.clear();
        target.clear();
        return in.size() > MAX_HEAD ? 431 : INCOMPLETE;
    }
    QList<QByteArray> lines = in.left(end).split('\n');
    in.remove(0, end + separator);
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> words = lines.takeFirst().split(' ');
    method = words.value(0);
    target = words.value(1);
    version = words.value(2);
    headers.clear();
    const bool originForm = target.startsWith('/');
    const bool absoluteForm = target.startsWith("http://") || target.startsWith("https://");
    if (words.size() != 3 || method.isEmpty() || !(originForm || absoluteForm))
        return 400;
    if (!version.startsWith("HTTP/1."))
        return version.startsWith("HTTP/") ? 505 : 400;
    qint64 length = 0;
    bool haveLength = false;
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return 400;
        const QByteArray field = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        headers.append({field, value});
        if (field == "content-length") {
            bool ok = !value.isEmpty();
            for (char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 number = ok ? value.toLongLong(&ok) : -1;
            if (!ok || (haveLength && number != length))
                return 400;
            length = number;
            haveLength = true;
        }
    }
    if (!header("transfer-encoding").isEmpty())
        return 501;
    if (length > MAX_BODY)
        return 413;
    const QByteArray connection = header("connection").toLower();
    keepAlive
        = version == "HTTP/1.0" ? connection.contains("keep-alive") : !connection.contains("close");
    bodyLength = length;

    QByteArray bytes = target;
    if (!bytes.startsWith('/')) { // absolute form: http://host:port/path
        const int slash = bytes.indexOf('/', bytes.indexOf("//") + 2);
        bytes = slash < 0 ? QByteArray("/") : bytes.mid(slash);
    }
    for (char cut : {'?', '#'}) {
        const int at = bytes.indexOf(cut);
        if (at >= 0)
            bytes.truncate(at);
    }
    path = QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
    name
        = QString::fromUtf8(QByteArray::fromPercentEncoding(bytes.mid(bytes.lastIndexOf('/') + 1)));
    return 0;
}

QByteArray HttpRequest::header(const char *lowerName) const
{
    for (const auto &h : headers) {
        if (h.first == lowerName)
            return h.second;
    }
    return QByteArray();
}

const char *httpReason(int status)
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

HttpHeaders headerParams(const QByteArray &value)
{
    HttpHeaders items;
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
