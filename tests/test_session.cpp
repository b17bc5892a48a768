#include "clock.h"
#include "clocktext.h"
#include "commandrunner.h"
#include "content/downloadthread.h"
#include "contentfolder.h"
#include "dailylog.h"
#include "fakerunner.h"
#include "httpfileserver.h"
#include "link/serversession.h"
#include "net/playernotices.h"
#include "notifylistener.h"
#include "settings/servicesettings.h"
#include "signageserver.h"
#include "statusfile.h"
#include "testenv.h"

#include <QDir>
#include <QDomDocument>
#include <QtTest>

#include <functional>

// The session against the signage-server simulator on 127.0.0.1, with the
// clock moved forward instead of waiting out retry periods.
class TestSession : public QObject
{
    Q_OBJECT
    ServiceSettings m_settings;

private slots:
    void init();
    void cleanup();

    void walksToWaitingAndStoresContent();
    void idConflictChangesTheId();
    void exceedAuthCountStaysSilent();
    void reconnectsAfterDisconnectWithoutNewTimeSync();
    void answersServerRequests();
    void twoFramesInOneWrite();
    void heartbeats();
    void heartbeatsOnceContentIsReady();
    void scheduleChangeRestartsTheWalk();
    void silentServerIsReconnected();
    void unsafeIdsAreSkipped();
    void downloadsEveryFileThenSwitchesAndReloads();
    void corruptFileIsFetchedAgain();
    void scheduleChangeWhileAFileIsStalled();
    void schedulesWithNothingToFetchReachThePlayer();
    void missingFileIsAskedForLessOften();
    void logRequestUploadsAndAnswers();
    void powerRequestsReachTheRecordingRunner();

private:
    // Runs the session until done() holds: waits for data really, and skips the
    // one-second pauses between passes by moving the clock.
    bool drive(const std::function<bool()> &done, int maxPasses = 200);
    void startSession(const QString &content = QString());
    void startDownloads(int firstRetryPauseMs = DownloadThread::FIRST_RETRY_PAUSE_MS,
        int lastRetryPauseMs = DownloadThread::LAST_RETRY_PAUSE_MS);
    // What the downloads did, when a test fails.
    void dumpDownloads() const;
    // Stores the schedule and waits until it is the player's playbill.
    bool switchTo(const QString &content, int maxPasses = 400);
    int sudoCalls() const;
    // Arguments after "sudo -S" of every privileged command, joined by blanks.
    QStringList sudoCommands() const;
    QString data(const QString &relative) const { return m_env->dataRoot() + "/data/" + relative; }

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<SignageServer> m_server;
    std::unique_ptr<DownloadThread> m_downloads;
    std::unique_ptr<ServerSession> m_session;
    std::unique_ptr<NotifyListener> m_player;
    std::shared_ptr<FakeRunner> m_runner;
    QStringList m_playerCommands;
};

void TestSession::init()
{
    Clock::reset();
    Clock::setOffsetMs(0);
    m_settings.reset();
    m_env = std::make_unique<TestEnv>();
    for (const char *dir : {"logs", "data/tpl", "data/zone", "data/mtl"})
        QDir().mkpath(m_env->dataRoot() + "/" + dir);
    writeFile(data("status.json"),
        R"({"terminalId":"001A2B3C4D5E100","mac":"00-1A-2B-3C-4D-5E",)"
        R"("connHost":":","password":"pw","status":5,"volume":"0.1"})");
    m_runner = std::make_shared<FakeRunner>();
    m_runner->realPrograms = {"wget", "zip"};
    m_settings.runner = m_runner;

    // A stand-in player that records what the service tells it.
    m_playerCommands.clear();
    m_player = std::make_unique<NotifyListener>(true, NotifyListener::Order::AnswerThenAct);
    QVERIFY(m_player->listen(12223));
    m_player->setHandler([this](const QString &cmd, const QString &param) {
        m_playerCommands << cmd + " " + param;
    });

    m_server = std::make_unique<SignageServer>();
    m_server->setContentDir(QStringLiteral(LUMA_SAMPLE_CONTENT));
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    m_settings.connIp = "127.0.0.1";
    m_settings.connPort = QString::number(m_server->port());
    m_settings.terminalId = "001A2B3C4D5E100";
    m_settings.mac = "00-1A-2B-3C-4D-5E";
}

void TestSession::cleanup()
{
    m_session.reset();
    m_downloads.reset();
    PlayerNotices::waitUntilSent(10000);
    m_server.reset();
    m_player.reset();
    m_env.reset();
    Clock::reset();
}

void TestSession::startSession(const QString &content)
{
    if (!content.isEmpty())
        m_server->setContentDir(content);
    // The status file's address would replace the one set above: store it.
    StatusFile::update(data("status.json"),
        [this](QJsonObject &o) { o["connHost"] = QString("127.0.0.1:%1").arg(m_server->port()); });
    m_session = std::make_unique<ServerSession>(m_settings);
    m_session->setDownloadThread(m_downloads.get());
    m_session->start();
}

void TestSession::startDownloads(int firstRetryPauseMs, int lastRetryPauseMs)
{
    QVERIFY(m_server->listenHttp(QHostAddress::LocalHost, 0));
    m_downloads = std::make_unique<DownloadThread>();
    m_downloads->setRetryPauses(firstRetryPauseMs, lastRetryPauseMs);
    m_downloads->start();
}

void TestSession::dumpDownloads() const
{
    qDebug() << "left" << m_session->downloadFiles() << "done" << m_session->doneFiles()
             << "current" << m_session->currentDownload() << "step" << m_session->step();
    for (const auto &r : m_server->http()->requests())
        qDebug() << r.method << r.target << r.status;
    qDebug().noquote() << readFile(DailyLog::filePath(ClockText::date())).right(3000);
}

bool TestSession::switchTo(const QString &content, int maxPasses)
{
    m_server->setContentDir(content);
    m_server->scheduleChanged();
    const QByteArray schedule = m_server->daySchedule();
    return drive([&] { return readFile(data("day-play.xml")) == schedule; }, maxPasses);
}

int TestSession::sudoCalls() const
{
    int n = 0;
    for (const auto &call : m_runner->calls())
        n += call.program == "sudo";
    return n;
}

QStringList TestSession::sudoCommands() const
{
    QStringList commands;
    for (const auto &call : m_runner->calls()) {
        if (call.program == "sudo" && call.args.value(0) == "-S" && call.input == "pw\n")
            commands << call.args.mid(1).join(' ');
    }
    return commands;
}

bool TestSession::drive(const std::function<bool()> &done, int maxPasses)
{
    for (int pass = 0; pass < maxPasses; ++pass) {
        if (done())
            return true;
        // Let socket traffic and due passes run.
        QTest::qWait(20);
        if (done())
            return true;
        // One second of session time per step; a pass that only sleeps is run
        // at once, a wait for data ends by itself when the clock passes it.
        Clock::advanceMs(ServerSession::PASS_SLEEP_MS);
        if (m_session->pendingWaitMs() == 0 && !m_session->receiving())
            m_session->runPassNow();
    }
    return done();
}

void TestSession::walksToWaitingAndStoresContent()
{
    const qint64 serverTime = QDateTime(QDate(2040, 12, 8), QTime(10, 0, 0)).toSecsSinceEpoch();
    m_server->setServerTime(serverTime);
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));

    QCOMPARE(m_session->status(), int(ServerSession::AUTHORIZED));
    QCOMPARE(m_server->handshakesReceived(), 1);
    QCOMPARE(m_server->authRequests().size(), 1);
    QCOMPARE(m_server->lastTerminalId(), QString("001A2B3C4D5E100"));
    QCOMPARE(m_server->lastMacText(), QString("00-1A-2B-3C-4D-5E"));

    // Every list and zone of the schedule is stored where the player reads it.
    for (const char *file : {"tpl/tl100.l", "tpl/tl200.l", "zone/z1001.z", "zone/z1002.z",
             "zone/z1003.z", "zone/z2001.z"}) {
        QVERIFY2(QFile::exists(data(file)), file);
    }
    QCOMPARE(readFile(data("tpl/tl100.l")),
        readFile(QStringLiteral(LUMA_SAMPLE_CONTENT) + "/tpl/tl100.l"));
    // Zones arrive in GBK and are stored as the same text in UTF-8.
    QCOMPARE(readFile(data("zone/z1003.z")),
        readFile(QStringLiteral(LUMA_SAMPLE_CONTENT) + "/zone/z1003.z"));
    QCOMPARE(readFile(data("day-play.xml.tmp")), m_server->daySchedule());
    QVERIFY(!QFile::exists(data("day-play.xml")));

    // Requests in order, one of each.
    QStringList walk;
    for (const auto &frame : m_server->receivedFrames())
        walk << QString("%1/%2").arg(frame.protocol).arg(frame.command);
    QCOMPARE(walk,
        (QStringList {"273/1", "273/100", "273/102", "257/5", "257/6", "257/6", "257/7", "257/7",
            "257/7", "257/7"}));

    // Files to fetch: each list's templates, each zone's materials once.
    QVERIFY(!m_session->downloadFiles().isEmpty());
    for (const QString &file : m_session->downloadFiles())
        QVERIFY2(file.startsWith("data/"), qPrintable(file));

    // The configuration points the terminal at the server it names.
    const QJsonObject status = StatusFile::read(data("status.json"));
    QCOMPARE(status["status"].toInt(), 4);
    QCOMPARE(status["connHost"].toString(), QString("127.0.0.1:%1").arg(m_server->port()));
    QCOMPARE(status["rtdaHost"].toString(), QString("127.0.0.1:%1").arg(m_server->httpPort()));
    QCOMPARE(m_settings.logUrl.get(), QString("http://127.0.0.1:%1").arg(m_server->httpPort()));
    QCOMPARE(m_session->serverConfig().httpPort, int(m_server->httpPort()));
    QVERIFY(status["syncTime"].toDouble() > 0);

    // The clock was set through sudo with the server's time, then the RTC.
    const auto calls = m_runner->callsOf("sudo");
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].args, (QStringList {"-S", "date", "120810002040.00"}));
    QCOMPARE(calls[0].input, QByteArray("pw\n"));
    QCOMPARE(calls[1].args, (QStringList {"-S", "hwclock", "--systohc"}));

    // The player heard about the authorization.
    PlayerNotices::waitUntilSent(10000);
    QTRY_COMPARE(m_playerCommands, QStringList {"STATUS 4"});
}

void TestSession::idConflictChangesTheId()
{
    m_server->setAuthResults({6, 4});
    startSession();
    QVERIFY(drive([this] {
        return m_session->step() >= ServerSession::REQ_CONFIG
            && m_session->status() == ServerSession::AUTHORIZED;
    }));
    const auto auths = m_server->authRequests();
    QCOMPARE(auths.size(), 2);
    QCOMPARE(auths[0].terminal.terminalId, QString("001A2B3C4D5E100"));
    const QString changed = auths[1].terminal.terminalId;
    QCOMPARE(changed.size(), 15);
    QVERIFY(changed.startsWith("001A2B3C4D5E"));
    QCOMPARE(m_settings.terminalId.get(), changed);
    // The new id reaches the status file with the accepted authorization.
    QCOMPARE(StatusFile::read(data("status.json"))["terminalId"].toString(), changed);
}

void TestSession::exceedAuthCountStaysSilent()
{
    m_server->setAuthResult(7);
    startSession();
    QVERIFY(drive([this] { return m_session->status() == ServerSession::EXCEED_AUTH_COUNT; }));
    // The refusal is logged now; the 20 minutes below may cross midnight.
    const QString logPath = DailyLog::filePath(ClockText::date());
    for (int i = 0; i < 40; ++i) {
        Clock::advanceMs(ServerSession::CONNECT_RETRY_MS);
        m_session->runPassNow();
        QTest::qWait(5);
    }
    QCOMPARE(m_server->authRequests().size(), 1);
    // Not written to the status file.
    QCOMPARE(StatusFile::read(data("status.json"))["status"].toInt(), 5);
    const QString log = QString::fromUtf8(readFile(logPath));
    QVERIFY(log.contains("[ AUTH ] - [ WARN ]  Exceed authorized amount of terminals"));
}

void TestSession::reconnectsAfterDisconnectWithoutNewTimeSync()
{
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    m_server->clearHistory();
    m_server->disconnectTerminal();
    QTRY_COMPARE(m_session->status(), int(ServerSession::NOT_CONNECTED));
    QVERIFY(!m_session->isConnected());

    // The next connect waits out the retry period of the last request.
    QVERIFY(drive([this] { return m_server->connectionCount() == 2; }));
    QVERIFY(drive([this] {
        return m_session->step() == ServerSession::WAITING && m_server->receivedFrames().size() > 3;
    }));
    QStringList walk;
    for (const auto &frame : m_server->receivedFrames())
        walk << QString("%1/%2").arg(frame.protocol).arg(frame.command);
    // Configuration again, but no time request: the last sync is fresh.
    QCOMPARE(walk.mid(0, 3), (QStringList {"273/1", "273/100", "257/5"}));
    QCOMPARE(sudoCalls(), 2);
}

void TestSession::answersServerRequests()
{
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));

    // Two requests at once: both answers go out a pass apart, without
    // waiting for the server to say something in between.
    m_server->pushFrames(
        {m_server->buildFrame(278, 9, {"env-1"}), m_server->buildFrame(278, 13, {"shot-1"})});
    QTRY_VERIFY_WITH_TIMEOUT(m_server->reports().size() >= 2, 15000);
    const auto reports = m_server->reports();
    QCOMPARE(reports[0].command, quint16(9));
    QCOMPARE(reports[0].terminalId, QString("001A2B3C4D5E100"));
    QCOMPARE(reports[0].echoId, QByteArray("env-1"));
    QCOMPARE(reports[0].paramCount, 4);
    QDomDocument doc;
    QVERIFY(doc.setContent(reports[0].body));
    QCOMPARE(doc.documentElement().firstChildElement("volumn").attribute("value").toDouble(), 0.1);
    QCOMPARE(reports[1].command, quint16(13));
    QCOMPARE(reports[1].echoId, QByteArray("shot-1"));

    // Volume with four parameters is stored and told to the player.
    m_server->setVolume("0.8");
    QVERIFY(drive(
        [this] { return StatusFile::read(data("status.json"))["volume"].toDouble() == 0.8; }));
    QVERIFY(StatusFile::read(data("status.json"))["volume"].isDouble());
    PlayerNotices::waitUntilSent(10000);
    QTRY_VERIFY(m_playerCommands.contains("VOLUME 0.8"));
    // A flood of changes reaches the player as a few notices, the latest last.
    const int told = m_playerCommands.size();
    for (int i = 1; i <= 500; ++i)
        PlayerNotices::post("VOLUME", QString::number(i / 1000.0));
    QTRY_COMPARE(m_playerCommands.last(), QString("VOLUME 0.5"));
    QVERIFY(m_playerCommands.size() - told < 50);

    // Three parameters leave it alone.
    m_server->pushFrame(278, 12, {"x", "", "id"});
    m_server->setClearType("3");
    QVERIFY(drive([this] { return m_session->clearType() == 3; }));
    QCOMPARE(StatusFile::read(data("status.json"))["volume"].toDouble(), 0.8);
    QCOMPARE(StatusFile::read(data("status.json"))["clearType"].toInt(), 3);

    // Restart: the player is told to exit.
    m_server->restartPlayer();
    PlayerNotices::waitUntilSent(10000);
    QTRY_VERIFY(m_playerCommands.contains("EXIT "));
}

void TestSession::twoFramesInOneWrite()
{
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    m_server->pushFrames({m_server->buildFrame(278, 1005, {"", "", "", "2"}),
        m_server->buildFrame(278, 9, {"both"})});
    QVERIFY(drive([this] { return !m_server->reports().isEmpty(); }));
    QCOMPARE(m_session->clearType(), 2);
    QCOMPARE(m_server->reports().first().echoId, QByteArray("both"));
}

void TestSession::heartbeats()
{
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    // The server's heartbeat is answered.
    m_server->sendHeartbeat();
    QVERIFY(drive([this] { return m_server->heartbeatAnswersReceived() == 1; }));

    // Heartbeats of our own start once the content is complete; here the
    // sample schedule names files, so the session is not ready yet.
    QVERIFY(!m_session->contentReady());
    Clock::advanceMs(31000);
    m_session->runPassNow();
    QTest::qWait(100);
    QCOMPARE(m_server->heartbeatsReceived(), 0);
}

void TestSession::heartbeatsOnceContentIsReady()
{
    // A schedule without template lists has nothing to fetch: ready at once.
    QTemporaryDir content;
    writeFile(content.path() + "/day-play.xml", "<Day/>");
    startSession(content.path());
    QVERIFY(drive([this] { return m_session->contentReady(); }));
    QCOMPARE(m_session->step(), int(ServerSession::WAITING));
    QVERIFY(QFile::exists(data("day-play.xml.tmp")));

    // Silence for 30 s brings one heartbeat; the server's traffic resets it.
    QVERIFY(drive([this] { return m_server->heartbeatsReceived() == 1; }, 400));
    QVERIFY(drive([this] { return m_server->heartbeatsReceived() == 2; }, 400));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains("[ TCP ] - [ DEBUG ]  Send active heartbeat 00 00 00 00\r\n"));
}

void TestSession::scheduleChangeRestartsTheWalk()
{
    m_server->setMuted(257, 7, true); // stall the walk in the zones
    startSession();
    QVERIFY(drive([this] {
        const auto frames = m_server->receivedFrames();
        return !frames.isEmpty() && frames.last().command == 7;
    }));
    m_server->setMuted(257, 7, false);
    m_server->clearHistory();
    m_server->scheduleChanged();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    const auto frames = m_server->receivedFrames();
    QVERIFY(!frames.isEmpty());
    QCOMPARE(frames.first().protocol, quint16(257));
    QCOMPARE(frames.first().command, quint16(5));
}

void TestSession::silentServerIsReconnected()
{
    m_server->setSendHandshake(false);
    startSession();
    QVERIFY(drive([this] { return m_server->connectionCount() == 1; }));
    // Nothing but a fresh connection every 30 s; never an authorization.
    QVERIFY(drive([this] { return m_server->connectionCount() == 3; }, 200));
    QCOMPARE(m_server->authRequests().size(), 0);
    QCOMPARE(m_session->status(), int(ServerSession::NOT_CONNECTED));
}

void TestSession::unsafeIdsAreSkipped()
{
    QTemporaryDir content;
    writeFile(content.path() + "/day-play.xml",
        R"(<Day><TPL p="../../evil.l"><Z p=".."/><Z p="good.z"/></TPL><TPL p="ok.l"/></Day>)");
    writeFile(content.path() + "/tpl/ok.l", R"(<TL><T name="t.xml" path="data/mtl"/></TL>)");
    writeFile(content.path() + "/zone/good.z", R"(<PL><P name="m.png" path="data/mtl"/></PL>)");
    startSession(content.path());
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    QVERIFY(QFile::exists(data("tpl/ok.l")));
    QVERIFY(QFile::exists(data("zone/good.z")));
    QVERIFY(!QFile::exists(m_env->dataRoot() + "/evil.l"));
    QCOMPARE(m_session->downloadFiles(), (QList<QString> {"data/mtl/t.xml", "data/mtl/m.png"}));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains("Refuse template list id \"..%2F..%2Fevil.l\""));
    QVERIFY(log.contains("Refuse zone id \"..\""));
}

void TestSession::downloadsEveryFileThenSwitchesAndReloads()
{
    startDownloads();
    startSession();
    const bool ready = drive([this] { return m_session->contentReady(); }, 400);
    if (!ready)
        dumpDownloads();
    QVERIFY(ready);

    // Every file of the playbill arrived verified, one after another in list order.
    const QList<QString> done = m_session->doneFiles();
    QVERIFY(!done.isEmpty());
    QVERIFY(m_session->downloadFiles().isEmpty());
    QStringList fetched;
    for (const auto &request : m_server->http()->requests()) {
        if (!request.name.endsWith(".md5"))
            fetched << request.target.mid(1);
    }
    QCOMPARE(fetched, QStringList(done));
    for (const QString &entry : done) {
        const QString name = entry.mid(entry.lastIndexOf('/') + 1);
        const QByteArray bytes = readFile(data("mtl/" + name));
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
        QVERIFY(name.contains(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
    }
    // The new playbill is in place only now, and the player was told once.
    QCOMPARE(readFile(data("day-play.xml")), m_server->daySchedule());
    QVERIFY(!QFile::exists(data("day-play.xml.tmp")));
    PlayerNotices::waitUntilSent(10000);
    QTRY_COMPARE(m_playerCommands.count("RELOAD "), 1);
    QCOMPARE(m_playerCommands.last(), QString("RELOAD "));

    // The progress report then lists nothing left to fetch.
    m_server->requestDownloadReport("dl-1");
    QVERIFY(drive([this] { return !m_server->reports().isEmpty(); }));
    QVERIFY(m_server->reports().first().body.contains(
        "<download downloadcount=\"0\" downloadedCount=\"0\"/>"));

    // With content in place, heartbeats keep the link alive.
    QVERIFY(drive([this] { return m_server->heartbeatsReceived() >= 1; }, 400));
}

void TestSession::corruptFileIsFetchedAgain()
{
    startDownloads();
    const QStringList files = m_server->contentFiles();
    QVERIFY(!files.isEmpty());
    const QString victim = files.first().mid(files.first().lastIndexOf('/') + 1);
    m_server->http()->corrupt(victim, 1);
    startSession();
    QVERIFY(drive([this] { return m_session->contentReady(); }, 400));
    int gets = 0;
    for (const auto &request : m_server->http()->requests())
        gets += request.name == victim;
    QCOMPARE(gets, 2);
    const QByteArray bytes = readFile(data("mtl/" + victim));
    QVERIFY(victim.contains(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains("Downloaded file: " + victim + " with wrong md5: "));
}

void TestSession::logRequestUploadsAndAnswers()
{
    startDownloads();
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    m_server->requestLogs(201, "log-1");
    QTRY_VERIFY_WITH_TIMEOUT(!m_server->reports().isEmpty(), 15000);
    const auto report = m_server->reports().first();
    QCOMPARE(report.command, quint16(201));
    QCOMPARE(report.echoId, QByteArray("log-1"));
    QCOMPARE(report.body, QByteArray("2"));
    const auto uploads = m_server->http()->uploads();
    QCOMPARE(uploads.size(), 1);
    QCOMPARE(uploads[0].path, QString("/logfile/upload"));
    QCOMPARE(uploads[0].parts.size(), 1);
    QCOMPARE(uploads[0].parts[0].name, QString("uploadFile"));
    QCOMPARE(uploads[0].parts[0].fileName, QString("001A2B3C4D5E100.zip"));
    QVERIFY(uploads[0].parts[0].data.startsWith("PK"));

    // A refused upload answers 3.
    m_server->http()->setPostReply("/logfile/upload", 200, "{\"code\":1}");
    m_server->requestLogs(202, "log-2");
    QTRY_VERIFY_WITH_TIMEOUT(m_server->reports().size() == 2, 15000);
    QCOMPARE(m_server->reports().last().command, quint16(202));
    QCOMPARE(m_server->reports().last().body, QByteArray("3"));
}

void TestSession::powerRequestsReachTheRecordingRunner()
{
    startSession();
    QVERIFY(drive([this] { return m_session->step() == ServerSession::WAITING; }));
    const int before = sudoCommands().size();

    m_server->shutdownNow();
    QTRY_VERIFY(sudoCommands().contains("shutdown -h now"));
    m_server->rebootNow();
    QTRY_VERIFY(sudoCommands().contains("shutdown -r now"));
    QCOMPARE(sudoCommands().size(), before + 2);

    // From here the clock stands still unless the test moves it; the poll
    // timer checks the schedule once more than ten seconds have passed (on
    // the monotonic clock, which Clock::advanceMs moves as well).
    // Tomorrow 10:00, later than any check so far.
    const QDate day = Clock::now().date().addDays(1);
    const qint64 t0 = QDateTime(day, QTime(10, 0, 0)).toMSecsSinceEpoch();
    const QString date = day.toString("yyyy-MM-dd");
    Clock::setFixedMs(t0);
    QTest::qWait(1500); // a check at t0 with nothing to do

    // 276/280: a wake-up in two hours, stored and programmed at the next check.
    const QByteArray onXml
        = QString(R"(<R><A s="0" r="0" t="%1 12:00:00"/></R>)").arg(date).toUtf8();
    m_server->pushPowerSchedule(onXml);
    QTRY_COMPARE(m_session->powerSchedule().powerList().size(), 1);
    QCOMPARE(readFile(data("poweronoff.xml")), onXml);
    Clock::advanceMs(11000);
    QTRY_VERIFY(sudoCommands().size() == before + 3);
    QCOMPARE(sudoCommands().last(), QString("/usr/libexec/lumaview/lumaview-wakealarm 7189"));

    // 278/2: the schedule in the sixth parameter replaces it; its off time
    // passes and the machine is shut down at the next check.
    const QByteArray offXml
        = QString(R"(<R><D s="1" r="0" t="%1 10:00:15"/></R>)").arg(date).toUtf8();
    m_server->pushShutdownSchedule(offXml);
    QTRY_VERIFY(m_session->powerSchedule().powerList().value(0).onOff == 1);
    QCOMPARE(readFile(data("poweronoff.xml")), offXml);
    Clock::advanceMs(12000);
    QTRY_VERIFY(sudoCommands().size() == before + 4);
    QCOMPARE(sudoCommands().last(), QString("shutdown -h now"));
    QTest::qWait(1500); // no second check within ten seconds
    QCOMPARE(sudoCommands().size(), before + 4);
}

void TestSession::scheduleChangeWhileAFileIsStalled()
{
    QTemporaryDir first;
    QTemporaryDir second;
    QByteArray big(4 * 1024 * 1024, '\0');
    for (int i = 0; i < big.size(); i += 4096)
        big[i] = char(i / 4096);
    const QString stalled = writeContent(first.path(), "big.l", {big}).first();
    const QStringList fresh
        = writeContent(second.path(), "fresh.l", {"first of the new", "second of the new"});
    startDownloads();
    QSignalSpy held(m_server->http(), &HttpFileServer::answerHeld);
    m_server->http()->stall(stalled);
    startSession(first.path());
    QVERIFY(drive([&] { return !held.isEmpty(); }));
    QCOMPARE(m_session->currentDownload().section('/', -1), stalled);

    // The server switches to a schedule with other files while that one hangs.
    const bool switched = switchTo(second.path(), 200);
    if (!switched)
        dumpDownloads();
    QVERIFY(switched);
    // Every file of the new schedule was fetched and verified before the switch.
    QCOMPARE(
        m_session->doneFiles(), (QList<QString> {"data/mtl/" + fresh[0], "data/mtl/" + fresh[1]}));
    for (const QString &name : fresh) {
        const QByteArray bytes = readFile(data("mtl/" + name));
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
        QCOMPARE(md5Name(bytes, ".bin"), name);
    }
    // The stalled transfer was stopped, not counted.
    QVERIFY(!QFile::exists(data("mtl/" + stalled)));
    QTRY_VERIFY(!QFile::exists(data("mtl/" + stalled + ".tmp")));
    PlayerNotices::waitUntilSent(10000);
    QTRY_COMPARE(m_playerCommands.count("RELOAD "), 1);
    QVERIFY(m_session->contentReady());
}

void TestSession::schedulesWithNothingToFetchReachThePlayer()
{
    QTemporaryDir playing;
    QTemporaryDir cleared;
    QTemporaryDir stored;
    writeContent(playing.path(), "play.l", {"a picture"});
    writeFile(cleared.path() + "/day-play.xml", "<Day/>");
    // Templates already stored: the list names nothing to download.
    writeFile(stored.path() + "/day-play.xml", R"(<Day><TPL p="kept.l"/></Day>)");
    writeFile(stored.path() + "/tpl/kept.l", R"(<TL><T name="t.xml" path="/elsewhere"/></TL>)");
    startDownloads();
    startSession(playing.path());
    QVERIFY(drive([this] { return QFile::exists(data("day-play.xml")); }, 400));

    // An operator clears the terminal: the empty schedule is played.
    QVERIFY(switchTo(cleared.path()));
    QVERIFY(!QFile::exists(data("day-play.xml.tmp")));
    QVERIFY(switchTo(stored.path()));
    PlayerNotices::waitUntilSent(10000);
    QTRY_COMPARE(m_playerCommands.count("RELOAD "), 3);
}

void TestSession::missingFileIsAskedForLessOften()
{
    QTemporaryDir playing;
    QTemporaryDir broken;
    writeContent(playing.path(), "play.l", {"a picture"});
    const QString missing = md5Name("never served", ".png");
    writeContent(broken.path(), "broken.l", {"present"}, {missing});
    startDownloads(100, 800);
    startSession(playing.path());
    QVERIFY(drive([this] { return QFile::exists(data("day-play.xml")); }, 400));
    const QByteArray played = readFile(data("day-play.xml"));

    m_server->setContentDir(broken.path());
    m_server->scheduleChanged();
    auto gets = [&](const QString &name) {
        QList<qint64> times;
        for (const auto &request : m_server->http()->requests()) {
            if (request.name == name)
                times << request.timeMs;
        }
        return times;
    };
    QVERIFY(drive([&] { return gets(missing).size() >= 5; }, 2000));
    // Asked again after 100, 200, 400, 800 ms; the companion the server did not
    // have is asked for again with each attempt.
    const QList<qint64> times = gets(missing);
    for (int i = 1; i < 5; ++i) {
        const qint64 pause = 100 << (i - 1);
        QVERIFY2(times[i] - times[i - 1] >= pause - 20,
            qPrintable(QString("attempt %1 after %2 ms").arg(i).arg(times[i] - times[i - 1])));
    }
    QVERIFY(gets(missing + ".md5").size() >= 5);
    // Meanwhile the player keeps its playbill, and the report shows the file
    // still on its way.
    QCOMPARE(readFile(data("day-play.xml")), played);
    m_server->requestDownloadReport("dl-missing");
    QVERIFY(drive([this] { return !m_server->reports().isEmpty(); }));
    QVERIFY(m_server->reports().last().body.contains(
        QString(R"(<file name="data/mtl/%1" percentage="0" downloadstatus="2"/>)")
            .arg(missing)
            .toUtf8()));
}

QTEST_MAIN(TestSession)
#include "test_session.moc"
