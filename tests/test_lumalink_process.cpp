#include "testenv.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

// Starts the real programs with a private HOME and stand-in privileged commands.
class TestLumalinkProcess : public QObject
{
    Q_OBJECT
private slots:
    void firstStartAndLocalRequests();
    void playerLeavesOnExitAfterAnswering();
    void serviceKilledAtStartSetsAsideWhatItRead();

private:
};

void TestLumalinkProcess::firstStartAndLocalRequests()
{
    TestEnv env;
    QProcess service;
    service.setProcessEnvironment(env.processEnvironment());
    service.start(QStringLiteral(LUMALINK_BIN), QStringList());
    QVERIFY(service.waitForStarted(5000));

    const QString root = env.dataRoot();
    QTRY_VERIFY_WITH_TIMEOUT(!programLogs(root, "lumalink").isEmpty(), 10000);
    for (const char *dir : {"/logs", "/data", "/data/zone", "/data/tpl", "/data/mtl"})
        QVERIFY2(QDir(root + dir).exists(), dir);

    const QJsonObject status
        = QJsonDocument::fromJson(readFile(root + "/data/status.json")).object();
    QCOMPARE(status.keys(),
        (QStringList {
            "connHost", "mac", "password", "rtdaHost", "status", "terminalId", "volume"}));
    QCOMPARE(status["connHost"].toString(), QString(":"));
    QCOMPARE(status["password"].toString(), QString()); // no built-in password
    QCOMPARE(status["rtdaHost"].toString(), QString(":2100"));
    QCOMPARE(status["status"].toInt(), 5);
    QCOMPARE(status["volume"].toString(), QString("0.1"));
    QString digits = status["mac"].toString().remove('-');
    if (!digits.isEmpty())
        QCOMPARE(
            status["terminalId"].toString(), digits + digits.at(2) + digits.at(1) + digits.at(0));

    const QString log = programLogs(root, "lumalink");
    const QRegularExpression line(
        QString::fromUtf8(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  \\[ Main \\] - \\[ INFO \\]  "
            "开启运行终端连接服务lumalink\r$"),
        QRegularExpression::MultilineOption);
    QVERIFY2(line.match(log).hasMatch(), qPrintable(log));

    // Raw requests on the service port.
    QByteArray answer = localRequest(12222,
        "POST /notify?cmd=STATUS&param=&timestamp=1&signature=x "
        "HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 200\r\nContent-Type: application/json;charset=utf-8\r\n"
                               "Content-Language: zh-CN\r\nContent-Length: 10\r\nDate: "),
        answer.constData());
    QVERIFY(answer.endsWith(" GMT\r\nConnection: close\r\n\r\n{\"code\":0}"));
    answer = localRequest(12222, "POST /notify HTTP/1.1\r\n\r\n");
    QVERIFY(answer.startsWith("HTTP/1.1 400\r\n"));
    QVERIFY(answer.endsWith("\r\n\r\n{\"code\":400}"));

    // A second service exits with status 0 and touches nothing.
    TestEnv other;
    QProcess second;
    second.setProcessEnvironment(other.processEnvironment());
    second.start(QStringLiteral(LUMALINK_BIN), QStringList());
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!QDir(other.dataRoot()).exists());

    QCOMPARE(service.state(), QProcess::Running);
    stopProcess(service);
    QVERIFY(env.readShimLog().isEmpty()); // no privileged command at start-up
}

void TestLumalinkProcess::playerLeavesOnExitAfterAnswering()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    QProcess player;
    player.setProcessEnvironment(env.processEnvironment());
    player.start(QStringLiteral(LUMAVIEW_BIN), QStringList());
    QVERIFY(player.waitForStarted(5000));

    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(answer = localRequest(12223, "POST /notify?cmd=STATUS&param= HTTP/1.1\r\n\r\n"))
             .isEmpty(),
        10000);
    QVERIFY(answer.startsWith("HTTP/1.1 200\r\n"));

    QProcess second;
    second.setProcessEnvironment(env.processEnvironment());
    second.start(QStringLiteral(LUMAVIEW_BIN), QStringList());
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);

    answer = localRequest(12223, "POST /notify?cmd=EXIT&param=&timestamp=1 HTTP/1.1\r\n\r\n");
    QVERIFY(answer.endsWith("{\"code\":0}"));
    QVERIFY(player.waitForFinished(5000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);

    const QString log = programLogs(env.dataRoot(), "lumaview");
    QVERIFY(
        log.contains("  [ MainWindow ] - [ INFO ]  Socket Received command: EXIT, param: \r\n"));
    QVERIFY(!log.contains("command: STATUS"));
}

void TestLumalinkProcess::serviceKilledAtStartSetsAsideWhatItRead()
{
    TestEnv env;
    const QString data = env.dataRoot() + "/data";
    QVERIFY(QDir().mkpath(data));
    const QByteArray schedule = "<R><P on=\"08:00:00\" off=\"20:00:00\"/></R>";
    QVERIFY(writeFile(data + "/poweronoff.xml", schedule));
    const QString notes = data + "/short-runs.txt";
    // Killed hard three times soon after starting, as a crash at start would be.
    for (int i = 0; i < 4; ++i) {
        QProcess service;
        service.setProcessEnvironment(env.processEnvironment());
        service.start(QStringLiteral(LUMALINK_BIN), QStringList());
        QVERIFY(service.waitForStarted(5000));
        if (i < 3) {
            // Killed once it has noted its start.
            QTRY_COMPARE_WITH_TIMEOUT(readFile(notes).count('\n'), i + 1, 10000);
            QVERIFY(QFile::exists(data + "/poweronoff.xml"));
            service.kill();
            QVERIFY(service.waitForFinished(5000));
        } else {
            // The fourth start set the schedule aside before reading it.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(data + "/poweronoff.xml.crashed"), 10000);
            QVERIFY(!QFile::exists(data + "/poweronoff.xml"));
            QCOMPARE(readFile(data + "/poweronoff.xml.crashed"), schedule);
            stopProcess(service);
        }
    }
}

QTEST_GUILESS_MAIN(TestLumalinkProcess)
#include "test_lumalink_process.moc"
