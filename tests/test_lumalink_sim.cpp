#include "contentfolder.h"
#include "notifylistener.h"
#include "protocol/builddata.h"
#include "testenv.h"

#include <QRegularExpression>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// The real service against the real simulator, both as processes, on 127.0.0.1.
class TestLumalinkSim : public QObject
{
    Q_OBJECT
private slots:
    void serviceSynchronisesWithSimulator();
    void scheduleChangeWhileAFileIsStalled();
    void linkFaultsLeaveTheTerminalWorking();
};

namespace {
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The real service and the real simulator as processes, a stand-in player.
struct Rig
{
    TestEnv env;
    quint16 port = 0;
    QString simLog;
    QStringList playerCommands;
    NotifyListener player {true, NotifyListener::Order::AnswerThenAct};
    QProcess sim;
    QProcess service;

    ~Rig()
    {
        stopProcess(service);
        stopProcess(sim);
    }
    QString root() const { return env.dataRoot(); }
    QByteArray data(const QString &relative) const
    {
        return readFile(root() + "/data/" + relative);
    }
    // Control commands go to the simulator's standard input, in order.
    void command(const QString &line) { sim.write(line.toUtf8() + "\n"); }
    QString simText() const { return QString::fromUtf8(readFile(simLog)); }
    QString serviceLog() const { return programLogs(root(), "lumalink"); }
    // Clock times (ms of the day) of the simulator's answers to GET .../name.
    QList<qint64> gets(const QString &name) const
    {
        QList<qint64> times;
        const QRegularExpression line(
            QString(R"(^(\d\d):(\d\d):(\d\d)\.(\d\d\d) HTTP GET /data/mtl/%1 )")
                .arg(QRegularExpression::escape(name)),
            QRegularExpression::MultilineOption);
        auto it = line.globalMatch(simText());
        while (it.hasNext()) {
            const auto m = it.next();
            times << ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60
                         + m.captured(3).toInt())
                        * 1000
                    + m.captured(4).toInt();
        }
        return times;
    }

    // Starts the simulator with content, runs the commands, then the service.
    bool start(const QString &content, const QStringList &commands = {})
    {
        port = freePort();
        simLog = env.home() + "/sim.log";
        if (!player.listen(12223))
            return false;
        player.setHandler([this](const QString &cmd, const QString &param) {
            playerCommands << cmd + " " + param;
        });
        sim.setProcessEnvironment(env.processEnvironment());
        sim.start(QStringLiteral(LUMASIM_BIN),
            {"--port", QString::number(port), "--content", content, "--log", simLog});
        if (!sim.waitForStarted(5000))
            return false;
        for (const QString &line : commands)
            command(line);
        writeFile(root() + "/data/status.json",
            QString(R"({"connHost":"127.0.0.1:%1","password":"pw","mac":"00-1A-2B-3C-4D-5E"})")
                .arg(port)
                .toUtf8());
        service.setProcessEnvironment(env.processEnvironment());
        service.start(QStringLiteral(LUMALINK_BIN), QStringList());
        return service.waitForStarted(5000);
    }
};
} // namespace

void TestLumalinkSim::serviceSynchronisesWithSimulator()
{
    TestEnv env;
    const QString root = env.dataRoot();
    const quint16 port = freePort();
    const QString simLog = env.home() + "/sim.log";

    // A stand-in player records what the service tells it.
    QStringList playerCommands;
    NotifyListener player(true, NotifyListener::Order::AnswerThenAct);
    QVERIFY(player.listen(12223));
    player.setHandler(
        [&](const QString &cmd, const QString &param) { playerCommands << cmd + " " + param; });

    QProcess sim;
    sim.setProcessEnvironment(env.processEnvironment());
    sim.start(QStringLiteral(LUMASIM_BIN),
        {"--port", QString::number(port), "--content", QStringLiteral(LUMA_SAMPLE_CONTENT),
            "--auth-result", "6,4", "--log", simLog});
    QVERIFY(sim.waitForStarted(5000));

    // An installer has entered the server address and the sudo password.
    writeFile(root + "/data/status.json",
        QString(R"({"connHost":"127.0.0.1:%1","password":"secret","mac":"00-1A-2B-3C-4D-5E"})")
            .arg(port)
            .toUtf8());
    QProcess service;
    service.setProcessEnvironment(env.processEnvironment());
    service.start(QStringLiteral(LUMALINK_BIN), QStringList());
    QVERIFY(service.waitForStarted(5000));
    auto stopBoth = qScopeGuard([&] {
        stopProcess(service);
        stopProcess(sim);
    });

    auto status
        = [&] { return QJsonDocument::fromJson(readFile(root + "/data/status.json")).object(); };
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root + "/data/zone/z2001.z"), 90000);
    QTRY_COMPARE_WITH_TIMEOUT(status()["status"].toInt(), 4, 10000);

    // The conflicting id was replaced by one with the same first twelve characters.
    const QString id = status()["terminalId"].toString();
    QVERIFY(id.startsWith("001A2B3C4D5E"));
    QCOMPARE(id.size(), 15);
    QCOMPARE(status()["connHost"].toString(), QString("127.0.0.1:%1").arg(port));

    for (const char *file :
        {"tpl/tl100.l", "tpl/tl200.l", "zone/z1001.z", "zone/z1002.z", "zone/z1003.z"})
        QVERIFY2(QFile::exists(root + "/data/" + file), file);

    // The clock was set through the (stand-in) sudo, the password on its input.
    QTRY_VERIFY_WITH_TIMEOUT(env.readShimLog().contains("sudo -S hwclock --systohc"), 10000);
    QVERIFY(env.readShimLog().contains("sudo -S date "));

    const QString log = programLogs(root, "lumalink");
    QVERIFY(log.contains(QString("[ TCP ] - [ INFO ]  Tcp connected to 127.0.0.1:%1").arg(port)));
    QVERIFY(log.contains("Receive inner handshake and response"));
    QVERIFY(log.contains("Request protocol=257, command=7, request zoneId=z2001.z"));

    // Every file arrives verified, then the new playbill replaces the old one
    // and the player is told to reload, once.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root + "/data/day-play.xml"), 60000);
    QVERIFY(!QFile::exists(root + "/data/day-play.xml.tmp"));
    const QStringList media
        = QDir(QStringLiteral(LUMA_SAMPLE_CONTENT) + "/files").entryList(QDir::Files);
    QVERIFY(!media.isEmpty());
    for (const QString &name : media)
        QCOMPARE(readFile(root + "/data/mtl/" + name),
            readFile(QStringLiteral(LUMA_SAMPLE_CONTENT) + "/files/" + name));
    QTRY_COMPARE_WITH_TIMEOUT(playerCommands.count("RELOAD "), 1, 10000);
    QVERIFY(playerCommands.contains("STATUS 4"));

    // Power: the server's shutdown and reboot, then a schedule whose off time
    // comes in a few seconds and whose on time is tomorrow morning. Every one
    // reaches the stand-in sudo, never a real one.
    sim.write("push 278 1\n");
    QTRY_VERIFY_WITH_TIMEOUT(env.readShimLog().contains("sudo -S shutdown -h now"), 10000);
    sim.write("push 278 3\n");
    QTRY_VERIFY_WITH_TIMEOUT(env.readShimLog().contains("sudo -S shutdown -r now"), 10000);
    const QDateTime now = QDateTime::currentDateTime();
    const QString schedule
        = QString(R"(<R><D s="1" r="0" t="%1"/><A s="0" r="0" t="%2 07:00:00"/></R>)")
              .arg(now.addSecs(3).toString("yyyy-MM-dd HH:mm:ss"),
                  now.date().addDays(1).toString("yyyy-MM-dd"));
    // The simulator's command line splits at blanks, which the test home holds.
    QTemporaryDir scheduleDir;
    const QString scheduleFile = scheduleDir.path() + "/power.xml";
    QVERIFY(writeFile(scheduleFile, schedule.toUtf8()));
    sim.write(QString("push 276 280 %1\n").arg(scheduleFile).toUtf8());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(root + "/data/poweronoff.xml"), schedule.toUtf8(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(env.readShimLog().count("sudo -S shutdown -h now") >= 2, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(
        env.readShimLog().contains("sudo -S /usr/libexec/lumaview/lumaview-wakealarm "), 15000);
    QCOMPARE(env.readShimLog().count("lumaview-wakealarm"), 1);

    stopProcess(service);
    stopProcess(sim);
    QVERIFY(!readFile(simLog).isEmpty());
}

void TestLumalinkSim::scheduleChangeWhileAFileIsStalled()
{
    // Folders without blanks: the simulator's commands split at blanks.
    QTemporaryDir first;
    QByteArray big(8 * 1024 * 1024, '\0');
    for (int i = 0; i < big.size(); i += 4096)
        big[i] = char(i / 4096);
    const QString stalled = writeContent(first.path(), "big.l", {big}).first();
    Rig rig;
    QVERIFY(rig.start(first.path(), {"stall " + stalled}));
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.simText().contains("HTTP GET /data/mtl/" + stalled + " 200 held after"), 60000);

    // The server switches to another schedule while that file hangs halfway.
    const QString sample = QStringLiteral(LUMA_SAMPLE_CONTENT);
    rig.command("content " + sample);
    rig.command("push 276 94");
    QByteArray schedule = readFile(sample + "/day-play.xml");
    schedule.replace("@TODAY@", QDate::currentDate().toString("yyyy-MM-dd").toUtf8());
    QTRY_COMPARE_WITH_TIMEOUT(rig.data("day-play.xml"), schedule, 60000);
    // Every file of the new schedule is in place, verified, at the switch.
    const QStringList media = QDir(sample + "/files").entryList(QDir::Files);
    QVERIFY(!media.isEmpty());
    for (const QString &name : media)
        QCOMPARE(rig.data("mtl/" + name), readFile(sample + "/files/" + name));
    // The stalled transfer was stopped, not counted as fetched.
    QVERIFY(!QFile::exists(rig.root() + "/data/mtl/" + stalled));
    QVERIFY(!QFile::exists(rig.root() + "/data/mtl/" + stalled + ".tmp"));
    QVERIFY(rig.serviceLog().contains("Stop download of the old playbill: "));
    QTRY_COMPARE_WITH_TIMEOUT(rig.playerCommands.count("RELOAD "), 1, 10000);
}

void TestLumalinkSim::linkFaultsLeaveTheTerminalWorking()
{
    QTemporaryDir start;
    QTemporaryDir cleared;
    QTemporaryDir broken;
    writeContent(start.path(), "start.l", {"a first picture"});
    writeFile(cleared.path() + "/day-play.xml", "<Day/>");
    const QString missing = md5Name("never served", ".png");
    writeContent(broken.path(), "broken.l", {"present"}, {missing});
    Rig rig;
    QVERIFY(rig.start(start.path()));
    QTRY_COMPARE_WITH_TIMEOUT(
        rig.data("day-play.xml"), readFile(start.path() + "/day-play.xml"), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.playerCommands.count("RELOAD "), 1, 10000);
    auto status = [&] { return QJsonDocument::fromJson(rig.data("status.json")).object(); };

    // A frame and a heartbeat in one write, then the next frame: both frames
    // count. (The player is told the latest volume: a notice still waiting is
    // replaced by a newer one, so the second frame goes only after the first
    // notice left.)
    const QByteArray frame
        = BuildData::buildPackage(7, 278, 12, 1, QList<QByteArray> {"", "", "", "0.3"});
    rig.command("raw " + QString::fromLatin1((frame + QByteArray(4, '\0')).toHex()));
    QTRY_VERIFY(rig.playerCommands.contains("VOLUME 0.3"));
    QTRY_COMPARE_WITH_TIMEOUT(status()["volume"].toDouble(), 0.3, 10000);
    rig.command("push 278 12 0.6");
    QTRY_COMPARE_WITH_TIMEOUT(status()["volume"].toDouble(), 0.6, 10000);
    QTRY_VERIFY(rig.playerCommands.contains("VOLUME 0.6"));

    // An emptied schedule reaches the player.
    rig.command("content " + cleared.path());
    rig.command("push 276 94");
    QTRY_COMPARE_WITH_TIMEOUT(rig.data("day-play.xml"), QByteArray("<Day/>"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.playerCommands.count("RELOAD "), 2, 10000);

    // A configuration naming port 0 is refused: the terminal keeps its server
    // and finds it again after the next disconnection.
    rig.command("advertise 127.0.0.1 0");
    rig.command("disconnect");
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.serviceLog().contains("Refuse server address 127.0.0.1 with port 0"), 30000);
    QCOMPARE(status()["connHost"].toString(), QString("127.0.0.1:%1").arg(rig.port));
    const int connections = rig.simText().count("terminal connected from");
    rig.command("disconnect");
    QTRY_VERIFY_WITH_TIMEOUT(rig.simText().count("terminal connected from") > connections, 30000);
    rig.command("advertise");

    // A file the server does not have is asked for less and less often, while
    // the playbill in place stays.
    rig.command("content " + broken.path());
    rig.command("push 276 94");
    QTRY_VERIFY_WITH_TIMEOUT(rig.gets(missing).size() >= 4, 40000);
    const QList<qint64> times = rig.gets(missing);
    for (int i = 1; i < 4; ++i) {
        const qint64 pause = 1000 << (i - 1);
        QVERIFY2(times[i] - times[i - 1] >= pause - 100,
            qPrintable(QString("attempt %1 after %2 ms").arg(i).arg(times[i] - times[i - 1])));
    }
    QCOMPARE(rig.data("day-play.xml"), QByteArray("<Day/>"));
}

QTEST_GUILESS_MAIN(TestLumalinkSim)
#include "test_lumalink_sim.moc"
