#include "fileresponder.h"

#include "httpconnection.h"
#include "httpfaults.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

namespace {

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

} // namespace

std::unique_ptr<QIODevice> FileResponder::source(const QString &name)
{
    const QString path = m_filesDir + QLatin1Char('/') + name;
    if (QFileInfo(path).isFile())
        return std::make_unique<QFile>(path);
    if (name.endsWith(QLatin1String(".md5")) && QFileInfo(path.chopped(4)).isFile()) {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(m_companions.forFile(path.chopped(4)));
        return buffer;
    }
    return nullptr;
}

void FileResponder::answer(HttpConnection *conn)
{
    const HttpRequest &request = conn->request();
    const QString name = request.name;
    if (m_faults.takeFail(name)) {
        conn->sendSimple(500, "500 Internal Server Error (injected)\n");
        return;
    }
    if (!validName(name) || m_filesDir.isEmpty()) {
        conn->sendSimple(404, "404 Not Found\n");
        return;
    }
    std::unique_ptr<QIODevice> body = source(name);
    if (!body || !body->open(QIODevice::ReadOnly)) {
        conn->sendSimple(404, "404 Not Found\n");
        return;
    }
    const qint64 size = body->size();

    int status = 200;
    qint64 start = 0;
    qint64 end = size - 1;
    HttpHeaders extra {{"Accept-Ranges", "bytes"}};
    const QByteArray range = request.header("range");
    if (!range.isEmpty() && request.header("if-range").isEmpty()) {
        const int found = parseRange(range, size, start, end);
        if (found < 0) {
            conn->sendSimple(416, QByteArray(), "application/octet-stream",
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
    conn->sendHead(status, length, "application/octet-stream", extra);
    if (request.isHead()) {
        conn->finish();
        return;
    }
    // The inverted byte sits in the middle of the file, whatever range is sent.
    const qint64 flipAt = m_faults.takeCorrupt(name) && size > 0 ? size / 2 : -1;
    const qint64 holdAfter = m_faults.stalls(name) ? length / 2 : -1;
    conn->sendBody(std::move(body), start, length, flipAt, holdAfter);
}
