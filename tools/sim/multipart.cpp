#include "multipart.h"

namespace Multipart {

QByteArray boundaryOf(const QByteArray &contentType)
{
    for (const auto &item : headerParams(contentType)) {
        if (item.first == "boundary")
            return item.second;
    }
    return QByteArray();
}

QHash<QString, QString> dispositionParams(const QByteArray &value)
{
    QHash<QString, QString> params;
    for (const auto &item : headerParams(value))
        params.insert(QString::fromLatin1(item.first), QString::fromUtf8(item.second));
    return params;
}

bool parse(const QByteArray &body, const QByteArray &boundary, QList<Part> &parts, QString *error)
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

} // namespace Multipart
