#include "content/httpfetch.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

namespace {

constexpr int POLL_MS = 100;
constexpr qint64 READ_BLOCK = 1024 * 1024;

// What one try left behind, and whether another may follow.
enum class Try { Done, Retry, Refused, Stopped };

class Transfer
{
public:
    Transfer(QFile &file, const HttpFetch::Options &options)
        : m_file(file)
        , m_options(options)
    { }

    Try once(QNetworkAccessManager &manager, const QString &url)
    {
        QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
        request.setAttribute(
            QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(HttpFetch::MAX_REDIRECTS);
        const qint64 resumeFrom = m_have;
        if (resumeFrom > 0)
            request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeFrom) + '-');
        QNetworkReply *reply = manager.get(request);
        // What waits in memory is bounded: the socket is read no faster than
        // the disk takes it.
        reply->setReadBufferSize(4 * READ_BLOCK);
        QObject::connect(reply, &QNetworkReply::sslErrors, reply,
            [reply](const QList<QSslError> &) { reply->ignoreSslErrors(); });

        Try outcome = Try::Retry;
        bool bodyStarted = false;
        bool errorPage = false;
        qint64 expected = -1; // whole length, when announced
        QEventLoop loop;
        QTimer idle;
        idle.setSingleShot(true);
        QTimer poll;
        const auto end = [&](Try how) {
            outcome = how;
            if (!reply->isFinished())
                reply->abort();
            loop.quit();
        };
        const auto startBody = [&]() -> bool {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (status == 206 && resumeFrom > 0) {
                // Continued where it stopped.
            } else if (status >= 200 && status < 300) {
                restart();
            } else {
                // An error page is never written into the file (it is read
                // and dropped as it comes). Errors of the server itself may
                // pass; anything else will not.
                outcome = status >= 500 ? Try::Retry : Try::Refused;
                errorPage = true;
                return false;
            }
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid())
                expected = m_have + length.toLongLong();
            bodyStarted = true;
            return true;
        };
        // Moves what arrived into the file; false when the disk took no more
        // or the server sent more than it announced.
        const auto take = [&]() -> bool {
            const QByteArray block = reply->readAll();
            if (m_file.write(block) != block.size())
                return false;
            m_hash.addData(block);
            m_have += block.size();
            return expected < 0 || m_have <= expected;
        };
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
            idle.start();
            if (errorPage || (!bodyStarted && !startBody())) {
                reply->readAll();
                return;
            }
            // Taken in large blocks: fewer writes and hash calls.
            if (reply->bytesAvailable() >= READ_BLOCK && !take())
                end(Try::Refused);
        });
        QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
            // What came before the silence is kept: the next try goes on from there.
            end(bodyStarted && !take() ? Try::Refused : Try::Retry);
        });
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (m_options.keepGoing && !m_options.keepGoing())
                end(Try::Stopped);
        });
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        idle.start(qMax(1, m_options.idleTimeoutSec) * 1000);
        poll.start(POLL_MS);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        const std::unique_ptr<QNetworkReply> owned(reply);
        if (outcome != Try::Retry || !reply->isFinished())
            return outcome;
        // Ended by the server: whole, or broken off. Either way what arrived
        // goes into the file, so a next try can go on from there.
        if (reply->error() == QNetworkReply::NoError && !bodyStarted && !startBody())
            return outcome;
        // (A reply this side cut off is closed: what it held was taken then.)
        if (bodyStarted && reply->isOpen() && !take())
            return Try::Refused;
        if (reply->error() == QNetworkReply::NoError) {
            if (expected >= 0 && m_have != expected)
                return Try::Retry;
            return m_file.flush() ? Try::Done : Try::Refused;
        }
        // Like wget: a server that refuses the connection or the file is not
        // asked again at once; a transfer that broke off is.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if ((status >= 400 && status < 500)
            || reply->error() == QNetworkReply::ConnectionRefusedError
            || reply->error() == QNetworkReply::HostNotFoundError)
            return Try::Refused;
        return Try::Retry;
    }

    QString hex() const { return QString::fromLatin1(m_hash.result().toHex()); }

private:
    // A whole body comes: the file starts over.
    void restart()
    {
        m_file.resize(0);
        m_file.seek(0);
        m_hash.reset();
        m_have = 0;
    }

    QFile &m_file;
    const HttpFetch::Options &m_options;
    QCryptographicHash m_hash {QCryptographicHash::Md5};
    qint64 m_have = 0;
};

// Waits between tries; false when the transfer is no longer wanted.
bool pause(int seconds, const HttpFetch::Options &options)
{
    for (int waited = 0; waited < seconds * 1000; waited += POLL_MS) {
        if (options.keepGoing && !options.keepGoing())
            return false;
        QEventLoop loop;
        QTimer::singleShot(POLL_MS, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return !options.keepGoing || options.keepGoing();
}

} // namespace

HttpFetch::Result HttpFetch::toFile(
    const QString &url, const QString &path, const Options &options, QString *md5Hex)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Result::Failed;
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    Transfer transfer(file, options);
    for (int attempt = 1;; ++attempt) {
        switch (transfer.once(manager, url)) {
        case Try::Done:
            if (md5Hex)
                *md5Hex = transfer.hex();
            return Result::Done;
        case Try::Stopped:
            return Result::Stopped;
        case Try::Refused:
            return Result::Failed;
        case Try::Retry:
            break;
        }
        if (attempt >= options.tries)
            return Result::Failed;
        // Like wget: one second more before every further try, up to ten.
        if (!pause(qMin(attempt, MAX_RETRY_PAUSE_S), options))
            return Result::Stopped;
    }
}
