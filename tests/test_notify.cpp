#include "clock.h"
#include "clocktext.h"
#include "dailylog.h"
#include "md5.h"
#include "notifyclient.h"
#include "notifylistener.h"
#include "notifyprotocol.h"
#include "notifyrequest.h"
#include "testenv.h"

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

#include <memory>
#include <vector>

class TestNotify : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { Clock::reset(); }
    void parse_data();
    void parse();
    void answerBytes();
    void signedUrl();
    void loopbackPeers_data();
    void loopbackPeers();
    void listenerAnswersAndDispatches();
    void refusedCommandIsAnsweredAsFailure();
    void listenerRequests_data();
    void listenerRequests();
    void listenerConnectionLimits();
    void statementDecoding_data();
    void statementDecoding();
    void clientRoundTripKeepsSpecialCharacters();
    void clientGetsEmptyTextWithoutPeer();
};

void TestNotify::parse_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("cmd");
    QTest::addColumn<QString>("param");

    const QString tail = " HTTP/1.1\r\nHost: localhost:12223\r\n\r\n";
    QTest::newRow("only cmd") << "POST /notify?cmd=RELOAD" + tail << true << true << "RELOAD"
                              << "";
    QTest::newRow("full") << "POST /notify?cmd=VOLUME&param=0.5&timestamp=1&signature=bad" + tail
                          << true << true << "VOLUME"
                          << "0.5";
    QTest::newRow("no question mark") << "POST /notify" + tail << false << false << ""
                                      << "";
    QTest::newRow("no cmd piece") << "POST /notify?param=1&timestamp=2" + tail << false << false
                                  << ""
                                  << "1";
    QTest::newRow("no HTTP") << "POST /notify?cmd=RELOAD" << false << false << ""
                             << "";
    QTest::newRow("question mark first") << "?cmd=X HTTP/1.1" << false << false << ""
                                         << "";
    QTest::newRow("last cmd wins") << "GET /n?cmd=A&cmd=B" + tail << true << true << "B"
                                   << "";
    QTest::newRow("ampersand cuts") << "GET /n?cmd=SQL&param=a&b" + tail << false << true << "SQL"
                                    << "a";
    // The last piece carries the blank before HTTP/: the player trims it, the service keeps it.
    QTest::newRow("player trims") << "GET /n?cmd=VOLUME&param= 0.8 " + tail << true << true
                                  << "VOLUME"
                                  << "0.8";
    QTest::newRow("service keeps")
        << "GET /n?cmd=VOLUME&param= 0.8 " + tail << false << true << "VOLUME"
        << " 0.8  ";
    QTest::newRow("lower case word") << "GET /n?cmd=reload" + tail << true << true << "reload"
                                     << "";
}

void TestNotify::parse()
{
    QFETCH(QString, request);
    QFETCH(bool, trim);
    QFETCH(bool, ok);
    QFETCH(QString, cmd);
    QFETCH(QString, param);
    QString gotCmd;
    QString gotParam;
    QCOMPARE(NotifyProtocol::parseRequest(request, gotCmd, gotParam, trim), ok);
    QCOMPARE(gotCmd, cmd);
    QCOMPARE(gotParam, param);
}

void TestNotify::answerBytes()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(6, 13, 12), Qt::UTC).toMSecsSinceEpoch());
    const QByteArray head = "Content-Type: application/json;charset=utf-8\r\n"
                            "Content-Language: zh-CN\r\n";
    QCOMPARE(NotifyProtocol::answerBytes(200),
        "HTTP/1.1 200\r\n" + head
            + "Content-Length: 10\r\nDate: Mon,07 12 2026 06:13:12 GMT\r\n"
              "Connection: close\r\n\r\n{\"code\":0}");
    QCOMPARE(NotifyProtocol::answerBytes(0), NotifyProtocol::answerBytes(200));
    QCOMPARE(NotifyProtocol::answerBytes(400),
        "HTTP/1.1 400\r\n" + head
            + "Content-Length: 12\r\nDate: Mon,07 12 2026 06:13:12 GMT\r\n"
              "Connection: close\r\n\r\n{\"code\":400}");
}

void TestNotify::signedUrl()
{
    const QString url = NotifyProtocol::buildUrl(12223, "RELOAD", "", 1765000000123);
    QCOMPARE(url,
        QString("http://localhost:12223/notify?cmd=RELOAD&param=&timestamp=1765000000123"
                "&signature=")
            + Md5::ofText("mystic_rb_vendor1765000000123"));
    QCOMPARE(NotifyProtocol::signature(1765000000123).size(), 32);

    // A statement with quote, ampersand, hash and percent survives the query.
    const QString sql = "INSERT INTO t VALUES('it''s & #1 100%')";
    const QUrl parsed(NotifyProtocol::buildUrl(12222, "SQL", sql, 1));
    QCOMPARE(parsed.port(), 12222);
    const QUrlQuery query(parsed);
    QCOMPARE(query.queryItemValue("param", QUrl::FullyDecoded), sql);
    QVERIFY(!parsed.toEncoded().contains(' '));
}

void TestNotify::loopbackPeers_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("v4") << "127.0.0.1" << true;
    QTest::newRow("v4 range") << "127.1.2.3" << true;
    QTest::newRow("v6") << "::1" << true;
    QTest::newRow("mapped") << "::ffff:127.0.0.1" << true;
    QTest::newRow("lan") << "192.168.1.20" << false;
    QTest::newRow("mapped lan") << "::ffff:10.0.0.5" << false;
    QTest::newRow("v6 lan") << "fe80::1" << false;
}

void TestNotify::loopbackPeers()
{
    QFETCH(QString, address);
    QFETCH(bool, loopback);
    QCOMPARE(NotifyListener::isLoopbackPeer(QHostAddress(address)), loopback);
}

void TestNotify::listenerAnswersAndDispatches()
{
    TestEnv env;
    NotifyListener listener(true, NotifyListener::Order::AnswerThenAct);
    QVERIFY(listener.listen(0));
    QStringList seen;
    listener.setHandler(
        [&](const QString &cmd, const QString &param) { seen << cmd + "|" + param; });

    QByteArray answer = localRequest(
        listener.serverPort(), "POST /notify?cmd=VOLUME&param= 0.8 &timestamp=1 HTTP/1.1\r\n\r\n");
    QVERIFY(answer.startsWith("HTTP/1.1 200\r\n"));
    QVERIFY(answer.endsWith("{\"code\":0}"));
    QCOMPARE(seen, QStringList {"VOLUME|0.8"});

    answer = localRequest(listener.serverPort(), "POST /notify HTTP/1.1\r\n\r\n");
    QVERIFY(answer.startsWith("HTTP/1.1 400\r\n"));
    QVERIFY(answer.endsWith("{\"code\":400}"));
    QCOMPARE(seen.size(), 1);

    // A NUL ends the request text.
    answer = localRequest(
        listener.serverPort(), QByteArray("POST /n?cmd=RELOAD HTTP/1.1\r\n\0garbage", 37));
    QVERIFY(answer.startsWith("HTTP/1.1 200\r\n"));
    QCOMPARE(seen.last(), QString("RELOAD|"));

    // Closed sockets leave the list.
    QTRY_COMPARE(listener.openSocketCount(), 0);

    // A second listener on the same port fails: the single-instance guard.
    NotifyListener second(false, NotifyListener::Order::ActThenAnswer);
    QVERIFY(!second.listen(listener.serverPort()));
}

void TestNotify::refusedCommandIsAnsweredAsFailure()
{
    TestEnv env;
    NotifyListener listener(false, NotifyListener::Order::ActThenAnswer);
    QVERIFY(listener.listen(0));
    int code = 200;
    listener.setAnsweringHandler([&](const QString &, const QString &) { return code; });
    const QByteArray request = "POST /notify?cmd=SQL&param=x HTTP/1.1\r\n\r\n";
    QByteArray answer = localRequest(listener.serverPort(), request);
    QVERIFY(answer.endsWith("{\"code\":0}"));
    QVERIFY(NotifyProtocol::isAccepted(QString::fromUtf8(answer.mid(answer.indexOf('{')))));

    // The statement could not be kept: the sender must know.
    code = 503;
    answer = localRequest(listener.serverPort(), request);
    QVERIFY2(answer.startsWith("HTTP/1.1 400\r\n"), answer.constData());
    QVERIFY(answer.endsWith("{\"code\":503}"));
    QCOMPARE(NotifyProtocol::answerCode(QString::fromUtf8(answer.mid(answer.indexOf('{')))), 503);
    QVERIFY(!NotifyProtocol::isAccepted(QString::fromUtf8(answer.mid(answer.indexOf('{')))));
}

namespace {
// Sends a request in pieces, each its own write with a pause between, and
// collects the answer until the listener closes the connection.
QByteArray sendInPieces(quint16 port, const QList<QByteArray> &pieces)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return QByteArray();
    QByteArray answer;
    for (const QByteArray &piece : pieces) {
        socket.write(piece);
        socket.flush();
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            socket.waitForReadyRead(10);
        }
    }
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        socket.waitForReadyRead(10);
        answer += socket.readAll();
    }
    return answer + socket.readAll();
}
} // namespace

void TestNotify::listenerRequests_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("status");
    const QByteArray line = "POST /notify?cmd=SQL&param=x&timestamp=1 HTTP/1.1\r\n";
    QTest::newRow("whole") << QList<QByteArray> {line + "Host: localhost\r\n\r\n"} << 200;
    QTest::newRow("in three reads")
        << QList<QByteArray> {line.left(20), line.mid(20) + "Host: local", "host\r\n\r\n"} << 200;
    QTest::newRow("body after its head")
        << QList<QByteArray> {line + "Content-Length: 4\r\n\r\n", "abcd"} << 200;
    QTest::newRow("LF line ends") << QList<QByteArray> {"POST /n?cmd=SQL&param=x&t=1 HTTP/1.1\n\n"}
                                  << 200;
    // What a web page can make a browser send.
    QTest::newRow("GET") << QList<QByteArray> {"GET /n?cmd=SQL&param=x HTTP/1.1\r\n\r\n"} << 403;
    QTest::newRow("Origin") << QList<QByteArray> {line + "Origin: http://example.com\r\n\r\n"}
                            << 403;
    QTest::newRow("Referer") << QList<QByteArray> {line + "referer: file:///x.html\r\n\r\n"} << 403;
    QTest::newRow("larger than 64 KiB")
        << QList<QByteArray> {line + QByteArray(NotifyRequest::MAX_BYTES, 'a')} << 413;
    QTest::newRow("body announced beyond 64 KiB")
        << QList<QByteArray> {line + "Content-Length: 70000\r\n\r\n"} << 413;
}

void TestNotify::listenerRequests()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, status);
    TestEnv env;
    NotifyListener listener(false, NotifyListener::Order::ActThenAnswer);
    QVERIFY(listener.listen(0));
    int handled = 0;
    listener.setHandler([&](const QString &cmd, const QString &param) {
        QCOMPARE(cmd + "|" + param, QString("SQL|x"));
        ++handled;
    });
    const QByteArray answer = sendInPieces(listener.serverPort(), pieces);
    QVERIFY2(answer.startsWith(QString("HTTP/1.1 %1\r\n").arg(status).toLatin1()), answer);
    QCOMPARE(handled, status == 200 ? 1 : 0);
    QTRY_COMPARE(listener.openSocketCount(), 0);
}

void TestNotify::listenerConnectionLimits()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    NotifyListener listener(false, NotifyListener::Order::ActThenAnswer);
    listener.setIdleMs(500);
    QVERIFY(listener.listen(0));
    int handled = 0;
    listener.setHandler([&](const QString &, const QString &) { ++handled; });

    // Only the loopback addresses listen.
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        QTcpSocket outside;
        outside.connectToHost(address, listener.serverPort());
        QVERIFY2(!outside.waitForConnected(1000), qPrintable(address.toString()));
    }

    // Connections that send nothing whole: at most MAX_SOCKETS stay open,
    // each only for the idle time.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < NotifyListener::MAX_SOCKETS + 3; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(idle.back()->waitForConnected(1000));
        idle.back()->write("POST /n?cmd=SQL");
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(listener.openSocketCount(), NotifyListener::MAX_SOCKETS);
    QTRY_COMPARE_WITH_TIMEOUT(listener.openSocketCount(), 0, 5000);
    QCOMPARE(handled, 0);
    // Then requests are taken again.
    QVERIFY(localRequest(listener.serverPort(), "POST /n?cmd=SQL&param=x HTTP/1.1\r\n\r\n")
                .startsWith("HTTP/1.1 200\r\n"));
    QCOMPARE(handled, 1);
    // The refusals were logged once, with a count at the next minute's line.
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QCOMPARE(log.count("Refused local command connection"), 1);
}

void TestNotify::statementDecoding_data()
{
    QTest::addColumn<QString>("param");
    QTest::addColumn<QString>("sql");
    QTest::newRow("encoded") << "UPDATE%20t%20SET%20a='%E4%B8%AD%25'"
                             << "UPDATE t SET a='中%'";
    QTest::newRow("plain stays") << "UPDATE t SET a='50%'"
                                 << "UPDATE t SET a='50%'";
    QTest::newRow("leading %20 stays") << "%20UPDATE%20t"
                                       << "%20UPDATE%20t";
    QTest::newRow("cut at NUL") << "SELECT%201%00;%20DROP"
                                << "SELECT 1";
}

void TestNotify::statementDecoding()
{
    QFETCH(QString, param);
    QFETCH(QString, sql);
    QCOMPARE(NotifyProtocol::decodeStatement(param), sql);
}

void TestNotify::clientRoundTripKeepsSpecialCharacters()
{
    TestEnv env;
    NotifyListener listener(false, NotifyListener::Order::ActThenAnswer);
    QVERIFY(listener.listen(0));
    QString received;
    listener.setHandler([&](const QString &, const QString &param) { received = param; });

    // The client blocks in its own event loop, which also serves the listener.
    const QString sql = "INSERT INTO playlog VALUES('it''s & #1 100%', 5)";
    const QString reply = NotifyClient::notify(listener.serverPort(), "SQL", sql);
    QCOMPARE(reply, QString("{\"code\":0}"));
    QCOMPARE(QUrl::fromPercentEncoding(received.toUtf8()), sql);
}

void TestNotify::clientGetsEmptyTextWithoutPeer()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QCOMPARE(NotifyClient::notify(port, "STATUS", "", 2000), QString());

    // A peer that accepts but never answers: empty text after the limit.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(NotifyClient::notify(silent.serverPort(), "STATUS", "", 300), QString());
    QVERIFY(timer.elapsed() < 3000);
}

QTEST_GUILESS_MAIN(TestNotify)
#include "test_notify.moc"
