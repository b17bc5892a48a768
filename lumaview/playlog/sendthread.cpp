#include "playlog/sendthread.h"
#include "datalayout.h"

#include "setaside.h"

#include "dailylog.h"
#include "notifyprotocol.h"
#include "playlog/playlog.h"
#include "version.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <memory>

SendThread::SendThread(QObject *parent, const DataLayout &layout)
    : LoopThread(parent)
    , m_workPath(layout.playLogWork())
{ }

SendThread::~SendThread()
{
    stop();
}

void SendThread::init(PlayLog *playLog)
{
    m_playLog = playLog;
}

void SendThread::setTimings(int periodMs, int postTimeoutMs)
{
    m_periodMs = periodMs;
    m_postTimeoutMs = postTimeoutMs;
}

void SendThread::onStopRequested()
{
    // The request's loop is looked at under the same lock as the stop flag
    // is when the loop is entered: either the request sees the stop, or its
    // loop is quit here.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_loop)
        QMetaObject::invokeMethod(m_loop, "quit", Qt::QueuedConnection);
}

void SendThread::loop()
{
    // One manager for every request of the thread: making one costs more than
    // a request to the service itself.
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    m_runManager = &manager;
    while (sleepFor(m_periodMs.load())) {
        checkMessageFile();
        ++m_passes;
    }
    m_runManager = nullptr;
}

void SendThread::checkMessageFile()
{
    assertOnLoopThread();
    try {
        if (QFile::exists(m_workPath)) {
            // An earlier pass did not finish (the service was away, or the
            // program ended on the way): deliver what it had not handled yet,
            // before anything newer.
            if (!deliverWorkFile(readProgress()))
                return;
        }
        // A pass that ended between removing the work file and its progress.
        QFile::remove(progressFilePath());
        if (!m_playLog || !m_playLog->takeOverMessageFile(m_workPath))
            return;
        deliverWorkFile(0);
    } catch (...) {
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("SendThread"),
            QStringLiteral("checkMessageFile fail"));
    }
}

bool SendThread::deliverWorkFile(qint64 from)
{
    QFile file(m_workPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    file.close();

    // A position that is not at a line start cannot come from this thread:
    // start over rather than risk skipping a line.
    if (from < 0 || from > bytes.size() || (from > 0 && bytes.at(int(from) - 1) != '\n'))
        from = 0;
    int pos = int(from);
    while (pos < bytes.size()) {
        const int newline = bytes.indexOf('\n', pos);
        const int end = newline < 0 ? bytes.size() : newline + 1;
        // The service is away or cannot keep statements now: the pass ends
        // here and the next one starts again at this line, instead of trying
        // every line waiting behind it.
        if (!processReadMessage(bytes.mid(pos, end - pos)))
            return false;
        pos = end;
        writeProgress(pos);
        if (stopRequested() && pos < bytes.size())
            return false; // the rest waits in the work file for the next start
    }
    QFile::remove(m_workPath);
    QFile::remove(progressFilePath());
    return true;
}

void SendThread::setAside(const QByteArray &line, int code)
{
    appendSetAside(setAsidePath(), line, MAX_SET_ASIDE_BYTES);
    m_setAsideLog.note(
        QStringLiteral("The service will never take this line (%1): set aside in %2: %3")
            .arg(code)
            .arg(setAsidePath(), QString::fromUtf8(line.left(200)).trimmed()));
}

qint64 SendThread::readProgress() const
{
    QFile file(progressFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 position = file.readAll().trimmed().toLongLong(&ok);
    return ok ? position : 0;
}

void SendThread::writeProgress(qint64 position) const
{
    // Fixed width, written in place with one write: the file never holds a
    // half-updated number.
    QFile file(progressFilePath());
    if (!file.open(QIODevice::ReadWrite))
        return;
    file.write(QByteArray::number(position).rightJustified(20, '0'));
    file.close();
}

bool SendThread::processReadMessage(const QByteArray &line)
{
    QByteArray bytes = line;
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString text = QString::fromUtf8(bytes);
    const int bar = text.indexOf(QLatin1Char('|'));
    if (bar <= 0)
        return true; // empty line, or no type: dropped
    const QString type = text.left(bar);
    QString content = text.mid(bar + 1);
    // The line end is not part of the statement; line breaks and backslashes
    // inside it were written escaped.
    while (content.endsWith(QLatin1Char('\n')) || content.endsWith(QLatin1Char('\r')))
        content.chop(1);
    content = PlayLog::unescapeContent(content);
    if (content.isEmpty())
        return true;
    const QString reply = notifyService(type, content);
    // Only {"code":0} means the service kept an "SQL" statement: no answer, a
    // refusal for now (queue full, statement not stored) or a garbled answer
    // leaves it waiting. One the service will never take (no play record, or
    // too long for a request) is set aside, so the lines after it go on.
    // Other commands are not retried.
    if (type != QLatin1String("SQL") || NotifyProtocol::isAccepted(reply))
        return true;
    const int code = NotifyProtocol::answerCode(reply);
    if (code != NotifyProtocol::NO_PLAY_RECORD && code != 413)
        return false;
    setAside(line, code);
    return true;
}

QString SendThread::notifyService(const QString &cmd, const QString &param)
{
    return post(NotifyProtocol::buildUrl(SERVICE_PORT, cmd, param), QString(), QByteArray());
}

QString SendThread::post(const QString &url, const QString &contentType, const QByteArray &body)
{
    // The thread's own manager; a caller on another thread (a test driving a
    // pass directly) gets one for this request.
    std::unique_ptr<QNetworkAccessManager> own;
    QNetworkAccessManager *manager = QThread::currentThread() == this ? m_runManager : nullptr;
    if (!manager) {
        own = std::make_unique<QNetworkAccessManager>();
        own->setProxy(QNetworkProxy::NoProxy);
        manager = own.get();
    }
    QNetworkRequest request {QUrl(url, QUrl::TolerantMode)};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
        contentType.isEmpty() ? QStringLiteral("application/x-www-form-urlencoded") : contentType);
    QNetworkReply *reply = manager->post(request, body);

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(m_postTimeoutMs.load());
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loop = &loop;
        stopping = stopRequested();
    }
    if (!stopping && !reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loop = nullptr;
    }

    // A refusal (400) carries its reason in the body as well.
    QString result;
    const bool answered = reply->isFinished()
        && (reply->error() == QNetworkReply::NoError
            || reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
    if (answered) {
        QByteArray data = reply->readAll();
        const int nul = data.indexOf('\0');
        if (nul >= 0)
            data.truncate(nul);
        result = QString::fromUtf8(data);
    } else {
        reply->abort();
    }
    delete reply;
    return result;
}
