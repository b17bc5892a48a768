#pragma once

#include "multipart.h"
#include "statreport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class HttpFaults;
struct HttpRequest;

// A POST /logfile/upload as received.
struct LogUpload
{
    QString path;
    qint64 timeMs = 0;
    QByteArray contentType; // of the request
    qint64 size = 0; // request body length
    QList<Multipart::Part> parts;
    QString error; // why the body is not readable multipart; empty when it is
    int status = 0; // status answered
};

// A POST /mtllog/add as received.
struct StatisticsPost
{
    QString path;
    qint64 timeMs = 0;
    QByteArray body;
    StatReport report; // the body read as the server reads statistics
    int status = 0; // status answered
    bool accepted = false; // answered as a success ({"status":200} or {"code":0})
};

// What the terminal posts to the HTTP server: its log archives (POST
// /logfile/upload, multipart/form-data) and its play statistics (POST
// /mtllog/add, JSON). Each is kept, logged in one line and answered 200
// {"code":0} (uploads) or 200 {"status":200} (statistics), unless a reply was
// set for the path or a POST failure is in force for it; an upload that is no
// readable multipart gets 400 with the reason.
class PostIntake : public QObject
{
    Q_OBJECT
public:
    explicit PostIntake(HttpFaults &faults, QObject *parent = nullptr);

    // Status 0 restores the default answer.
    void setReply(const QString &path, int status, const QByteArray &body);

    // Takes a POST and sets the answer it gets. False for a path that is
    // neither upload nor statistics: nothing is kept, though a POST failure
    // in force for the path is used up all the same.
    bool take(const HttpRequest &request, int &status, QByteArray &reply);

    QList<LogUpload> uploads() const { return m_uploads; }
    QList<StatisticsPost> statistics() const { return m_statistics; }
    // The rows of every statistics post answered as a success, in order.
    QList<StatReport::Row> acceptedRows() const;
    void clearHistory();

signals:
    void uploadReceived(const QString &fieldName, const QString &fileName, qint64 size);
    void statisticsReceived(const QByteArray &json);
    void logLine(const QString &line);

private:
    void takeUpload(
        const HttpRequest &request, qint64 now, bool overridden, int &status, QByteArray &reply);
    void takeStatistics(
        const HttpRequest &request, qint64 now, int status, const QByteArray &reply);

    HttpFaults &m_faults;
    QHash<QString, QPair<int, QByteArray>> m_replies;
    QList<LogUpload> m_uploads;
    QList<StatisticsPost> m_statistics;
};
