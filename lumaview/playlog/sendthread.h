#pragma once

#include "datalayout.h"
#include "loopthread.h"
#include "throttledlog.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>

class PlayLog;
class QEventLoop;
class QNetworkAccessManager;

// Delivers the play log to the service: every 6 seconds it takes the message
// file over (renamed to data/storageMsg.temp, the work file) and sends each
// line as the local command "SQL" to port 12222.
//
// No line is lost and none is sent twice by a pass: after each line the
// position reached is recorded next to the work file. A statement the service
// does not take (no answer, or anything but {"code":0}) ends the pass: it and
// the lines behind it stay in the work file, and the next pass resumes there,
// before a new message file is taken over. So while the service is away a
// pass costs one attempt, however many lines wait. A work file left by a crash
// or by stop() is resumed the same way.
class SendThread : public LoopThread
{
    Q_OBJECT
public:
    explicit SendThread(QObject *parent = nullptr, const DataLayout &layout = DataLayout());
    ~SendThread() override;

    void init(PlayLog *playLog);

    // One delivery pass (normally run by the thread).
    void checkMessageFile();
    // Sends one stored line "TYPE|content" (with or without its line end).
    // False when it is an "SQL" statement the service did not take; a line
    // without a type or content is dropped (true).
    bool processReadMessage(const QByteArray &line);
    // Returns the reply body; empty when the service did not answer. A sender
    // that must not reach the service (fuzzing) answers in its place.
    virtual QString notifyService(const QString &cmd, const QString &param);
    // POST with a 5 s limit; the body of a successful reply, otherwise empty.
    QString post(const QString &url, const QString &contentType, const QByteArray &body);

    QString workFilePath() const { return m_workPath; }
    // Lines the service will never take, kept up to MAX_SET_ASIDE_BYTES.
    QString setAsidePath() const { return m_workPath + QStringLiteral(".bad"); }
    static constexpr qint64 MAX_SET_ASIDE_BYTES = 1024 * 1024;
    QString progressFilePath() const { return m_workPath + QStringLiteral(".pos"); }

    // Test hooks: shorter period and request limit, and the number of passes run.
    void setTimings(int periodMs, int postTimeoutMs);
    int passCount() const { return m_passes.load(); }

protected:
    void loop() override;
    // Cuts a pending request short.
    void onStopRequested() override;

private:
    bool deliverWorkFile(qint64 from);
    void setAside(const QByteArray &line, int code);
    qint64 readProgress() const;
    void writeProgress(qint64 position) const;

    QString m_workPath;
    PlayLog *m_playLog = nullptr;
    ThrottledLog m_setAsideLog {QStringLiteral("WARN"), QStringLiteral("SendThread")};

    std::atomic<int> m_periodMs {6000};
    std::atomic<int> m_postTimeoutMs {5000};
    std::atomic<int> m_passes {0};

    std::mutex m_mutex; // guards m_loop
    QEventLoop *m_loop = nullptr; // the running request's loop, cut short by stop()
    QNetworkAccessManager *m_runManager = nullptr; // the loop's own; used on this thread only
};
