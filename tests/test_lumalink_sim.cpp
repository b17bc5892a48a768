#include "notifylistener.h"
#include "testenv.h"

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

private:
    static quint16 freePort();
};

quint16 TestLumalinkSim::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

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

    const QString log = QString::fromUtf8(readFile(
        root + "/logs/lumalink." + QDate::currentDate().toString("yyyy-MM-dd") + ".0.log"));
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
    QTRY_VERIFY_WITH_TIMEOUT(env.readShimLog().contains("sudo -S sh -c echo 0 > "
                                                        "/sys/class/rtc/rtc0/wakealarm; echo +"),
        15000);
    QCOMPARE(env.readShimLog().count("wakealarm; echo +"), 1);

    stopProcess(service);
    stopProcess(sim);
    QVERIFY(!readFile(simLog).isEmpty());
}

QTEST_GUILESS_MAIN(TestLumalinkSim)
#include "test_lumalink_sim.moc"
