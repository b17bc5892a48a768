#include "notifyclient.h"
#include "notifyprotocol.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QtTest>

#include <signal.h>

// The real service with a private HOME and stand-in privileged commands: a play
// it answered survives its being killed, and a player that dies is started
// again by its watchdog.
class TestStatsProcess : public QObject
{
    Q_OBJECT
private slots:
    void playAnsweredBeforeKillIsStored();
    void killedPlayerIsStartedAgain();

private:
    bool startService(QProcess &service, const TestEnv &env, const QString &appDir = QString());
};

namespace {
bool serviceAnswers()
{
    return NotifyProtocol::isAccepted(NotifyClient::notify(12222, "STATUS", "", 1000));
}

bool playerAnswers()
{
    return NotifyProtocol::isAccepted(NotifyClient::notify(12223, "STATUS", "", 1000));
}

// Rows of play_detail with this name, on a connection of the test's own.
int storedPlays(const QString &dbPath, const QString &name)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(dbPath);
        db.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000");
        if (QFile::exists(dbPath) && db.open()) {
            QSqlQuery query(db);
            query.prepare("SELECT COUNT(*) FROM play_detail WHERE name = ?");
            query.addBindValue(name);
            if (query.exec() && query.next())
                count = query.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase("check");
    return count;
}

QList<qint64> pidsIn(const QString &path)
{
    QList<qint64> pids;
    for (const QByteArray &line : readFile(path).split('\n')) {
        if (!line.trimmed().isEmpty())
            pids << line.trimmed().toLongLong();
    }
    return pids;
}
} // namespace

bool TestStatsProcess::startService(QProcess &service, const TestEnv &env, const QString &appDir)
{
    service.setProcessEnvironment(env.processEnvironment());
    // Given a folder, the service runs from a copy there, as installed, and
    // its watchdog starts the player found beside it.
    QString program = QStringLiteral(LUMALINK_BIN);
    if (!appDir.isEmpty()) {
        if (!QFile::copy(program, appDir + "/lumalink"))
            return false;
        program = appDir + "/lumalink";
    }
    service.start(program, QStringList());
    if (!service.waitForStarted(5000))
        return false;
    return QTest::qWaitFor(serviceAnswers, 10000);
}

void TestStatsProcess::playAnsweredBeforeKillIsStored()
{
    TestEnv env;
    const QString dbPath = env.dataRoot() + "/data/playdata.db";
    QProcess service;
    QVERIFY2(startService(service, env), "lumalink did not start");

    // The player's statement, answered, and the service killed at once: the
    // statistics thread sleeps between its passes, so it has not stored it.
    const QString sql = "INSERT INTO play_detail(name, play_time, play_type, times, duration, "
                        "mtl_type) VALUES('last play.jpg', '2024-05-01 10:00:00', 0, 1, 10, 'pic')";
    QCOMPARE(NotifyClient::notify(12222, "SQL", sql), QString("{\"code\":0}"));
    service.kill();
    QVERIFY(service.waitForFinished(5000));
    const int beforeRestart = storedPlays(dbPath, "last play.jpg");
    if (beforeRestart > 0)
        qInfo("the service stored the play before it was killed; the journal was not needed");

    QProcess restarted;
    QVERIFY2(startService(restarted, env), "lumalink did not start again");
    QTRY_COMPARE_WITH_TIMEOUT(storedPlays(dbPath, "last play.jpg"), 1, 10000);
    stopProcess(restarted);
}

void TestStatsProcess::killedPlayerIsStartedAgain()
{
    TestEnv env;
    // A server address makes the watchdog look after the player; nothing
    // listens there.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QVERIFY(writeFile(env.dataRoot() + "/data/status.json",
        QStringLiteral("{\"connHost\":\"127.0.0.1:%1\",\"terminalId\":\"T\",\"mac\":\"M\"}")
            .arg(port)
            .toUtf8()));

    // The copy next to the service's program is the one it starts: a
    // script that notes its pid and becomes the real player. It drops the
    // descriptors it inherited (a lock held by whoever runs the tests must not
    // outlive them in a player left behind).
    QTemporaryDir work;
    const QString pidFile = work.path() + "/player.pids";
    QVERIFY(writeFile(work.path() + "/lumaview",
        "#!/bin/sh\necho $$ >> \"" + pidFile.toUtf8()
            + "\"\nfor fd in 3 4 5 6 7 8 9; do eval \"exec $fd>&-\"; done\nexec \"" LUMAVIEW_BIN
              "\" \"$@\"\n"));
    QVERIFY(QFile::setPermissions(
        work.path() + "/lumaview", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QProcess service;
    QVERIFY2(startService(service, env, work.path()), "lumalink did not start");
    const auto cleanUp = qScopeGuard([&] {
        stopProcess(service);
        for (qint64 pid : pidsIn(pidFile))
            ::kill(pid_t(pid), SIGKILL);
    });

    // No player runs: the first check, about 3 s after start, starts one.
    QTRY_VERIFY_WITH_TIMEOUT(playerAnswers(), 20000);
    QCOMPARE(pidsIn(pidFile).size(), 1);

    // The watchdog looks every 12 s or so: one new player, not a second
    // one while the first is still coming up.
    QElapsedTimer sinceKill;
    QCOMPARE(::kill(pid_t(pidsIn(pidFile).first()), SIGKILL), 0);
    sinceKill.start();
    QTRY_VERIFY_WITH_TIMEOUT(pidsIn(pidFile).size() == 2, 30000);
    qInfo("player started again %lld ms after it was killed", sinceKill.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(playerAnswers(), 10000);
    QCOMPARE(pidsIn(pidFile).size(), 2);
}

QTEST_GUILESS_MAIN(TestStatsProcess)
#include "test_stats_process.moc"
