#include "clock.h"
#include "commandrunner.h"
#include "content/contentwalk.h"
#include "fakerunner.h"
#include "link/linktransport.h"
#include "link/serversession.h"
#include "net/playernotices.h"
#include "power/powerschedule.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"
#include "requests/serverrequests.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "simwire.h"
#include "statusfile.h"
#include "testenv.h"

#include "clocktext.h"
#include "dailylog.h"
#include "net/offthreadwork.h"
#include "notifylistener.h"

#include <QSemaphore>

#include <atomic>
#include <vector>

#include <QtTest>

using namespace ServerProtocol;

// Stands in for the TCP socket: records what the session sends and lets the
// test play the server's part, with no network at all.
class FakeTransport : public LinkTransport
{
    Q_OBJECT
public:
    QList<QByteArray> sent;
    QList<qint64> sentAt; // clock time of each send
    QStringList connects;
    bool failSends = false;
    bool up = false;

    void connectToServer(const QString &host, quint16 port) override
    {
        connects << host + ":" + QString::number(port);
    }
    bool isUnconnected() const override { return !up; }
    void abort() override { up = false; }
    void disconnectFromServer() override
    {
        if (!up)
            return;
        up = false;
        emit disconnected();
    }
    void close() override { disconnectFromServer(); }
    bool send(const QByteArray &bytes) override
    {
        if (failSends || !up)
            return false;
        sent << bytes;
        sentAt << Clock::nowMs();
        return true;
    }
    QByteArray readAll() override { return std::exchange(m_inbox, QByteArray()); }
    qint64 bytesAvailable() const override { return m_inbox.size(); }

    // The server's side.
    void accept()
    {
        up = true;
        emit connected();
    }
    void deliver(const QByteArray &bytes)
    {
        m_inbox += bytes;
        emit readyRead();
    }
    // protocol/command of every headed frame sent, heartbeats as "hb".
    QStringList sentKinds() const
    {
        QStringList kinds;
        for (const QByteArray &bytes : sent) {
            if (bytes == BuildData::ACTIVE_HEARTBEAT)
                kinds << "hb";
            else if (bytes == BuildData::RESP_HEARTBEAT)
                kinds << "hb-answer";
            else if (bytes.size() == BuildData::HANDSHAKE_SIZE)
                kinds << "handshake";
            else
                kinds << QString("%1/%2").arg(protocolOf(bytes)).arg(commandOf(bytes));
        }
        return kinds;
    }

private:
    QByteArray m_inbox;
};

static QByteArray serverFrame(
    quint16 protocol, quint16 command, const QList<QByteArray> &params = {})
{
    return SimWire::encodeFrame(1, protocol, command, params);
}

// The pieces of the session without a socket: the pass loop over a stand-in
// transport, the content walk and the server requests.
class TestSessionParts : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loopConnectsOnlyEveryThirtySeconds();
    void loopLogsInAndWalks();
    void loopHeartbeatsAfterThirtySecondsOfSilence();
    void loopDropsTheLinkWhenAHeartbeatCannotBeWritten();
    void loopSendsQueuedAnswersAPassApart();
    void configWithoutUsablePortKeepsTheAddress_data();
    void configWithoutUsablePortKeepsTheAddress();
    void walkAsksAgainWhenAReplyCannotBeStored();
    void scheduleAskedAgainWhileTheLinkIdles();
    void linkLostDuringAHandlerIsNoticedAtOnce();
    void logRequestsRunOffTheSessionThread();
    void serialPoolKeepsOrderAndHandsDataOver();
    void logAnswerForALostConnectionIsDropped();
    void repeatedRefusalIsReportedOnce();

    void walkMoves();
    void walkRefusesBadFrames();

    void requests_data();
    void requests();
    void requestsEchoAndVolume();

private:
    // One pass of the loop at the time it is due (the clock jumps there).
    void pass();
    // Passes until the session has sent count frames in all.
    void passUntilSent(int count);
    void startSession();
    // Connect, handshake, authorize: ends with the configuration request sent.
    void logIn();
    // ... then configuration and time: ends with the schedule request sent.
    void reachSchedule();
    // ... then an empty schedule: the content is complete, the loop waits.
    void reachWaiting();
    QString data(const QString &relative) const { return m_env->dataRoot() + "/data/" + relative; }

    std::unique_ptr<TestEnv> m_env;
    std::shared_ptr<FakeRunner> m_runner;
    std::unique_ptr<ServiceSettings> m_settings;
    std::unique_ptr<FakeTransport> m_link;
    std::unique_ptr<ServerSession> m_session;
};

void TestSessionParts::init()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0)).toMSecsSinceEpoch());
    m_env = std::make_unique<TestEnv>();
    QDir().mkpath(m_env->dataRoot() + "/data/tpl");
    QDir().mkpath(m_env->dataRoot() + "/data/zone");
    QDir().mkpath(m_env->dataRoot() + "/logs");
    writeFile(data("status.json"), R"({"connHost":"10.1.2.3:9300","password":"pw","volume":0.3})");
    m_runner = std::make_shared<FakeRunner>();
    m_settings = std::make_unique<ServiceSettings>();
    m_settings->runner = m_runner;
    m_settings->terminalId = "001A2B3C4D5E100";
    m_settings->mac = "00-1A-2B-3C-4D-5E";
}

void TestSessionParts::cleanup()
{
    m_session.reset();
    m_link.reset();
    PlayerNotices::waitUntilSent(10000);
    m_settings.reset();
    m_env.reset();
    Clock::reset();
}

void TestSessionParts::startSession()
{
    TerminalStatus status(data("status.json"), *m_settings);
    m_link = std::make_unique<FakeTransport>();
    m_session = std::make_unique<ServerSession>(
        *m_settings, status.reloadForSession(), data("status.json"));
    m_session->setTransport(m_link.get());
    m_session->start();
}

void TestSessionParts::pass()
{
    Clock::setFixedMs(qMax(Clock::nowMs(), m_session->nextPassAtMs()));
    m_session->runPassNow();
}

void TestSessionParts::passUntilSent(int count)
{
    for (int i = 0; i < 200 && m_link->sent.size() < count; ++i)
        pass();
    QCOMPARE(m_link->sent.size(), count);
}

void TestSessionParts::logIn()
{
    startSession();
    pass();
    m_link->accept();
    m_link->deliver(SimWire::innerHandshake(Clock::nowMs(), 23081003));
    passUntilSent(2); // our handshake, then the authorization request
    m_link->deliver(
        serverFrame(PROTO_SESSION, CMD_AUTH, {QByteArray::fromHex("0000000004000000")}));
    passUntilSent(3); // configuration request
}

void TestSessionParts::reachSchedule()
{
    logIn();
    m_link->deliver(serverFrame(PROTO_SESSION, CMD_CONFIG, {"<config/>"}));
    passUntilSent(4);
    m_link->deliver(serverFrame(PROTO_SESSION, CMD_SERVER_TIME, {QByteArray(8, '\0')}));
    passUntilSent(5);
    QCOMPARE(m_link->sentKinds().last(), QString("257/5"));
}

void TestSessionParts::reachWaiting()
{
    reachSchedule();
    m_link->deliver(serverFrame(PROTO_CONTENT, CMD_DAY_SCHEDULE, {"<Day/>"}));
    QVERIFY(m_session->contentReady());
    QCOMPARE(m_session->step(), int(ServerSession::WAITING));
}

void TestSessionParts::loopConnectsOnlyEveryThirtySeconds()
{
    startSession();
    const qint64 t0 = Clock::nowMs();
    pass();
    // The address and the settings came from the status file, into this
    // session's own settings object.
    QCOMPARE(m_link->connects, QStringList {"10.1.2.3:9300"});
    QCOMPARE(m_settings->sudoPassword.get(), QString("pw"));
    QCOMPARE(m_session->volume(), 0.3);
    // The server never answers: the passes in between only sleep.
    for (int i = 0; i < 200 && m_link->connects.size() < 3; ++i)
        pass();
    QCOMPARE(Clock::nowMs() - t0, 2 * ServerSession::CONNECT_RETRY_MS);
    QVERIFY(m_link->sent.isEmpty());
}

void TestSessionParts::loopLogsInAndWalks()
{
    const qint64 t0 = Clock::nowMs();
    logIn();
    QCOMPARE(m_link->sentKinds(), (QStringList {"handshake", "273/1", "273/100"}));
    QCOMPARE(m_session->status(), int(ServerSession::AUTHORIZED));
    // Our handshake a pass after the server's, authorization after the
    // handshake period, configuration a pass after the authorization.
    QCOMPARE(m_link->sentAt[0] - t0, ServerSession::PASS_SLEEP_MS);
    QCOMPARE(m_link->sentAt[1] - m_link->sentAt[0], ServerSession::HANDSHAKE_RETRY_MS);
    QCOMPARE(m_link->sentAt[2] - m_link->sentAt[1], ServerSession::PASS_SLEEP_MS);
    QCOMPARE(StatusFile::read(data("status.json"))["status"].toInt(), 4);

    // No answer to the configuration request: asked again after 20 s, not before.
    passUntilSent(4);
    QCOMPARE(m_link->sentKinds().last(), QString("273/100"));
    QCOMPARE(m_link->sentAt[3] - m_link->sentAt[2], ServerSession::REQUEST_RETRY_MS);

    const QByteArray config = "<config><ftp><server ip=\"10.9.9.9\" port=\"9400\">"
                              "<LOG><serverip>10.0.0.5</serverip><serverport>8080</serverport>"
                              "</LOG></server></ftp></config>";
    m_link->deliver(serverFrame(PROTO_SESSION, CMD_CONFIG, {config}));
    QCOMPARE(m_settings->connIp.get(), QString("10.9.9.9"));
    QCOMPARE(m_settings->connPort.get(), QString("9400"));
    QCOMPARE(m_settings->logUrl.get(), QString("http://10.0.0.5:8080"));
    passUntilSent(5);
    QCOMPARE(m_link->sentKinds().last(), QString("273/102"));
    QByteArray time; // now, little-endian
    for (int i = 0; i < 8; ++i)
        time.append(char((quint64(QDateTime::currentSecsSinceEpoch()) >> (8 * i)) & 0xff));
    m_link->deliver(serverFrame(PROTO_SESSION, CMD_SERVER_TIME, {time}));
    const auto sudoCalls = m_runner->callsOf("sudo");
    QCOMPARE(sudoCalls.size(), 2);
    QCOMPARE(sudoCalls[0].input, QByteArray("pw\n"));
    passUntilSent(6);
    QCOMPARE(m_link->sentKinds().last(), QString("257/5"));
    m_link->deliver(serverFrame(
        PROTO_CONTENT, CMD_DAY_SCHEDULE, {R"(<Day><TPL p="a.l"><Z p="z.z"/></TPL></Day>)"}));
    passUntilSent(7);
    QCOMPARE(m_link->sentKinds().last(), QString("257/6"));
    QCOMPARE(m_link->sent.last().mid(26), QByteArray("a.l"));
    m_link->deliver(serverFrame(PROTO_CONTENT, CMD_TEMPLATE_LIST, {"<TL/>"}));
    passUntilSent(8);
    QCOMPARE(m_link->sentKinds().last(), QString("257/7"));
    m_link->deliver(serverFrame(PROTO_CONTENT, CMD_ZONE, {"<PL/>"}));
    for (int i = 0; i < 5; ++i)
        pass();
    QCOMPARE(m_session->step(), int(ServerSession::WAITING));
    QCOMPARE(m_link->sent.size(), 8);
    QVERIFY(QFile::exists(data("zone/z.z")));
}

void TestSessionParts::loopHeartbeatsAfterThirtySecondsOfSilence()
{
    reachSchedule();
    // A schedule without lists: the content is complete at once.
    m_link->deliver(serverFrame(PROTO_CONTENT, CMD_DAY_SCHEDULE, {"<Day/>"}));
    QVERIFY(m_session->contentReady());
    const qint64 quiet = Clock::nowMs();
    passUntilSent(6);
    QCOMPARE(m_link->sentKinds().last(), QString("hb"));
    // The loop first waits out its 80 s slice for server data, a pass on
    // either side; only then has the silence lasted long enough.
    QCOMPARE(m_link->sentAt.last() - quiet,
        ServerSession::PASS_SLEEP_MS + ServerSession::IDLE_WAIT_MS + ServerSession::PASS_SLEEP_MS);

    // The server's own heartbeat is answered, once, through the send queue.
    m_link->deliver(BuildData::ACTIVE_HEARTBEAT);
    passUntilSent(7);
    QCOMPARE(m_link->sentKinds().last(), QString("hb-answer"));
}

void TestSessionParts::loopDropsTheLinkWhenAHeartbeatCannotBeWritten()
{
    reachSchedule();
    m_link->deliver(serverFrame(PROTO_CONTENT, CMD_DAY_SCHEDULE, {"<Day/>"}));
    m_link->failSends = true;
    const int connects = m_link->connects.size();
    for (int i = 0; i < 100 && m_session->status() == ServerSession::AUTHORIZED; ++i)
        pass();
    QCOMPARE(m_session->status(), int(ServerSession::NOT_CONNECTED));
    QVERIFY(!m_link->up);
    // The loop then connects again.
    for (int i = 0; i < 100 && m_link->connects.size() == connects; ++i)
        pass();
    QCOMPARE(m_link->connects.size(), connects + 1);
}

void TestSessionParts::loopSendsQueuedAnswersAPassApart()
{
    logIn();
    m_link->deliver(serverFrame(PROTO_CONTROL, CMD_SET_CLEAR_TYPE, {"", "", "", "3"})
        + serverFrame(PROTO_CONTROL, CMD_DOWNLOAD_REPORT, {"r-1"}));
    // Asked again before the answer left: answered once, by the first.
    for (int i = 0; i < 100; ++i)
        m_link->deliver(serverFrame(PROTO_CONTROL, CMD_DOWNLOAD_REPORT, {"r-again"}));
    // Logged at the 1st, 10th and 100th repeat, not line by line.
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QCOMPARE(log.count("again while its answer is on its way"), 3);
    QVERIFY(log.contains(
        "Request 17 again while its answer is on its way: answered once (repeat 100)"));
    m_link->deliver(BuildData::ACTIVE_HEARTBEAT);
    QCOMPARE(m_session->clearType(), 3);
    QCOMPARE(m_session->sendQueue().size(), 2);
    passUntilSent(5);
    QCOMPARE(m_link->sentAt[4] - m_link->sentAt[3], ServerSession::PASS_SLEEP_MS);
    QList<QByteArray> params;
    getPackageParams(m_link->sent[3], params);
    QCOMPARE(params.value(0), QByteArray("001A2B3C4D5E100"));
    QCOMPARE(params.value(2), QByteArray("r-1"));
    QCOMPARE(m_link->sentKinds().at(4), QString("hb-answer"));
    // Once it left, the next request is answered again.
    m_link->deliver(serverFrame(PROTO_CONTROL, CMD_DOWNLOAD_REPORT, {"r-2"}));
    QCOMPARE(m_session->sendQueue().size(), 1);

    // However a server floods it, the queue keeps its ceiling.
    for (int i = 0; i < SendQueue::MAX_FRAMES + 10; ++i)
        m_link->deliver(BuildData::ACTIVE_HEARTBEAT);
    QCOMPARE(m_session->sendQueue().size(), SendQueue::MAX_FRAMES);
}

void TestSessionParts::configWithoutUsablePortKeepsTheAddress_data()
{
    QTest::addColumn<QString>("portAttribute");
    QTest::addColumn<QString>("connHost");
    QTest::newRow("port 0") << "port=\"0\""
                            << "10.1.2.3:9300";
    QTest::newRow("no port") << ""
                             << "10.1.2.3:9300";
    QTest::newRow("not a number") << "port=\"abc\""
                                  << "10.1.2.3:9300";
    QTest::newRow("too large") << "port=\"70000\""
                               << "10.1.2.3:9300";
    QTest::newRow("negative") << "port=\"-1\""
                              << "10.1.2.3:9300";
    QTest::newRow("usable") << "port=\"9400\""
                            << "10.9.9.9:9400";
}

void TestSessionParts::configWithoutUsablePortKeepsTheAddress()
{
    QFETCH(QString, portAttribute);
    QFETCH(QString, connHost);
    logIn();
    const QString config = QString("<config><ftp><server ip=\"10.9.9.9\" %1>"
                                   "<RTDA HttpServer=\"10.0.0.7\" HttpPort=\"8081\"/>"
                                   "</server></ftp></config>")
                               .arg(portAttribute);
    m_link->deliver(serverFrame(PROTO_SESSION, CMD_CONFIG, {config.toUtf8()}));
    QCOMPARE(m_settings->connIp.get() + ":" + m_settings->connPort.get(), connHost);
    const QJsonObject status = StatusFile::read(data("status.json"));
    QCOMPARE(status["connHost"].toString(), connHost);
    QCOMPARE(status["rtdaHost"].toString(), QString("10.0.0.7:8081"));
    // The walk goes on either way.
    QCOMPARE(m_session->step(), int(ServerSession::SYNC_TIME));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QCOMPARE(log.contains("Refuse server address 10.9.9.9 with port"), connHost.startsWith("10.1"));

    // The next connection goes to the address kept.
    m_link->disconnectFromServer();
    const int connects = m_link->connects.size();
    for (int i = 0; i < 100 && m_link->connects.size() == connects; ++i)
        pass();
    QCOMPARE(m_link->connects.last(), connHost);
}

void TestSessionParts::walkAsksAgainWhenAReplyCannotBeStored()
{
    reachSchedule();
    m_link->deliver(serverFrame(
        PROTO_CONTENT, CMD_DAY_SCHEDULE, {R"(<Day><TPL p="a.l"><Z p="z.z"/></TPL></Day>)"}));
    passUntilSent(6);
    QCOMPARE(m_link->sentKinds().last(), QString("257/6"));
    const QByteArray big = "<TL>" + QByteArray(256 * 1024, ' ') + "</TL>";
    {
        FileSizeLimit full(32 * 1024);
        m_link->deliver(serverFrame(PROTO_CONTENT, CMD_TEMPLATE_LIST, {big}));
    }
    QVERIFY(!QFile::exists(data("tpl/a.l")));
    QCOMPARE(m_session->tplIds(), QList<QByteArray> {"a.l"});
    // Asked again after the retry period, not a pass later.
    passUntilSent(7);
    QCOMPARE(m_link->sentKinds().last(), QString("257/6"));
    QCOMPARE(m_link->sentAt[6] - m_link->sentAt[5], ServerSession::REQUEST_RETRY_MS);
    m_link->deliver(serverFrame(PROTO_CONTENT, CMD_TEMPLATE_LIST, {big}));
    QCOMPARE(readFile(data("tpl/a.l")), big);
    passUntilSent(8);
    QCOMPARE(m_link->sentKinds().last(), QString("257/7"));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains("Could not store template list a.l: asking again later"));
}

void TestSessionParts::scheduleAskedAgainWhileTheLinkIdles()
{
    // The playbill in force plays; a changed schedule arrives on a full disk.
    reachWaiting();
    m_link->deliver(serverFrame(PROTO_CONTENT_PUSH, CMD_SCHEDULE_CHANGED, {}));
    const int sent = m_link->sent.size();
    passUntilSent(sent + 1);
    QCOMPARE(m_link->sentKinds().last(), QString("257/5"));
    const qint64 refusedAt = Clock::nowMs();
    {
        FileSizeLimit full(16);
        m_link->deliver(serverFrame(
            PROTO_CONTENT, CMD_DAY_SCHEDULE, {R"(<Day><TPL p="b.l"><Z p="y.z"/></TPL></Day>)"}));
    }
    // Meanwhile the link idles on heartbeats, each answered by the server.
    const auto asked = [this] { return m_link->sentKinds().count("257/5"); };
    const int before = asked();
    for (int i = 0; i < 400 && asked() == before; ++i) {
        pass();
        if (m_link->sentKinds().last() == "hb")
            m_link->deliver(BuildData::RESP_HEARTBEAT);
    }
    QCOMPARE(asked(), before + 1);
    QVERIFY(Clock::nowMs() - refusedAt <= ServerSession::SCHEDULE_RETRY_MS + 2000);
}

void TestSessionParts::linkLostDuringAHandlerIsNoticedAtOnce()
{
    reachWaiting();
    const int connects = m_link->connects.size();
    // The environment report samples the CPU for 2 s; the link drops meanwhile.
    m_runner->setOutput("cat", "cpu  100 0 100 800 0 0 0 0 0 0\n");
    QTimer::singleShot(300, m_link.get(), [this] { m_link->disconnectFromServer(); });
    const qint64 t0 = Clock::nowMs();
    m_link->deliver(serverFrame(PROTO_CONTROL, CMD_ENVIRONMENT, {"env-1"}));
    QVERIFY(!m_link->up);
    QCOMPARE(m_session->status(), int(ServerSession::NOT_CONNECTED));
    // The answer had nowhere to go: it is not kept for the next connection.
    QVERIFY(m_session->sendQueue().isEmpty());
    for (int i = 0; i < 100 && m_link->connects.size() == connects; ++i)
        pass();
    QCOMPARE(m_link->connects.size(), connects + 1);
    // Connected again a pass or two later, not after an 80 s wait.
    QVERIFY2(Clock::nowMs() - t0 <= 2 * ServerSession::PASS_SLEEP_MS,
        qPrintable(QString("%1 ms").arg(Clock::nowMs() - t0)));
    QVERIFY(!m_link->sentKinds().contains("278/9"));
}

void TestSessionParts::serialPoolKeepsOrderAndHandsDataOver()
{
    // Plain data, no lock of its own: what the caller wrote before start() is
    // what the task reads, and what the tasks wrote is what the caller reads
    // after waitForDone(). (The ThreadSanitizer pass checks the hand-over.)
    SerialPool pool;
    std::vector<int> order;
    std::vector<Qt::HANDLE> threads;
    QString text = "written before";
    QString seen;
    for (int i = 0; i < 50; ++i) {
        pool.start([&order, &threads, i] {
            order.push_back(i);
            threads.push_back(QThread::currentThreadId());
        });
    }
    pool.start([&text, &seen] { seen = text; });
    QVERIFY(pool.waitForDone(10000));
    QCOMPARE(seen, QString("written before"));
    QCOMPARE(int(order.size()), 50);
    for (int i = 0; i < 50; ++i)
        QCOMPARE(order[i], i);
    for (Qt::HANDLE thread : threads)
        QVERIFY(thread != QThread::currentThreadId());
}

namespace {
// Records commands like FakeRunner; zip waits for the test to let it go.
class GatedZip : public FakeRunner
{
public:
    QSemaphore gate;
    QSemaphore entered;
    std::atomic<QThread *> zipThread {nullptr};

    CommandResult run(const QString &program, const QStringList &args, const QByteArray &input,
        int startMs, int finishMs) override
    {
        if (program == "zip") {
            zipThread = QThread::currentThread();
            entered.release();
            gate.tryAcquire(1, 10000);
        }
        return FakeRunner::run(program, args, input, startMs, finishMs);
    }
};
} // namespace

void TestSessionParts::logRequestsRunOffTheSessionThread()
{
    auto zip = std::make_shared<GatedZip>();
    m_settings->runner = zip;
    reachWaiting();
    m_link->deliver(serverFrame(PROTO_CONTROL, CMD_ALL_LOGS, {"log-1"}));
    // Packing runs elsewhere; the session goes on meanwhile.
    QVERIFY(zip->entered.tryAcquire(1, 5000));
    QVERIFY(zip->zipThread.load() != QThread::currentThread());
    QCOMPARE(m_session->answersInWork(), 1);
    const int sent = m_link->sent.size();
    m_link->deliver(BuildData::ACTIVE_HEARTBEAT);
    m_link->deliver(serverFrame(PROTO_CONTROL, CMD_DOWNLOAD_REPORT, {"r-1"}));
    passUntilSent(sent + 2);
    QCOMPARE(m_link->sentKinds().mid(sent), (QStringList {"hb-answer", "278/17"}));

    // Packed (no archive came out of the stand-in zip): the answer follows.
    zip->gate.release();
    QTRY_COMPARE(m_session->answersInWork(), 0);
    passUntilSent(sent + 3);
    QCOMPARE(m_link->sentKinds().last(), QString("278/202"));
    QList<QByteArray> params;
    getPackageParams(m_link->sent.last(), params);
    QCOMPARE(params, (QList<QByteArray> {"001A2B3C4D5E100", "", "log-1", "3"}));
}

void TestSessionParts::logAnswerForALostConnectionIsDropped()
{
    auto zip = std::make_shared<GatedZip>();
    m_settings->runner = zip;
    reachWaiting();
    m_link->deliver(serverFrame(PROTO_CONTROL, CMD_TODAY_LOGS, {"log-2"}));
    writeFile(m_env->dataRoot() + "/logs/lumalink." + ClockText::date() + ".0.log", "line\n");
    m_link->disconnectFromServer();
    // The next connection logs in again; then the packing ends.
    for (int i = 0; i < 100 && m_link->connects.size() < 2; ++i)
        pass();
    m_link->accept();
    m_link->deliver(SimWire::innerHandshake(Clock::nowMs(), 23081003));
    const int sent = m_link->sent.size();
    passUntilSent(sent + 2);
    zip->gate.release();
    QTRY_COMPARE(m_session->answersInWork(), 0);
    QVERIFY(m_session->sendQueue().isEmpty());
    for (int i = 0; i < 5; ++i)
        pass();
    QVERIFY(!m_link->sentKinds().contains("278/201"));
}

void TestSessionParts::repeatedRefusalIsReportedOnce()
{
    QStringList told;
    NotifyListener player(true, NotifyListener::Order::AnswerThenAct);
    QVERIFY(player.listen(12223));
    player.setHandler([&](const QString &cmd, const QString &param) { told << cmd + " " + param; });
    startSession();
    pass();
    m_link->accept();
    m_link->deliver(SimWire::innerHandshake(Clock::nowMs(), 23081003));
    passUntilSent(2);
    const QByteArray refused
        = serverFrame(PROTO_SESSION, CMD_AUTH, {QByteArray::fromHex("0000000005000000")});
    m_link->deliver(refused);
    QCOMPARE(StatusFile::read(data("status.json"))["status"].toInt(), 5);
    // Something else changes the file meanwhile: a repeated refusal leaves it alone.
    StatusFile::update(data("status.json"), [](QJsonObject &o) { o["status"] = 9; });
    const qint64 firstAt = m_link->sentAt.last();
    for (int i = 0; i < 150; ++i) {
        passUntilSent(3 + i);
        m_link->deliver(refused);
    }
    // Asked about once a second all along.
    QCOMPARE(m_link->sentAt.last() - firstAt, 150 * ServerSession::PASS_SLEEP_MS);
    QCOMPARE(StatusFile::read(data("status.json"))["status"].toInt(), 9);
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QCOMPARE(log.count("request authorization"), 1);
    QCOMPARE(log.count("Received protocol=273, command=1\r\n"), 1);
    QCOMPARE(log.count("Authorization refused "), 2);
    QVERIFY(log.contains("[ AUTH ] - [ INFO ]  Authorization refused 60 more times in 60 s"));

    // Accepted at last: written, told, and the repeats not yet logged summed up.
    passUntilSent(153);
    m_link->deliver(
        serverFrame(PROTO_SESSION, CMD_AUTH, {QByteArray::fromHex("0000000004000000")}));
    QCOMPARE(StatusFile::read(data("status.json"))["status"].toInt(), 4);
    PlayerNotices::waitUntilSent(10000);
    QTRY_COMPARE(told, (QStringList {"STATUS 5", "STATUS 4"}));
    const QString after = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QCOMPARE(after.count("Authorization refused "), 3);
}

void TestSessionParts::walkMoves()
{
    ContentWalk walk;
    QStringList recorded;
    walk.setFileRecorder([&](const QString &name) { recorded << name; });

    ContentWalk::Move move = walk.onSchedule(serverFrame(PROTO_CONTENT, CMD_DAY_SCHEDULE,
        {R"(<Day><TPL p="a.l"><Z p="z1.z"/><Z p=".."/></TPL><TPL p="b.l"><Z p="z2.z"/></TPL></Day>)"}));
    QCOMPARE(move.step, int(ContentWalk::REQ_TPL));
    QCOMPARE(walk.tplIds(), (QList<QByteArray> {"a.l", "b.l"}));
    QCOMPARE(walk.zoneIds(), (QList<QByteArray> {"z1.z", "z2.z"}));

    move = walk.onTemplateList(serverFrame(
        PROTO_CONTENT, CMD_TEMPLATE_LIST, {R"(<TL><T name="t.xml" path="data/mtl"/></TL>)"}));
    QCOMPARE(move.step, int(ContentWalk::REQ_TPL));
    move = walk.onTemplateList(serverFrame(PROTO_CONTENT, CMD_TEMPLATE_LIST, {"<TL/>"}));
    QCOMPARE(move.step, int(ContentWalk::REQ_ZONE));
    move = walk.onZone(
        serverFrame(PROTO_CONTENT, CMD_ZONE, {R"(<PL><P name="m.png" path="data/mtl"/></PL>)"}));
    QCOMPARE(move.step, int(ContentWalk::REQ_ZONE));
    QVERIFY(!move.walkDone);
    move = walk.onZone(serverFrame(PROTO_CONTENT, CMD_ZONE, {"<PL/>"}));
    QCOMPARE(move.step, int(ContentWalk::REQ_FILE));
    QVERIFY(move.walkDone);
    QVERIFY(!move.contentReady);

    QCOMPARE(recorded, (QStringList {"a.l", "b.l", "z1.z", "z2.z"}));
    QCOMPARE(walk.tracker().downloadFiles, (QList<QString> {"data/mtl/t.xml", "data/mtl/m.png"}));
    QVERIFY(QFile::exists(data("tpl/a.l")));
    QVERIFY(QFile::exists(data("zone/z2.z")));

    // A new schedule forgets what the old one collected.
    move = walk.onSchedule(serverFrame(PROTO_CONTENT, CMD_DAY_SCHEDULE, {"<Day/>"}));
    QCOMPARE(move.step, int(ContentWalk::WAITING));
    QVERIFY(move.contentReady);
    QVERIFY(move.idleWait);
    QVERIFY(walk.tracker().downloadFiles.isEmpty());
}

void TestSessionParts::walkRefusesBadFrames()
{
    ContentWalk walk;
    // Shorter than its length word: the reply is refused and the walk waits.
    QByteArray cut = serverFrame(PROTO_CONTENT, CMD_DAY_SCHEDULE, {"<Day/>"});
    cut.chop(2);
    QCOMPARE(walk.onSchedule(cut).step, int(ContentWalk::WAITING));
    QVERIFY(!walk.onSchedule(cut).contentReady);
    QVERIFY(!QFile::exists(data("day-play.xml.tmp")));
    // A list or zone that was never asked for.
    QCOMPARE(walk.onTemplateList(serverFrame(PROTO_CONTENT, CMD_TEMPLATE_LIST, {"<TL/>"})).step,
        int(ContentWalk::WAITING));
    QCOMPARE(walk.onZone(serverFrame(PROTO_CONTENT, CMD_ZONE, {"<PL/>"})).step,
        int(ContentWalk::WAITING));
}

void TestSessionParts::requests_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("idleWait");
    QTest::addColumn<bool>("restartWalk");
    QTest::newRow("environment") << 278 << 9 << 1 << true << false;
    QTest::newRow("download report") << 278 << 17 << 1 << true << false;
    QTest::newRow("ignored request") << 278 << 103 << 0 << true << false;
    QTest::newRow("shut down now") << 278 << 1 << 0 << true << false;
    QTest::newRow("reboot now") << 278 << 3 << 0 << true << false;
    QTest::newRow("power schedule") << 276 << 280 << 0 << true << false;
    QTest::newRow("unknown request") << 278 << 4711 << 0 << true << false;
    QTest::newRow("schedule changed") << 276 << 94 << 0 << false << true;
    QTest::newRow("other notice") << 276 << 95 << 0 << true << false;
    QTest::newRow("other protocol") << 300 << 1 << 0 << false << false;
}

void TestSessionParts::requests()
{
    QFETCH(int, protocol);
    QFETCH(int, command);
    QFETCH(int, answers);
    QFETCH(bool, idleWait);
    QFETCH(bool, restartWalk);
    TerminalStatus status(data("status.json"), *m_settings);
    ContentWalk walk;
    PowerSchedule power(*m_settings);
    FrameSequence sequence;
    ServerRequests requests(*m_settings, sequence, status, walk, power);
    const ServerRequests::Outcome outcome = requests.handle(quint16(protocol), quint16(command),
        serverFrame(quint16(protocol), quint16(command), {"id-7"}));
    QCOMPARE(outcome.answers.size(), answers);
    QCOMPARE(outcome.idleWait, idleWait);
    QCOMPARE(outcome.restartWalk, restartWalk);
    for (const QByteArray &answer : outcome.answers) {
        QCOMPARE(protocolOf(answer), quint16(PROTO_CONTROL));
        QCOMPARE(commandOf(answer), quint16(command));
    }
}

void TestSessionParts::requestsEchoAndVolume()
{
    TerminalStatus status(data("status.json"), *m_settings);
    ContentWalk walk;
    PowerSchedule power(*m_settings);
    FrameSequence sequence;
    ServerRequests requests(*m_settings, sequence, status, walk, power);
    requests.load(0.5, 5);

    ServerRequests::Outcome outcome = requests.handle(
        PROTO_CONTROL, CMD_ENVIRONMENT, serverFrame(PROTO_CONTROL, CMD_ENVIRONMENT, {"env-1"}));
    QList<QByteArray> params;
    QCOMPARE(getPackageParams(outcome.answers.value(0), params), quint16(4));
    QCOMPARE(params[0], QByteArray("001A2B3C4D5E100"));
    QCOMPARE(params[1], QByteArray());
    QCOMPARE(params[2], QByteArray("env-1"));
    QVERIFY(params[3].contains("<volumn value=\"0.5\"/>"));

    // Three parameters leave the volume alone; four set it. A burst of
    // requests is stored once, with the last value.
    const double stored = StatusFile::read(data("status.json"))["volume"].toDouble();
    requests.handle(
        PROTO_CONTROL, CMD_SET_VOLUME, serverFrame(PROTO_CONTROL, CMD_SET_VOLUME, {"", "", "0.9"}));
    QCOMPARE(requests.volume(), 0.5);
    requests.handle(PROTO_CONTROL, CMD_SET_VOLUME_TOO,
        serverFrame(PROTO_CONTROL, CMD_SET_VOLUME_TOO, {"", "", "", "0.7"}));
    QCOMPARE(requests.volume(), 0.7);
    requests.handle(PROTO_CONTROL, CMD_SET_VOLUME_TOO,
        serverFrame(PROTO_CONTROL, CMD_SET_VOLUME_TOO, {"", "", "", "0.2"}));
    QCOMPARE(StatusFile::read(data("status.json"))["volume"].toDouble(), stored);
    requests.storeSettings();
    QCOMPARE(StatusFile::read(data("status.json"))["volume"].toDouble(), 0.2);
}

QTEST_MAIN(TestSessionParts)
#include "test_sessionparts.moc"
