#pragma once

#include <QJsonObject>
#include <QString>

// The service's posts to the servers (logs, statistics, reports). All calls
// block their calling thread (which must be able to run an event loop) until
// the exchange ends or a limit passes.
class HttpClient
{
public:
    static constexpr int REPLY_TIMEOUT_MS = 5000;
    // The server's replies are short JSON texts; a longer one is a failure.
    static constexpr qint64 MAX_REPLY_BYTES = 1024 * 1024;
    // Reply body as UTF-8 up to the first NUL, or empty when the request failed
    // or no answer came within 5 s.
    static QString post(const QString &url, const QString &contentType, const QByteArray &body);
    static QString post(const QString &url, const QJsonObject &object);
    // Multipart upload of one file. The 5 s limit counts from the last progress,
    // so a large archive that keeps moving is not cut off.
    static QString postFile(const QString &url, const QString &name, const QString &filePath);
    static bool succeedPostResult(const QString &reply);
};
