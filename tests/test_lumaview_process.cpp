#include "formats/xmldata.h"
#include "notifylistener.h"
#include "notifyprotocol.h"
#include "testenv.h"
#include "version.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QtTest>

#include <memory>

// The player as a real process on the offscreen platform: it plays a prepared
// playbill, delivers its play log to a stand-in service on 12222, keeps the
// log while that service is down, and leaves on EXIT.
class TestLumaviewProcess : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { m_service.reset(); }
    void playsReportsAndLeavesOnExit();
    void secondInstanceLeavesAtOnce();
    void windowFillsBareScreen();

private:
    static void writeContent(const QString &root);
    static bool portFree(quint16 port);
    static bool waitListening(QProcess &player);
    void startPlayer(QProcess &player, const TestEnv &env);
    void stop(QProcess &player);
    bool startService();
    // INSERT statements not yet delivered: in the message file or the work file.
    static QSet<QString> pendingInserts(const QString &root);

    std::unique_ptr<NotifyListener> m_service;
    QStringList m_received;
};

namespace {
const QString INSERT_PATTERN = QStringLiteral(
    "^INSERT INTO play_detail\\(name, play_time, play_type, times, duration, mtl_type\\) "
    "VALUES\\('%1', '\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d', 0, 1, 1, 'pic'\\)$");

int countMatching(const QStringList &lines, const QRegularExpression &re)
{
    int n = 0;
    for (const QString &line : lines)
        n += re.match(line).hasMatch() ? 1 : 0;
    return n;
}

QRegularExpression insertFor(const QString &quotedName)
{
    return QRegularExpression(INSERT_PATTERN.arg(QRegularExpression::escape(quotedName)));
}

QRegularExpression updateFor(const QString &quotedName)
{
    return QRegularExpression(
        QStringLiteral("^UPDATE file_mgt SET access_time='\\d{4}-\\d\\d-\\d\\d "
                       "\\d\\d:\\d\\d:\\d\\d' WHERE name='%1'$")
            .arg(QRegularExpression::escape(quotedName)));
}

bool savePicture(const QString &path, const QColor &colour)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(64, 36, QImage::Format_RGB32);
    image.fill(colour);
    return image.save(path, "PNG");
}
} // namespace

void TestLumaviewProcess::writeContent(const QString &root)
{
    const QString data = root + QStringLiteral("/data/");
    QDir().mkpath(root + QStringLiteral("/logs"));
    QVERIFY(writeFile(data + "status.json", R"({"status":4,"terminalId":"T","volume":"0.5"})"));
    QVERIFY(writeFile(data + "day-play.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Day><TPL p=\"day.tpl\"><Z p=\"left.zone\" n=\"left\" l=\"0\"/>"
        "<Z p=\"right.zone\" n=\"right\" l=\"0\"/></TPL></Day>\n"));
    QVERIFY(writeFile(data + "tpl/day.tpl",
        "<TL><T name=\"first.tmpl\" len=\"2\"/><T name=\"second.tmpl\" len=\"3\"/></TL>\n"));
    const QByteArray areas
        = "<Areas>"
          "<Area Title=\"left\" Left=\"0\" Top=\"0\" Width=\"960\" Height=\"1080\" Zindex=\"1\"/>"
          "<Area Title=\"right\" Left=\"960\" Top=\"0\" Width=\"960\" Height=\"1080\" "
          "Zindex=\"2\"/></Areas>";
    QVERIFY(writeFile(data + "mtl/first.tmpl",
        "<Template Width=\"1920\" Height=\"1080\" BackgroundColor=\"#000000\">" + areas
            + "</Template>\n"));
    QVERIFY(writeFile(data + "mtl/second.tmpl",
        "<Template Width=\"1920\" Height=\"1080\" BackgroundColor=\"#202020\">" + areas
            + "</Template>\n"));
    QVERIFY(writeFile(data + "zone/left.zone",
        "<PL name=\"left\">"
        "<P type=\"pic\" name=\"red.png\" len=\"1\" etimes=\"1\"/>"
        "<P type=\"pic\" name=\"green.png\" len=\"1\" etimes=\"1\"/></PL>\n"));
    QVERIFY(writeFile(data + "zone/right.zone",
        "<PL name=\"right\"><P type=\"pic\" name=\"it's.png\" len=\"1\" etimes=\"1\"/></PL>\n"));
    QVERIFY(savePicture(data + "mtl/red.png", Qt::red));
    QVERIFY(savePicture(data + "mtl/green.png", Qt::green));
    QVERIFY(savePicture(data + "mtl/it's.png", Qt::blue));

    // The quote survives the zone file as it is.
    ContentXml::ZONE_CTRL right;
    ContentXml::xml_zoneFileContent(data + "zone/right.zone", right);
    QCOMPARE(right.mtls.size(), 1);
    QCOMPARE(right.mtls.first().name, QStringLiteral("it's.png"));
}

bool TestLumaviewProcess::portFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, port);
}

bool TestLumaviewProcess::waitListening(QProcess &player)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && player.state() == QProcess::Running) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, PLAYER_PORT);
        if (socket.waitForConnected(500))
            return true;
        QTest::qWait(100);
    }
    return false;
}

void TestLumaviewProcess::startPlayer(QProcess &player, const TestEnv &env)
{
    player.setProcessEnvironment(env.processEnvironment());
    player.setProcessChannelMode(QProcess::MergedChannels);
    player.start(QStringLiteral(LUMAVIEW_BIN), QStringList());
    QVERIFY(player.waitForStarted(5000));
}

void TestLumaviewProcess::stop(QProcess &player)
{
    stopProcess(player);
    if (QTest::currentTestFailed()) {
        QStringList lines = QString::fromUtf8(player.readAll()).split(QLatin1Char('\n'));
        lines.removeDuplicates();
        qWarning().noquote() << "player output:\n" << lines.join(QLatin1Char('\n'));
    }
}

bool TestLumaviewProcess::startService()
{
    m_service = std::make_unique<NotifyListener>(false, NotifyListener::Order::ActThenAnswer);
    m_service->setHandler([this](const QString &cmd, const QString &param) {
        if (cmd != QLatin1String("SQL"))
            return;
        // Decoded the way the service's statistics queue decodes it.
        m_received << NotifyProtocol::decodeStatement(param);
    });
    return m_service->listen(SERVICE_PORT);
}

QSet<QString> TestLumaviewProcess::pendingInserts(const QString &root)
{
    // The work file first: lines the sender moves on meanwhile are merely not
    // counted, and every line seen is one the service has not received.
    QSet<QString> pending;
    for (const char *name : {"/data/storageMsg.temp", "/data/storageMsg.txt"}) {
        QByteArray bytes = readFile(root + QLatin1String(name));
        // The work file's lines before its recorded position were delivered.
        const qint64 delivered
            = readFile(root + QLatin1String(name) + QLatin1String(".pos")).toLongLong();
        if (delivered > 0 && delivered <= bytes.size())
            bytes.remove(0, int(delivered));
        const QString text = QString::fromUtf8(bytes);
        for (QString line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1String("SQL|INSERT INTO play_detail")))
                pending.insert(line.mid(4));
        }
    }
    return pending;
}

void TestLumaviewProcess::playsReportsAndLeavesOnExit()
{
    if (!portFree(PLAYER_PORT) || !portFree(SERVICE_PORT))
        QFAIL("ports 12222 and 12223 must be free for this test");
    TestEnv env;
    QVERIFY(env.isValid());
    const QString root = env.dataRoot();
    writeContent(root);
    if (QTest::currentTestFailed())
        return;
    m_received.clear();
    QVERIFY(startService());

    QProcess player;
    startPlayer(player, env);
    if (QTest::currentTestFailed())
        return;
    auto guard = qScopeGuard([&] { stop(player); });

    // Plays and file uses arrive in their documented form, the quote doubled.
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, insertFor("it''s.png")) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, insertFor("red.png")) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, insertFor("green.png")) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, updateFor("day.tpl")) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, updateFor("left.zone")) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, updateFor("right.zone")) > 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(m_received, updateFor("it''s.png")) > 0, 20000);
    for (const QString &line : qAsConst(m_received)) {
        QVERIFY2(line.startsWith(QLatin1String("INSERT INTO play_detail("))
                || line.startsWith(QLatin1String("UPDATE file_mgt SET access_time=")),
            qPrintable(line));
        QVERIFY2(!line.contains(QLatin1String("'it's.png'")), qPrintable(line));
    }
    const QString log = programLogs(root, "lumaview");
    QVERIFY2(log.contains(QStringLiteral("开启运行终端播放器lumaview")), qPrintable(log));

    // The service goes away; plays keep being recorded and wait for it.
    m_service.reset();
    const QRegularExpression anyInsert(QStringLiteral("^INSERT INTO play_detail\\("));
    const int insertsBefore = countMatching(m_received, anyInsert);
    // Whatever is seen waiting in the files meanwhile has not been delivered.
    QSet<QString> pending;
    for (int i = 0; i < 40; ++i) {
        QTest::qWait(200);
        pending += pendingInserts(root);
    }
    // Three one-second pictures in two zones play several times in 8 s.
    QVERIFY2(pending.size() >= 4, qPrintable(QString::number(pending.size())));
    QVERIFY(startService());

    // Every play recorded while it was down reaches it once it is back.
    const auto missing
        = [&] { return pending - QSet<QString>(m_received.begin(), m_received.end()); };
    QTRY_VERIFY2_WITH_TIMEOUT(missing().isEmpty(),
        qPrintable(QStringLiteral("%1 of %2 plays never arrived, e.g. %3")
                       .arg(missing().size())
                       .arg(pending.size())
                       .arg(missing().isEmpty() ? QString() : *missing().begin())),
        20000);
    QVERIFY(countMatching(m_received, anyInsert) >= insertsBefore + pending.size());
    QVERIFY(player.state() == QProcess::Running);

    // EXIT is answered, then the player ends with status 0.
    const QByteArray answer
        = localRequest(PLAYER_PORT, "POST /notify?cmd=EXIT&param= HTTP/1.1\r\n\r\n");
    QVERIFY2(answer.endsWith("{\"code\":0}"), answer.constData());
    QVERIFY(answer.startsWith("HTTP/1.1 200"));
    QVERIFY(player.waitForFinished(10000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
    QVERIFY(programLogs(root, "lumaview")
                .contains(QStringLiteral("Socket Received command: EXIT, param: ")));
}

void TestLumaviewProcess::secondInstanceLeavesAtOnce()
{
    if (!portFree(PLAYER_PORT))
        QFAIL("port 12223 must be free for this test");
    TestEnv env;
    QVERIFY(env.isValid());
    const QString root = env.dataRoot();
    writeContent(root);
    if (QTest::currentTestFailed())
        return;

    QProcess first;
    startPlayer(first, env);
    if (QTest::currentTestFailed())
        return;
    auto guard = qScopeGuard([&] { stop(first); });
    QVERIFY(waitListening(first));
    const QString startLine = QStringLiteral("开启运行终端播放器lumaview");
    QTRY_VERIFY_WITH_TIMEOUT(programLogs(root, "lumaview").contains(startLine), 10000);

    QProcess second;
    startPlayer(second, env);
    if (QTest::currentTestFailed())
        return;
    auto secondGuard = qScopeGuard([&] { stop(second); });
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // The second one started nothing: the log holds a single start.
    QCOMPARE(programLogs(root, "lumaview").count(startLine), 1);

    // The first one still runs and answers.
    QVERIFY(first.state() == QProcess::Running);
    const QByteArray answer
        = localRequest(PLAYER_PORT, "POST /notify?cmd=STATUS&param= HTTP/1.1\r\n\r\n");
    QVERIFY2(answer.endsWith("{\"code\":0}"), answer.constData());
    QVERIFY(localRequest(PLAYER_PORT, "POST /notify?cmd=EXIT&param= HTTP/1.1\r\n\r\n")
                .endsWith("{\"code\":0}"));
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitCode(), 0);
}

void TestLumaviewProcess::windowFillsBareScreen()
{
    // A kiosk started straight into X: an X server and no window manager.
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    if (xvfb.isEmpty() || xwininfo.isEmpty())
        QSKIP("needs Xvfb and xwininfo");
    if (!portFree(PLAYER_PORT))
        QFAIL("port 12223 must be free for this test");
    int number = 140;
    while (number < 200
        && (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))
            || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))))
        ++number;
    const QString display = QStringLiteral(":%1").arg(number);
    TestEnv env;
    QVERIFY(env.isValid());
    QDir().mkpath(env.dataRoot() + QStringLiteral("/logs"));
    // Not authorized: the status panel stays, nothing plays.
    QVERIFY(writeFile(env.dataRoot() + QStringLiteral("/data/status.json"),
        R"({"status":5,"terminalId":"T0001"})"));

    QProcess server;
    server.setProcessEnvironment(env.processEnvironment());
    server.start(xvfb,
        {display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x720x24"),
            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted(5000));
    auto serverGuard = qScopeGuard([&] { stopProcess(server); });
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)), 10000);

    QProcessEnvironment playerEnv = env.processEnvironment();
    playerEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    playerEnv.insert(QStringLiteral("DISPLAY"), display);
    QProcess player;
    player.setProcessEnvironment(playerEnv);
    player.setProcessChannelMode(QProcess::MergedChannels);
    player.start(QStringLiteral(LUMAVIEW_BIN), QStringList());
    QVERIFY(player.waitForStarted(5000));
    auto playerGuard = qScopeGuard([&] { stop(player); });
    QVERIFY(waitListening(player));

    // The window covers the screen, so the panel in its bottom-right corner
    // is on screen too.
    const QRegularExpression mainWindow(
        QStringLiteral("\"MainWindow\".*\\s(\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)"));
    QString geometry;
    const auto windowGeometry = [&] {
        QProcess info;
        info.setProcessEnvironment(env.processEnvironment());
        info.start(xwininfo,
            {QStringLiteral("-display"), display, QStringLiteral("-root"),
                QStringLiteral("-tree")});
        info.waitForFinished(5000);
        const QRegularExpressionMatch m
            = mainWindow.match(QString::fromUtf8(info.readAllStandardOutput()));
        geometry = m.hasMatch()
            ? QStringLiteral("%1x%2+%3+%4")
                  .arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4))
            : QString();
        return geometry;
    };
    QTRY_COMPARE_WITH_TIMEOUT(windowGeometry(), QStringLiteral("1280x720+0+0"), 10000);
    QVERIFY(localRequest(PLAYER_PORT, "POST /notify?cmd=EXIT&param= HTTP/1.1\r\n\r\n")
                .endsWith("{\"code\":0}"));
    QVERIFY(player.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestLumaviewProcess)
#include "test_lumaview_process.moc"
