#include "clock.h"
#include "fakerunner.h"
#include "net/playernotices.h"
#include "notifylistener.h"
#include "settings/servicesettings.h"
#include "stats/playrecord.h"
#include "stats/statthread.h"
#include "testenv.h"
#include "upkeep/filecleanup.h"
#include "upkeep/playerwatchdog.h"
#include "upkeep/upkeepschedule.h"
#include "version.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QtTest>

#include <memory>

// The statistics thread's upkeep: when its jobs run, which stored files the
// cleanup removes, and the player watchdog (against a stand-in player on
// port 12223; programs are recorded by a fake runner, never started).
class TestUpkeep : public QObject
{
    Q_OBJECT
    ServiceSettings m_settings;

private slots:
    void init();
    void cleanup();

    void scheduleAfterStart();
    void wallClockJumpSkipsOneCleanup_data();
    void wallClockJumpSkipsOneCleanup();
    void cutoffPerClearType_data();
    void cutoffPerClearType();
    void cleanupKeepsTheCutoffDay();
    void neverPlayedCountsFromDownload();
    void playbillFilesAreNeverRemoved();
    void typeFiveKeepsFilesButNotOldLogs();
    void deleteOnlyInsideDataFolders_data();
    void deleteOnlyInsideDataFolders();

    void playerProgramChoice();
    void watchdogProbes_data();
    void watchdogProbes();
    void frozenPlayerIsEnded();
    void restartedPlayerIsBackWithinTwelveSeconds_data();
    void restartedPlayerIsBackWithinTwelveSeconds();

private:
    QString data(const QString &relative) const
    {
        return m_env->dataRoot() + QStringLiteral("/data/") + relative;
    }
    // A stored file with its file_mgt row (access and download time; empty: NULL).
    void storeFile(StatThread &stat, const QString &name, const QString &accessTime,
        const QString &downloadTime = QStringLiteral("2020-01-01 00:00:00"));
    QStringList fileRows() const;
    void writeClearType(int type);
    bool startPlayer();
    QList<FakeRunner::Call> starts() const;

    std::unique_ptr<TestEnv> m_env;
    std::shared_ptr<FakeRunner> m_runner;
    std::unique_ptr<NotifyListener> m_player;
    QStringList m_playerCommands;
    bool m_exitRequested = false;
};

void TestUpkeep::init()
{
    m_settings.reset();
    m_runner = std::make_shared<FakeRunner>();
    m_settings.runner = m_runner;
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    for (const char *dir : {"data/tpl", "data/zone", "data/mtl", "logs"})
        QVERIFY(QDir().mkpath(m_env->dataRoot() + QLatin1Char('/') + QLatin1String(dir)));
    m_playerCommands.clear();
    m_exitRequested = false;
}

void TestUpkeep::cleanup()
{
    m_player.reset();
    m_env.reset();
    Clock::reset();
    m_settings.reset();
}

void TestUpkeep::storeFile(
    StatThread &stat, const QString &name, const QString &accessTime, const QString &downloadTime)
{
    const QString path = data(FileCleanup::storageDir(name) + QLatin1Char('/') + name);
    if (!QFile::exists(path))
        QVERIFY(writeFile(path, "x"));
    QVERIFY(writeFile(path + QStringLiteral(".md5"), "m"));
    const auto value = [](const QString &text) {
        return text.isEmpty() ? QStringLiteral("NULL")
                              : QLatin1Char('\'') + text + QLatin1Char('\'');
    };
    QVERIFY(
        stat.insertDatabase(QStringLiteral("INSERT INTO file_mgt VALUES('%1', %2, %3, %4, '%1')")
                                .arg(name, value(downloadTime), value(accessTime))
                                .arg(PlayRecord::resTypeOf(name))));
}

QStringList TestUpkeep::fileRows() const
{
    QStringList names;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(data(QStringLiteral("playdata.db")));
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT name FROM file_mgt ORDER BY name"));
            while (query.next())
                names << query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return names;
}

void TestUpkeep::writeClearType(int type)
{
    QVERIFY(writeFile(data(QStringLiteral("status.json")),
        QStringLiteral("{\"clearType\":%1,\"terminalId\":\"T\"}").arg(type).toUtf8()));
}

bool TestUpkeep::startPlayer()
{
    m_player = std::make_unique<NotifyListener>(true, NotifyListener::Order::AnswerThenAct);
    m_player->setHandler([this](const QString &cmd, const QString &param) {
        m_playerCommands << cmd + QLatin1Char('|') + param;
        if (cmd == QLatin1String("EXIT"))
            m_exitRequested = true;
    });
    // The port may still be held for a moment by a test that just ended.
    for (int i = 0; i < 50; ++i) {
        if (m_player->listen(PLAYER_PORT))
            return true;
        QTest::qWait(200);
    }
    return false;
}

QList<FakeRunner::Call> TestUpkeep::starts() const
{
    return m_runner->calls();
}

void TestUpkeep::scheduleAfterStart()
{
    const qint64 start = 1700000000000;
    UpkeepSchedule schedule(start);
    QList<int> watchdog;
    QList<int> stats;
    QList<int> cleanups;
    // One pass every 3 s for a little over an hour.
    for (int s = 3; s <= 3700; s += 3) {
        const UpkeepSchedule::Due due = schedule.due(start + qint64(s) * 1000);
        if (due.watchdog)
            watchdog << s;
        if (due.stats)
            stats << s;
        if (due.cleanup)
            cleanups << s;
    }
    QCOMPARE(watchdog.mid(0, 4), (QList<int> {3, 15, 27, 39}));
    for (int i = 1; i < watchdog.size(); ++i)
        QCOMPARE(watchdog.at(i) - watchdog.at(i - 1), 12);
    // A minute after start, then right away the first hourly pass with its
    // cleanup, then an hour later.
    QCOMPARE(stats, (QList<int> {63, 66, 3669}));
    QCOMPARE(cleanups, (QList<int> {66, 3669}));
}

void TestUpkeep::cutoffPerClearType_data()
{
    QTest::addColumn<int>("clearType");
    QTest::addColumn<QString>("cutoff"); // empty: no file cleanup
    // Cleanups on 8 December 2026.
    QTest::newRow("1: three days") << 1 << "2026-12-05";
    QTest::newRow("2: seven days") << 2 << "2026-12-01";
    QTest::newRow("3: thirty-one days") << 3 << "2026-11-07";
    QTest::newRow("4: ninety-one days") << 4 << "2026-09-08";
    QTest::newRow("5: none") << 5 << "";
    QTest::newRow("0: yesterday") << 0 << "2026-12-07";
    QTest::newRow("7: yesterday") << 7 << "2026-12-07";
    QTest::newRow("-1: yesterday") << -1 << "2026-12-07";
}

void TestUpkeep::cutoffPerClearType()
{
    QFETCH(int, clearType);
    QFETCH(QString, cutoff);
    int days = 99;
    QCOMPARE(FileCleanup::keepDaysFor(clearType, days), !cutoff.isEmpty());
    if (!cutoff.isEmpty())
        QCOMPARE(FileCleanup::cutoffDate(QDate(2026, 12, 8), days), cutoff);

    // Read from the status file the way the upkeep reads it.
    writeClearType(clearType);
    QCOMPARE(StatThread(m_settings).getClearType(), clearType);
}

void TestUpkeep::cleanupKeepsTheCutoffDay()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 8), QTime(3, 0)).toMSecsSinceEpoch());
    writeClearType(2);
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    storeFile(stat, "old.jpg", "2026-11-30 23:59:59");
    storeFile(stat, "edge.jpg", "2026-12-01 00:00:00");
    storeFile(stat, "12.l", "2026-11-02 10:00:00");
    storeFile(stat, "7.z", "2026-11-02 10:00:00");
    stat.clearLogAndUnusedFile();
    QCOMPARE(fileRows(), QStringList {"edge.jpg"});
    QVERIFY(!QFile::exists(data("mtl/old.jpg")));
    QVERIFY(!QFile::exists(data("mtl/old.jpg.md5")));
    QVERIFY(!QFile::exists(data("tpl/12.l")));
    QVERIFY(!QFile::exists(data("tpl/12.l.md5")));
    QVERIFY(!QFile::exists(data("zone/7.z")));
    QVERIFY(QFile::exists(data("mtl/edge.jpg")));
    QVERIFY(QFile::exists(data("mtl/edge.jpg.md5")));
}

void TestUpkeep::neverPlayedCountsFromDownload()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 8), QTime(3, 0)).toMSecsSinceEpoch());
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    // Downloaded this morning for a programme later today, never played yet.
    storeFile(stat, "fresh.mp4", QString(), "2026-12-08 02:00:00");
    storeFile(stat, "stale.mp4", QString(), "2026-12-01 02:00:00");
    storeFile(stat, "unknown.mp4", QString(), QString());
    // As recorded by the service when a file arrives.
    stat.insertFileMgt("http://127.0.0.1:2100/data/mtl/new.png");
    QVERIFY(writeFile(data("mtl/new.png"), "x"));
    QVERIFY(stat.drainQueue());
    stat.clearUnusedFileKeepDays(0); // files unused since before yesterday
    QCOMPARE(fileRows(), (QStringList {"fresh.mp4", "new.png"}));
    QVERIFY(QFile::exists(data("mtl/fresh.mp4")));
    QVERIFY(QFile::exists(data("mtl/new.png")));
    QVERIFY(!QFile::exists(data("mtl/stale.mp4")));
}

void TestUpkeep::playbillFilesAreNeverRemoved()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 8), QTime(3, 0)).toMSecsSinceEpoch());
    QVERIFY(writeFile(data("day-play.xml"),
        "<Day><TPL p=\"tl.l\"><Z p=\"main.z\"/></TPL><ITPL p=\"in.l\" s=\"12:00\" e=\"13:00\">"
        "<Z p=\"in.z\"/></ITPL></Day>"));
    QVERIFY(
        writeFile(data("tpl/tl.l"), "<TL><T name=\"t 1.xml\" path=\"data/mtl\" len=\"10\"/></TL>"));
    QVERIFY(writeFile(data("tpl/in.l"), "<TL><T name=\"t2.xml\" path=\"data/mtl\"/></TL>"));
    QVERIFY(writeFile(data("zone/main.z"),
        "<PL><P name=\"a.jpg\" path=\"data/mtl\"/><P name=\"x\" path=\"data/mtl/b.png\"/></PL>"));
    QVERIFY(writeFile(data("zone/in.z"), "<PL><P name=\"c.mp4\" path=\"data/mtl\"/></PL>"));
    // A new playbill still being fetched.
    QVERIFY(writeFile(data("day-play.xml.tmp"), "<Day><TPL p=\"next.l\"/></Day>"));

    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    const QStringList kept {
        "a.jpg", "b.png", "c.mp4", "in.l", "in.z", "main.z", "next.l", "t 1.xml", "t2.xml", "tl.l"};
    for (const QString &name : kept)
        storeFile(stat, name, "2020-01-01 00:00:00");
    storeFile(stat, "gone.jpg", "2020-01-01 00:00:00");
    QStringList referenced = FileCleanup::referencedFiles().values();
    referenced.sort();
    QCOMPARE(referenced, kept);

    stat.clearUnusedFileKeepDays(-90);
    QCOMPARE(fileRows(), kept);
    for (const QString &name : kept)
        QVERIFY2(QFile::exists(data(FileCleanup::storageDir(name) + "/" + name)), qPrintable(name));
    QVERIFY(!QFile::exists(data("mtl/gone.jpg")));
}

void TestUpkeep::typeFiveKeepsFilesButNotOldLogs()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 8), QTime(3, 0)).toMSecsSinceEpoch());
    writeClearType(5);
    const QString logs = m_env->dataRoot() + QStringLiteral("/logs/");
    for (const char *name : {"lumalink.2026-11-30.0.log", "lumaview.2026-11-30.0.log",
             "lumalink.2026-12-01.0.log", "T.zip"})
        QVERIFY(writeFile(logs + QLatin1String(name), "x"));
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    storeFile(stat, "old.jpg", "2020-01-01 00:00:00");
    stat.clearLogAndUnusedFile();
    QCOMPARE(fileRows(), QStringList {"old.jpg"});
    QVERIFY(QFile::exists(data("mtl/old.jpg")));
    QVERIFY(!QFile::exists(logs + "lumalink.2026-11-30.0.log"));
    QVERIFY(!QFile::exists(logs + "lumaview.2026-11-30.0.log"));
    QVERIFY(QFile::exists(logs + "lumalink.2026-12-01.0.log"));
    QVERIFY(QFile::exists(logs + "T.zip"));
}

void TestUpkeep::deleteOnlyInsideDataFolders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("removed"); // under data/
    QTest::addColumn<bool>("gone");
    QTest::newRow("blank in name")
        << "a b.jpg" << QStringList {"mtl/a b.jpg", "mtl/a b.jpg.md5"} << true;
    QTest::newRow("list") << "12.l" << QStringList {"tpl/12.l", "tpl/12.l.md5"} << true;
    QTest::newRow("zone") << "7.z" << QStringList {"zone/7.z", "zone/7.z.md5"} << true;
    QTest::newRow("path kept to its name")
        << "data/mtl/clip.mp4" << QStringList {"mtl/clip.mp4", "mtl/clip.mp4.md5"} << true;
    QTest::newRow("climbing out") << "../../status.json" << QStringList {} << true;
    QTest::newRow("dot dot") << ".." << QStringList {} << false;
    QTest::newRow("empty") << "" << QStringList {} << false;
    QTest::newRow("star") << "*" << QStringList {} << true;
}

void TestUpkeep::deleteOnlyInsideDataFolders()
{
    QFETCH(QString, name);
    QFETCH(QStringList, removed);
    QFETCH(bool, gone);
    // Files a shell would have reached with "rm -rf dir/a b.jpg" and friends.
    QTemporaryDir work;
    const QString oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    const QStringList all {"mtl/a b.jpg", "mtl/a b.jpg.md5", "mtl/a", "mtl/b.jpg", "tpl/12.l",
        "tpl/12.l.md5", "zone/7.z", "zone/7.z.md5", "mtl/clip.mp4", "mtl/clip.mp4.md5",
        "status.json", "mtl/x.png"};
    for (const QString &file : all)
        QVERIFY(writeFile(data(file), "x"));
    for (const char *file : {"a", "b.jpg", "status.json"})
        QVERIFY(writeFile(work.path() + QLatin1Char('/') + QLatin1String(file), "x"));

    QCOMPARE(StatThread::deleteFileByName(name), gone);
    for (const QString &file : all)
        QVERIFY2(QFile::exists(data(file)) != removed.contains(file), qPrintable(file));
    for (const char *file : {"a", "b.jpg", "status.json"})
        QVERIFY(QFile::exists(work.path() + QLatin1Char('/') + QLatin1String(file)));
    QDir::setCurrent(oldDir);
}

void TestUpkeep::playerProgramChoice()
{
    QTemporaryDir dir;
    QCOMPARE(PlayerWatchdog::playerProgram(dir.path()),
        QString("/opt/apps/com.qerbix.lumaview/files/lumaview"));
    QVERIFY(QDir(dir.path()).mkdir("lumaview")); // a folder is no program
    QCOMPARE(PlayerWatchdog::playerProgram(dir.path()),
        QString("/opt/apps/com.qerbix.lumaview/files/lumaview"));
    QTemporaryDir withCopy;
    QVERIFY(writeFile(withCopy.path() + "/lumaview", "#!/bin/sh\n"));
    QCOMPARE(PlayerWatchdog::playerProgram(withCopy.path()), withCopy.path() + "/lumaview");
}

void TestUpkeep::watchdogProbes_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("playerRuns");
    QTest::addColumn<bool>("localCopy");
    QTest::addColumn<int>("probes");
    QTest::addColumn<QString>("started"); // empty: none
    QTest::newRow("no server address") << "" << false << true << 0 << "";
    QTest::newRow("no server address, player runs") << "" << true << false << 0 << "";
    QTest::newRow("player answers") << "127.0.0.1" << true << true << 1 << "";
    // A working folder can be anyone's: a player there is never started.
    QTest::newRow("player silent, copy in the working folder")
        << "127.0.0.1" << false << true << 0 << "/opt/apps/com.qerbix.lumaview/files/lumaview";
    QTest::newRow("player silent, installed")
        << "127.0.0.1" << false << false << 0 << "/opt/apps/com.qerbix.lumaview/files/lumaview";
}

void TestUpkeep::watchdogProbes()
{
    QFETCH(QString, server);
    QFETCH(bool, playerRuns);
    QFETCH(bool, localCopy);
    QFETCH(int, probes);
    QFETCH(QString, started);
    m_settings.connIp = server;
    if (playerRuns)
        QVERIFY2(startPlayer(), "port 12223 is busy");
    QTemporaryDir work;
    if (localCopy)
        QVERIFY(writeFile(work.path() + "/lumaview", "#!/bin/sh\n"));
    const QString oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    StatThread stat(m_settings);
    stat.checkPlayerRunning();
    QDir::setCurrent(oldDir);

    QCOMPARE(m_playerCommands, probes ? QStringList {"STATUS|"} : QStringList());
    if (started.isEmpty()) {
        QVERIFY(starts().isEmpty());
        return;
    }
    QCOMPARE(starts().size(), 1);
    QCOMPARE(starts().first().program, started);
    QCOMPARE(starts().first().args, QStringList {"&"});
}

void TestUpkeep::wallClockJumpSkipsOneCleanup_data()
{
    QTest::addColumn<qint64>("jumpMs"); // the wall clock set at 30 s after start
    QTest::addColumn<QList<int>>("cleanups");
    QTest::addColumn<QList<int>>("skipped");
    const qint64 hour = 3600000;
    QTest::newRow("no jump") << qint64(0) << QList<int> {66, 3669} << QList<int> {};
    QTest::newRow("two hours on") << 2 * hour << QList<int> {66, 3669} << QList<int> {};
    QTest::newRow("set back a day") << -24 * hour << QList<int> {66, 3669} << QList<int> {};
    QTest::newRow("75 years on") << 75 * 8766 * hour << QList<int> {3669} << QList<int> {66};
}

void TestUpkeep::wallClockJumpSkipsOneCleanup()
{
    // The schedule runs on monotonic time; only the next cleanup after a
    // forward jump of more than a day is skipped.
    QFETCH(qint64, jumpMs);
    QFETCH(QList<int>, cleanups);
    QFETCH(QList<int>, skipped);
    const qint64 wallStart = 1700000000000;
    UpkeepSchedule schedule(0);
    QList<int> ran;
    QList<int> skips;
    for (int s = 3; s <= 3700; s += 3) {
        const qint64 wall = wallStart + qint64(s) * 1000 + (s >= 30 ? jumpMs : 0);
        QCOMPARE(schedule.noteWallClock(wall, qint64(s) * 1000) > 0,
            s == 30 && jumpMs > UpkeepSchedule::WALL_JUMP_MS);
        const UpkeepSchedule::Due due = schedule.due(qint64(s) * 1000);
        if (due.cleanup)
            ran << s;
        if (due.cleanupSkipped)
            skips << s;
    }
    QCOMPARE(ran, cleanups);
    QCOMPARE(skips, skipped);
}

void TestUpkeep::frozenPlayerIsEnded()
{
    // The player the watchdog started (here a stand-in process) holds the
    // port but never answers: it is ended before a new one is started.
    m_settings.connIp = QStringLiteral("127.0.0.1");
    QProcess frozen;
    frozen.start("sleep", {"60"});
    QVERIFY(frozen.waitForStarted());
    m_runner->setDetachedPid(frozen.processId());
    StatThread stat(m_settings);
    stat.checkPlayerRunning(); // nothing on the port: started
    QCOMPARE(starts().size(), 1);
    QVERIFY(frozen.state() == QProcess::Running);

    QTcpServer silent; // accepts (in the kernel) and never answers
    QVERIFY(silent.listen(QHostAddress::LocalHost, PLAYER_PORT));
    m_runner->setDetachedPid(0);
    stat.checkPlayerRunning();
    QVERIFY(frozen.waitForFinished(5000));
    QCOMPARE(frozen.exitStatus(), QProcess::CrashExit);
    QCOMPARE(starts().size(), 2);
}

void TestUpkeep::restartedPlayerIsBackWithinTwelveSeconds_data()
{
    QTest::addColumn<int>("passesAfterCheck"); // when the server's restart arrives
    QTest::addColumn<int>("seconds"); // until the player is started
    QTest::newRow("right after a check") << 0 << 12;
    QTest::newRow("one pass later") << 1 << 9;
    QTest::newRow("two passes later") << 2 << 6;
    QTest::newRow("just before a check") << 3 << 3;
}

void TestUpkeep::restartedPlayerIsBackWithinTwelveSeconds()
{
    QFETCH(int, passesAfterCheck);
    QFETCH(int, seconds);
    m_settings.connIp = QStringLiteral("127.0.0.1");
    QVERIFY2(startPlayer(), "port 12223 is busy");
    qint64 now = 0; // time passed
    Clock::setFixedMs(1700000000000);
    StatThread stat(m_settings);
    stat.schedule().restart(Clock::monotonicMs());
    const auto pass = [&] {
        now += StatThread::PASS_SLEEP_MS;
        Clock::advanceMs(StatThread::PASS_SLEEP_MS);
        stat.runPass();
    };
    pass(); // the first watchdog check: the player answers
    QCOMPARE(m_playerCommands, QStringList {"STATUS|"});
    for (int i = 0; i < passesAfterCheck; ++i)
        pass();

    // The server asks for a restart: the player is told to leave, and leaves.
    PlayerNotices::post(QStringLiteral("EXIT"), QString());
    QTRY_VERIFY(m_exitRequested);
    m_player.reset();
    const qint64 exitAt = now;
    // A time sync sets the wall clock back eight hours meanwhile: the
    // watchdog does not wait for it.
    Clock::setFixedMs(Clock::nowMs() - 8 * 3600000);

    while (starts().isEmpty() && now - exitAt < 60000)
        pass();
    QCOMPARE(int((now - exitAt) / 1000), seconds);
    QVERIFY(now - exitAt <= 12000);
    QCOMPARE(starts().size(), 1);
    QCOMPARE(starts().first().args, QStringList {"&"});
}

QTEST_GUILESS_MAIN(TestUpkeep)
#include "test_upkeep.moc"
