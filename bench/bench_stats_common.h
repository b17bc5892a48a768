#pragma once

// Helpers shared by the two statistics benchmarks.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

inline const QString PLAY = QStringLiteral(
    "INSERT INTO play_detail(name, play_time, play_type, times, duration, mtl_type) "
    "VALUES('%1', '%2', %3, %4, %5, '%6')");

inline QProcessEnvironment childEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("PATH"),
        QStringLiteral(LUMA_SHIMS) + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("LUMA_SHIM_LOG"), home + QStringLiteral("/shim.log"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

inline bool waitForPort(quint16 port, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(100);
    }
    return false;
}

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Rows of play_detail, read on a connection of our own while the service writes.
class DetailCounter
{
public:
    explicit DetailCounter(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000;QSQLITE_OPEN_READONLY"));
    }
    ~DetailCounter() { QSqlDatabase::removeDatabase(m_name); }
    int count()
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (!db.isOpen() && (!QFile::exists(db.databaseName()) || !db.open()))
            return 0;
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM play_detail")) || !query.next())
            return -1;
        return query.value(0).toInt();
    }

private:
    const QString m_name = QStringLiteral("bench-count");
};

inline qint64 memoryKb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
