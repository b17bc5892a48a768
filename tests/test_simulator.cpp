#include "signageserver.h"
#include "simcontrol.h"
#include "simwire.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

// The expected bytes below are written from the protocol tables with QDataStream
// (or as literal hex), independently of the simulator's own byte helpers.
namespace {

template<typename T>
QByteArray le(T v)
{
    QByteArray b;
    QDataStream s(&b, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << v;
    return b;
}
QByteArray le16(quint16 v)
{
    return le(v);
}
QByteArray le32(quint32 v)
{
    return le(v);
}
QByteArray le64(quint64 v)
{
    return le(v);
}

// A frame as the terminal builds it.
QByteArray termFrame(
    quint16 proto, quint16 cmd, const QList<QByteArray> &params = {}, quint32 seq = 0x80000001u)
{
    QByteArray body;
    quint32 bytes = 0;
    for (const QByteArray &p : params) {
        body += le32(quint32(p.size())) + p;
        bytes += quint32(p.size());
    }
    const QByteArray rest = le32(seq) + le16(proto) + le16(cmd) + le16(quint16(params.size()))
        + le32(bytes) + le32(1) + body;
    return le32(quint32(rest.size() + 4)) + rest;
}

struct Parsed
{
    quint32 length = 0, seq = 0, bytes = 0, flags = 0;
    quint16 proto = 0, cmd = 0, count = 0;
    QList<QByteArray> params;
};

Parsed parse(const QByteArray &frame)
{
    Parsed p;
    QDataStream s(frame);
    s.setByteOrder(QDataStream::LittleEndian);
    s >> p.length >> p.seq >> p.proto >> p.cmd >> p.count >> p.bytes >> p.flags;
    for (int i = 0; i < p.count; ++i) {
        quint32 size = 0;
        s >> size;
        QByteArray data(int(size), '\0');
        s.readRawData(data.data(), int(size));
        p.params << data;
    }
    return p;
}

QString sampleContent()
{
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tools/sample-content";
}

// A raw socket playing the terminal.
class FakeTerminal
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor(
            [&]() { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    // Connects and consumes the server's handshake.
    bool greet(quint16 port) { return connectTo(port) && take(16).size() == 16; }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    QByteArray take(int n, int timeout = 5000)
    {
        const bool enough = QTest::qWaitFor(
            [&]() {
                buffer += socket.readAll();
                return buffer.size() >= n;
            },
            timeout);
        if (!enough)
            qWarning("only %d of %d bytes arrived", int(buffer.size()), n);
        const QByteArray out = buffer.left(n);
        buffer.remove(0, out.size());
        return out;
    }
    QByteArray takeFrame(int timeout = 5000)
    {
        const QByteArray head = take(4, timeout);
        if (head.size() < 4)
            return QByteArray();
        const quint32 length = parse(head + QByteArray(18, '\0')).length;
        return head + take(int(length) - 4, timeout);
    }
    // True when nothing arrives within ms.
    bool quietFor(int ms)
    {
        QTest::qWait(ms);
        buffer += socket.readAll();
        return buffer.isEmpty();
    }

    QTcpSocket socket;
    QByteArray buffer;
};

// A hand-made terminal record (layout of the authorization request).
QByteArray terminalRecord(const QByteArray &id, const QByteArray &mac8, const QByteArray &host)
{
    QByteArray r = le32(245) + le32(0) + id + QByteArray(2, '\0') + mac8;
    r += QByteArray::fromHex("c0a80114"); // 192.168.1.20
    r += '1';
    r += le32(0) + le16(0) + le64(0) + QByteArray(20, '\0');
    r += host + QByteArray(64 - host.size(), '\0');
    r += le32(245);
    return r;
}

QByteArray authRequest(const QByteArray &id)
{
    const QByteArray mac = QByteArray::fromHex("5e4d3c2b1a000000");
    return termFrame(273, 1,
        {terminalRecord(id, mac, "luma-box"), QByteArray("1.1.23081003\0", 13),
            QByteArray("37%\0", 4), QByteArray("31138512896\0", 12)});
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    // Wire format
    void encodeFollowsHeaderTable_data();
    void encodeFollowsHeaderTable();
    void handshakeLayout();
    void cutterSplitsStream_data();
    void cutterSplitsStream();
    void decodeFlagsShortParameters();
    void paramsAreShownReadably_data();
    void paramsAreShownReadably();
    void terminalRecordIsRead_data();
    void terminalRecordIsRead();

    // Session replies
    void handshakeOnConnect();
    void authorizationResults_data();
    void authorizationResults();
    void configurationNamesServers_data();
    void configurationNamesServers();
    void serverTimeIsLittleEndianSeconds();
    void contentReplies_data();
    void contentReplies();
    void zoneTravelsAsGbk();
    void twoFramesInOneChunk();
    void frameSplitOverTwoWrites();
    void heartbeats();
    void mutedRequestGetsNoAnswer();
    void terminalAnswersAreRecorded();
    void reconnectIsServed();
    void framesAreLogged();

    // Pushes and control
    void pushedFramesHaveConsistentHeaders_data();
    void pushedFramesHaveConsistentHeaders();
    void twoPushedFramesInOneWrite();
    void controlCommands_data();
    void controlCommands();
    void helpListsEveryCommand();
    void authListParsing_data();
    void authListParsing();

    // Sample content
    void sampleContentIsConsistent();
    void contentCheckFindsProblems_data();
    void contentCheckFindsProblems();

private:
    SignageServer *server = nullptr;
    FakeTerminal *term = nullptr;
    QTemporaryDir *content = nullptr;
};

void TestSimulator::init()
{
    content = new QTemporaryDir;
    QVERIFY(content->isValid());
    QDir().mkpath(content->path() + "/tpl");
    QDir().mkpath(content->path() + "/zone");
    server = new SignageServer;
    server->setContentDir(content->path());
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    term = new FakeTerminal;
}

void TestSimulator::cleanup()
{
    delete term;
    delete server;
    delete content;
    term = nullptr;
    server = nullptr;
    content = nullptr;
}

void TestSimulator::encodeFollowsHeaderTable_data()
{
    QTest::addColumn<quint32>("seq");
    QTest::addColumn<quint16>("proto");
    QTest::addColumn<quint16>("cmd");
    QTest::addColumn<QList<QByteArray>>("params");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no parameters")
        << quint32(0x80000001u) << quint16(273) << quint16(100) << QList<QByteArray>()
        << QByteArray::fromHex("16000000 01000080 1101 6400 0000 00000000 01000000");
    QTest::newRow("one 3-byte parameter")
        << quint32(7) << quint16(257) << quint16(6) << QList<QByteArray> {"abc"}
        << QByteArray::fromHex(
               "1d000000 07000000 0101 0600 0100 03000000 01000000 03000000 616263");
    QTest::newRow("2 and 5 bytes")
        << quint32(0x01020304) << quint16(278) << quint16(1005) << QList<QByteArray> {"xy", "hello"}
        << QByteArray::fromHex("25000000 04030201 1601 ed03 0200 07000000 01000000"
                               " 02000000 7879 05000000 68656c6c6f");
}

void TestSimulator::encodeFollowsHeaderTable()
{
    QFETCH(quint32, seq);
    QFETCH(quint16, proto);
    QFETCH(quint16, cmd);
    QFETCH(QList<QByteArray>, params);
    QFETCH(QByteArray, expected);

    const QByteArray frame = SimWire::encodeFrame(seq, proto, cmd, params);
    QCOMPARE(frame.toHex(), expected.toHex());
    QCOMPARE(frame, termFrame(proto, cmd, params, seq));

    SimWire::Frame decoded;
    QVERIFY(SimWire::decodeFrame(frame, decoded));
    QVERIFY(!decoded.malformed);
    QCOMPARE(decoded.sequence, seq);
    QCOMPARE(decoded.protocol, proto);
    QCOMPARE(decoded.command, cmd);
    QCOMPARE(decoded.params, params);
}

void TestSimulator::handshakeLayout()
{
    // t = 1000000: mod 189 = 1, mod 96 = 64, mod 205 = 10.
    const QByteArray hs = SimWire::innerHandshake(1000000, 23081003);
    QCOMPARE(hs.toHex(), QByteArray("10000000ae01400a2b306001e8002133"));
}

void TestSimulator::cutterSplitsStream_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<int>("pending");

    const QByteArray a = termFrame(273, 100);
    const QByteArray b = termFrame(257, 6, {"tl100.l"});
    const QByteArray hb = QByteArray::fromHex("00000000");
    const QByteArray ans = QByteArray::fromHex("ffffffff");
    const QByteArray hs = QByteArray::fromHex("10000000ae01400a2b306001e8002133");

    QTest::newRow("heartbeats") << QList<QByteArray> {hb + ans} << "H A" << 0;
    QTest::newRow("heartbeat then frame") << QList<QByteArray> {hb + a} << "H F" << 0;
    QTest::newRow("two frames one chunk") << QList<QByteArray> {a + b} << "F F" << 0;
    QTest::newRow("split in header")
        << QList<QByteArray> {b.left(2), b.mid(2, 8), b.mid(10)} << "F" << 0;
    QTest::newRow("split in parameter") << QList<QByteArray> {b.left(30), b.mid(30)} << "F" << 0;
    QTest::newRow("frame and a half") << QList<QByteArray> {a + b.left(12)} << "F" << 12;
    QTest::newRow("handshake then frame") << QList<QByteArray> {hs + a} << "S F" << 0;
    QTest::newRow("handshake split at mark")
        << QList<QByteArray> {hs.left(4), hs.mid(4)} << "S" << 0;
    QTest::newRow("short length word")
        << QList<QByteArray> {QByteArray::fromHex("05000000aabb")} << "G" << 0;
    QTest::newRow("length 16 without mark")
        << QList<QByteArray> {QByteArray::fromHex("1000000001") + QByteArray(11, 'x')} << "G" << 0;
}

void TestSimulator::cutterSplitsStream()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QString, kinds);
    QFETCH(int, pending);

    SimWire::StreamCutter cutter;
    QStringList seen;
    QByteArray frames;
    for (const QByteArray &chunk : chunks) {
        for (const SimWire::StreamCutter::Piece &piece : cutter.feed(chunk)) {
            static const char *names[] = {"H", "A", "S", "F", "G"};
            seen << names[piece.kind];
            if (piece.kind == SimWire::StreamCutter::HeadedFrame)
                frames += piece.bytes;
        }
    }
    QCOMPARE(seen.join(' '), kinds);
    QCOMPARE(cutter.pendingBytes(), pending);
    // Headed frames come out whole and unchanged.
    const QByteArray all = chunks.join();
    if (!frames.isEmpty())
        QVERIFY(all.contains(frames));
}

void TestSimulator::decodeFlagsShortParameters()
{
    // Declares two parameters of 4 and 10 bytes, but the frame ends after 6 data bytes.
    QByteArray frame = termFrame(278, 12, {"abcd", "0123456789"});
    frame.chop(4);
    frame.replace(0, 4, le32(quint32(frame.size())));
    SimWire::Frame decoded;
    QVERIFY(SimWire::decodeFrame(frame, decoded));
    QVERIFY(decoded.malformed);
    QCOMPARE(decoded.params, (QList<QByteArray> {"abcd", "012345"}));

    // Parameter bytes that disagree with the sizes.
    QByteArray wrongSum = termFrame(278, 12, {"abcd"});
    wrongSum.replace(14, 4, le32(5));
    QVERIFY(SimWire::decodeFrame(wrongSum, decoded));
    QVERIFY(decoded.malformed);

    // Fewer bytes than the length word declares is not a frame.
    QVERIFY(!SimWire::decodeFrame(termFrame(273, 100).left(21), decoded));
}

void TestSimulator::paramsAreShownReadably_data()
{
    QTest::addColumn<QByteArray>("param");
    QTest::addColumn<QString>("shown");

    QTest::newRow("empty") << QByteArray() << "\"\"";
    QTest::newRow("text") << QByteArray("req-1") << "\"req-1\"(5)";
    QTest::newRow("terminated text") << QByteArray("37%\0", 4) << "\"37%\\0\"(4)";
    QTest::newRow("lines flattened") << QByteArray("<a>\n<b/>") << "\"<a>\\n<b/>\"(8)";
    QTest::newRow("binary") << QByteArray::fromHex("0000000004000000") << "hex:0000000004000000(8)";
    QTest::newRow("gbk") << QByteArray::fromHex("bbb6d3ad") << "gbk:\"欢迎\"(4)";
    QTest::newRow("long text cut")
        << QByteArray(300, 'x') << "\"" + QString(200, 'x') + "...\"(300)";
    QTest::newRow("long binary cut")
        << QByteArray(300, '\1') << "hex:" + QString("01").repeated(100) + "...(300)";
}

void TestSimulator::paramsAreShownReadably()
{
    QFETCH(QByteArray, param);
    QFETCH(QString, shown);
    QCOMPARE(SimWire::describeParam(param), shown);
}

void TestSimulator::terminalRecordIsRead_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("mac8");
    QTest::addColumn<QString>("macText");

    QTest::newRow("15 characters")
        << QByteArray("ABCDEFGHIJKL012") << QByteArray::fromHex("5e4d3c2b1a000000")
        << "00-1A-2B-3C-4D-5E";
    QTest::newRow("empty id") << QByteArray() << QByteArray::fromHex("0100000000ff0000")
                              << "FF-00-00-00-00-01";
    QTest::newRow("utf-8 id") << QByteArray("终端-7") << QByteArray(8, '\0') << "00-00-00-00-00-00";
}

void TestSimulator::terminalRecordIsRead()
{
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, mac8);
    QFETCH(QString, macText);

    const QByteArray record = terminalRecord(id, mac8, "luma-box");
    if (id.size() == 15)
        QCOMPARE(record.size(), 140);
    const SimWire::TerminalRecord r = SimWire::parseTerminalRecord(record);
    QVERIFY(r.valid);
    QCOMPARE(r.terminalId, QString::fromUtf8(id));
    QCOMPARE(r.mac.toHex(), mac8.toHex());
    QCOMPARE(SimWire::macText(r.macValue), macText);
    QCOMPARE(r.ipAddress, QString("192.168.1.20"));
    QCOMPARE(r.hostName, QString("luma-box"));

    QVERIFY(!SimWire::parseTerminalRecord(record.left(12)).valid);
}

void TestSimulator::handshakeOnConnect()
{
    QSignalSpy connected(server, &SignageServer::terminalConnected);
    QVERIFY(term->connectTo(server->port()));
    const QByteArray hs = term->take(16);
    QCOMPARE(hs.size(), 16);
    QCOMPARE(hs.left(5).toHex(), QByteArray("10000000ae"));
    // The check word follows the version number like the terminal's own.
    const quint32 v = parse(hs.mid(4, 4) + hs.mid(8, 4) + QByteArray(14, '\0')).seq;
    const quint16 check = quint16(quint8(hs[14]) | (quint8(hs[15]) << 8));
    QCOMPARE(check, quint16((v + 406 + (v >> 16)) & 0xFFFF));
    QCOMPARE(connected.count(), 1);
    QVERIFY(term->quietFor(100));

    // Our handshake is noticed, not answered.
    term->send(QByteArray::fromHex("10000000ae6440be2b306001e8002133"));
    QVERIFY(term->quietFor(200));
    QCOMPARE(server->handshakesReceived(), 1);
}

void TestSimulator::authorizationResults_data()
{
    QTest::addColumn<QList<quint32>>("configured");
    QTest::addColumn<QList<quint32>>("expected");

    QTest::newRow("default authorized") << QList<quint32>() << QList<quint32> {4, 4};
    QTest::newRow("unauthorized") << QList<quint32> {5} << QList<quint32> {5, 5};
    QTest::newRow("conflict then accepted") << QList<quint32> {6, 4} << QList<quint32> {6, 4, 4};
    QTest::newRow("exceed") << QList<quint32> {7} << QList<quint32> {7};
}

void TestSimulator::authorizationResults()
{
    QFETCH(QList<quint32>, configured);
    QFETCH(QList<quint32>, expected);

    if (!configured.isEmpty())
        server->setAuthResults(configured);
    QVERIFY(term->greet(server->port()));
    QSignalSpy spy(server, &SignageServer::authorizationRequested);
    for (int i = 0; i < expected.size(); ++i) {
        term->send(authRequest("ABCDEFGHIJKL01" + QByteArray::number(i)));
        const QByteArray reply = term->takeFrame();
        QCOMPARE(reply.size(), 34);
        const Parsed p = parse(reply);
        QCOMPARE(p.proto, quint16(273));
        QCOMPARE(p.cmd, quint16(1));
        QCOMPARE(p.count, quint16(1));
        QCOMPARE(p.bytes, quint32(8));
        // The status is the second word of the first parameter, at offset 30.
        QCOMPARE(reply.mid(30, 4).toHex(), le32(expected[i]).toHex());
    }
    QCOMPARE(spy.count(), expected.size());
    QCOMPARE(
        server->lastTerminalId(), QString("ABCDEFGHIJKL01") + QString::number(expected.size() - 1));
    QCOMPARE(server->lastMac().toHex(), QByteArray("5e4d3c2b1a000000"));
    QCOMPARE(server->lastMacText(), QString("00-1A-2B-3C-4D-5E"));
    const SignageServer::AuthRequest last = server->authRequests().last();
    QCOMPARE(last.version, QString("1.1.23081003"));
    QCOMPARE(last.diskUsed, QString("37%"));
    QCOMPARE(last.diskTotal, QString("31138512896"));
    QCOMPARE(last.statusSent, expected.last());
}

void TestSimulator::configurationNamesServers_data()
{
    QTest::addColumn<QString>("advertisedIp");
    QTest::addColumn<int>("advertisedPort");
    QTest::addColumn<int>("httpPort");

    QTest::newRow("listening address") << QString() << 0 << 18081;
    QTest::newRow("advertised address") << "127.0.0.9" << 9444 << 0;
}

void TestSimulator::configurationNamesServers()
{
    QFETCH(QString, advertisedIp);
    QFETCH(int, advertisedPort);
    QFETCH(int, httpPort);

    server->setHttpPort(quint16(httpPort));
    server->setAdvertisedServer(advertisedIp, quint16(advertisedPort));
    const QString ip = advertisedIp.isEmpty() ? "127.0.0.1" : advertisedIp;
    const QString port = QString::number(advertisedIp.isEmpty() ? server->port() : advertisedPort);
    const QString http = QString::number(httpPort ? httpPort : server->port() + 1);

    QVERIFY(term->greet(server->port()));
    term->send(QByteArray::fromHex("16000000 02000080 1101 6400 0000 00000000 01000000"));
    const Parsed p = parse(term->takeFrame());
    QCOMPARE(p.proto, quint16(273));
    QCOMPARE(p.cmd, quint16(100));
    QCOMPARE(p.count, quint16(1));

    QDomDocument doc;
    QVERIFY(doc.setContent(p.params.value(0)));
    QCOMPARE(doc.documentElement().tagName(), QString("config"));
    const QDomElement srv
        = doc.documentElement().firstChildElement("ftp").firstChildElement("server");
    QCOMPARE(srv.attribute("ip"), ip);
    QCOMPARE(srv.attribute("port"), port);
    QCOMPARE(srv.firstChildElement("ip").text(), ip);
    QCOMPARE(srv.firstChildElement("port").text(), port);
    QCOMPARE(srv.firstChildElement("RTDA").attribute("HttpServer"), ip);
    QCOMPARE(srv.firstChildElement("RTDA").attribute("HttpPort"), http); // weather is served there
    for (const QString tag : {"HTTP", "LOG"}) {
        const QDomElement e = srv.firstChildElement(tag);
        QCOMPARE(e.firstChildElement("serverip").text(), ip); // downloads and uploads go there
        QCOMPARE(e.firstChildElement("serverport").text(), http);
    }

    server->setConfigOverride("<config/>");
    term->send(termFrame(273, 100));
    QCOMPARE(parse(term->takeFrame()).params.value(0), QByteArray("<config/>"));
}

void TestSimulator::serverTimeIsLittleEndianSeconds()
{
    server->setServerTime(1700000000); // 0x6553F100
    QVERIFY(term->greet(server->port()));
    term->send(QByteArray::fromHex("16000000 03000080 1101 6600 0000 00000000 01000000"));
    const QByteArray reply = term->takeFrame();
    QCOMPARE(reply.size(), 22 + 4 + 8);
    QCOMPARE(reply.mid(8, 4).toHex(), QByteArray("11016600"));
    QCOMPARE(reply.mid(22).toHex(), QByteArray("0800000000f1536500000000"));

    server->setServerTime(-1);
    term->send(termFrame(273, 102));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const quint64 secs = SimWire::readU64(term->takeFrame(), 26);
    QVERIFY(qAbs(qint64(secs) - now) <= 2);
}

void TestSimulator::contentReplies_data()
{
    QTest::addColumn<quint16>("cmd");
    QTest::addColumn<QList<QByteArray>>("request");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("schedule") << quint16(5) << QList<QByteArray>()
                              << QByteArray("<Day><TPL p=\"a.l\" s=\"")
            + QDate::currentDate().toString(Qt::ISODate).toLatin1() + "\"/></Day>";
    QTest::newRow("template list") << quint16(6) << QList<QByteArray> {"a.l"}
                                   << QByteArray("<TL><T name=\"t.xml\" path=\"data/mtl\"/></TL>");
    QTest::newRow("id with terminator")
        << quint16(6) << QList<QByteArray> {QByteArray("a.l\0", 4)}
        << QByteArray("<TL><T name=\"t.xml\" path=\"data/mtl\"/></TL>");
    QTest::newRow("missing list") << quint16(6) << QList<QByteArray> {"none.l"} << QByteArray();
    QTest::newRow("path outside") << quint16(6) << QList<QByteArray> {"../day-play.xml"}
                                  << QByteArray();
}

void TestSimulator::contentReplies()
{
    QFETCH(quint16, cmd);
    QFETCH(QList<QByteArray>, request);
    QFETCH(QByteArray, expected);

    QVERIFY(
        writeFile(content->path() + "/day-play.xml", "<Day><TPL p=\"a.l\" s=\"@TODAY@\"/></Day>"));
    QVERIFY(
        writeFile(content->path() + "/tpl/a.l", "<TL><T name=\"t.xml\" path=\"data/mtl\"/></TL>"));
    QVERIFY(term->greet(server->port()));
    term->send(termFrame(257, cmd, request));
    const QByteArray reply = term->takeFrame();
    const Parsed p = parse(reply);
    QCOMPARE(p.proto, quint16(257));
    QCOMPARE(p.cmd, cmd);
    QCOMPARE(p.count, quint16(1));
    QCOMPARE(p.length, quint32(reply.size()));
    QCOMPARE(p.bytes, quint32(expected.size()));
    QCOMPARE(p.params.value(0), expected);
}

void TestSimulator::zoneTravelsAsGbk()
{
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(gbk);
    const QString text = QString::fromUtf8("<?xml version=\"1.0\" encoding=\"GBK\"?>\n"
                                           "<PL name=\"side\"><P type=\"text\" "
                                           "caption=\"欢迎光临，营业时间 09:00—21:00\"/></PL>\n");
    QVERIFY(writeFile(content->path() + "/zone/z1.z", text.toUtf8()));
    QVERIFY(term->greet(server->port()));
    term->send(termFrame(257, 7, {"z1.z"}));
    const Parsed p = parse(term->takeFrame());
    QCOMPARE(p.cmd, quint16(7));
    const QByteArray body = p.params.value(0);
    QVERIFY(body != text.toUtf8());
    QCOMPARE(body, gbk->fromUnicode(text));
    QCOMPARE(gbk->toUnicode(body), text);
    // 欢 is BB B6 in GBK.
    QVERIFY(body.contains(QByteArray::fromHex("bbb6")));
}

void TestSimulator::twoFramesInOneChunk()
{
    server->setServerTime(1);
    QVERIFY(term->greet(server->port()));
    term->send(termFrame(273, 102) + termFrame(273, 100));
    const Parsed first = parse(term->takeFrame());
    const Parsed second = parse(term->takeFrame());
    QCOMPARE(first.cmd, quint16(102));
    QCOMPARE(first.params.value(0), le64(1));
    QCOMPARE(second.cmd, quint16(100));
    QVERIFY(term->quietFor(100));
    QCOMPARE(server->receivedFrames().size(), 2);
}

void TestSimulator::frameSplitOverTwoWrites()
{
    QVERIFY(writeFile(content->path() + "/tpl/a.l", "<TL/>"));
    QVERIFY(term->greet(server->port()));
    const QByteArray frame = termFrame(257, 6, {"a.l"});
    term->send(frame.left(13));
    QVERIFY(term->quietFor(150));
    term->send(frame.mid(13));
    const Parsed p = parse(term->takeFrame());
    QCOMPARE(p.cmd, quint16(6));
    QCOMPARE(p.params.value(0), QByteArray("<TL/>"));
    QVERIFY(term->quietFor(150));
    QCOMPARE(server->receivedFrames().size(), 1);
    QCOMPARE(server->rawReceived(), frame);
}

void TestSimulator::heartbeats()
{
    QVERIFY(term->greet(server->port()));
    term->send(QByteArray::fromHex("00000000"));
    QCOMPARE(term->take(4).toHex(), QByteArray("ffffffff"));
    QCOMPARE(server->heartbeatsReceived(), 1);

    // An answer to our own heartbeat is swallowed.
    term->send(QByteArray::fromHex("ffffffff"));
    QVERIFY(term->quietFor(150));
    QCOMPARE(server->heartbeatAnswersReceived(), 1);

    // A heartbeat glued to a request: both are handled.
    term->send(QByteArray::fromHex("00000000") + termFrame(273, 100));
    QCOMPARE(term->take(4).toHex(), QByteArray("ffffffff"));
    QCOMPARE(parse(term->takeFrame()).cmd, quint16(100));
    QCOMPARE(server->heartbeatsReceived(), 2);

    // The server's own heartbeat.
    QCOMPARE(server->sendHeartbeat().toHex(), QByteArray("00000000"));
    QCOMPARE(term->take(4).toHex(), QByteArray("00000000"));
}

void TestSimulator::mutedRequestGetsNoAnswer()
{
    QVERIFY(term->greet(server->port()));
    server->setMuted(273, 100, true);
    term->send(termFrame(273, 100));
    QVERIFY(term->quietFor(200));
    server->setMuted(273, 100, false);
    term->send(termFrame(273, 100));
    QCOMPARE(parse(term->takeFrame()).cmd, quint16(100));

    // A muted authorization keeps its queued result for the next request.
    server->setAuthResults({6, 4});
    server->setMuted(273, 1, true);
    term->send(authRequest("ID1"));
    QVERIFY(term->quietFor(200));
    server->setMuted(273, 1, false);
    term->send(authRequest("ID1"));
    QCOMPARE(term->takeFrame().mid(30, 4), le32(6));
}

void TestSimulator::terminalAnswersAreRecorded()
{
    QVERIFY(term->greet(server->port()));
    QSignalSpy spy(server, &SignageServer::reportReceived);
    term->send(termFrame(278, 9, {"T-1", "", "req-1", "<root><volumn value=\"0.5\"/></root>"}));
    term->send(termFrame(278, 201, {"T-1", "", "req-2", "2"}));
    QVERIFY(QTest::qWaitFor([&]() { return spy.count() == 2; }, 5000));
    QVERIFY(term->quietFor(100)); // answers are not answered

    const QList<SignageServer::Report> reports = server->reports();
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0].command, quint16(9));
    QCOMPARE(reports[0].terminalId, QString("T-1"));
    QCOMPARE(reports[0].echoId, QByteArray("req-1"));
    QCOMPARE(reports[0].body, QByteArray("<root><volumn value=\"0.5\"/></root>"));
    QCOMPARE(reports[1].command, quint16(201));
    QCOMPARE(reports[1].body, QByteArray("2"));
}

void TestSimulator::reconnectIsServed()
{
    QSignalSpy gone(server, &SignageServer::terminalDisconnected);
    QVERIFY(term->greet(server->port()));
    term->socket.disconnectFromHost();
    QVERIFY(QTest::qWaitFor([&]() { return gone.count() == 1; }, 5000));
    QVERIFY(!server->isConnected());

    FakeTerminal second;
    QVERIFY(second.greet(server->port()));
    second.send(termFrame(273, 100));
    QCOMPARE(parse(second.takeFrame()).cmd, quint16(100));

    // A third connection while the second is still open replaces it.
    FakeTerminal third;
    QVERIFY(third.greet(server->port()));
    QVERIFY(QTest::qWaitFor(
        [&]() { return second.socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
    third.send(termFrame(273, 100));
    QCOMPARE(parse(third.takeFrame()).cmd, quint16(100));
    QCOMPARE(server->connectionCount(), 3);

    // Dropping the terminal from the server side.
    server->disconnectTerminal();
    QVERIFY(QTest::qWaitFor(
        [&]() { return third.socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
    QVERIFY(server->pushFrame(276, 94).isEmpty());
}

void TestSimulator::framesAreLogged()
{
    QSignalSpy lines(server, &SignageServer::logLine);
    QVERIFY(term->greet(server->port()));
    term->send(termFrame(257, 6, {"missing.l"}));
    term->takeFrame();
    QStringList all;
    for (const QList<QVariant> &args : lines)
        all << args.value(0).toString();
    const QString text = all.join('\n');
    QVERIFY2(text.contains(QRegularExpression("RECV proto=257 cmd=6 len=35 .*\"missing.l\"")),
        qPrintable(text));
    QVERIFY2(text.contains("SEND proto=257 cmd=6 len=26"), qPrintable(text));
    QVERIFY2(text.contains("SEND server handshake 10 00 00 00 ae"), qPrintable(text));
}

void TestSimulator::pushedFramesHaveConsistentHeaders_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<quint16>("proto");
    QTest::addColumn<quint16>("cmd");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("schedule changed")
        << "push 276 94" << quint16(276) << quint16(94) << 0 << -1 << QByteArray();
    QTest::newRow("environment") << "push 278 9 env-7" << quint16(278) << quint16(9) << 2 << 0
                                 << QByteArray("env-7");
    QTest::newRow("environment auto id")
        << "push 278 9" << quint16(278) << quint16(9) << 2 << 0 << QByteArray("req-1");
    QTest::newRow("screenshot") << "push 278 13 s1" << quint16(278) << quint16(13) << 2 << 0
                                << QByteArray("s1");
    QTest::newRow("today's logs") << "push 278 201 L" << quint16(278) << quint16(201) << 2 << 0
                                  << QByteArray("L");
    QTest::newRow("volume") << "push 278 12 0.35" << quint16(278) << quint16(12) << 4 << 3
                            << QByteArray("0.35");
    QTest::newRow("clear type") << "push 278 1005 3" << quint16(278) << quint16(1005) << 4 << 3
                                << QByteArray("3");
    QTest::newRow("power schedule")
        << "push 276 280 @R" << quint16(276) << quint16(280) << 1 << 0
        << QByteArray("<R><A s=\"1\" r=\"1\" t=\"22:00:00\"/></R>\0", 37);
    QTest::newRow("shutdown schedule")
        << "push 278 2 @R" << quint16(278) << quint16(2) << 6 << 5
        << QByteArray("<R><A s=\"1\" r=\"1\" t=\"22:00:00\"/></R>\0", 37);
    QTest::newRow("generic text params")
        << "push 300 4 a bc" << quint16(300) << quint16(4) << 2 << 1 << QByteArray("bc");
}

void TestSimulator::pushedFramesHaveConsistentHeaders()
{
    QFETCH(QString, command);
    QFETCH(quint16, proto);
    QFETCH(quint16, cmd);
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(QByteArray, value);

    const QString power = content->path() + "/power.xml";
    QVERIFY(writeFile(power, "<R><A s=\"1\" r=\"1\" t=\"22:00:00\"/></R>"));
    command.replace("@R", power);

    SimControl control(server);
    QVERIFY(term->greet(server->port()));
    QCOMPARE(control.execute(command).left(2), QString("ok"));
    const QByteArray frame = term->takeFrame();
    const Parsed p = parse(frame);
    QCOMPARE(p.length, quint32(frame.size()));
    QCOMPARE(p.proto, proto);
    QCOMPARE(p.cmd, cmd);
    QCOMPARE(p.flags, quint32(1));
    QCOMPARE(int(p.count), count);
    quint32 sum = 0;
    for (const QByteArray &param : p.params)
        sum += quint32(param.size());
    QCOMPARE(p.bytes, sum);
    QCOMPARE(frame.size(), 22 + 4 * count + int(sum));
    if (index >= 0)
        QCOMPARE(p.params.value(index), value);
    if (count == 0) {
        // Everything but the sequence is fixed for a frame without parameters.
        QCOMPARE(frame.left(4).toHex(), QByteArray("16000000"));
        const QByteArray rest
            = le16(proto) + le16(cmd) + QByteArray::fromHex("0000 00000000 01000000");
        QCOMPARE(frame.mid(8).toHex(), rest.toHex());
    }
    QVERIFY(term->quietFor(50));
}

void TestSimulator::twoPushedFramesInOneWrite()
{
    QVERIFY(term->greet(server->port()));
    const QByteArray a = server->buildFrame(276, 94);
    const QByteArray b = server->buildFrame(278, 12, {"e", "t", "", "0.5"});
    QCOMPARE(server->pushFrames({a, b}), a + b);
    QCOMPARE(term->take(a.size() + b.size()), a + b);
    QVERIFY(parse(a).seq != parse(b).seq);

    SimControl control(server);
    QCOMPARE(control.execute("pushtwo 276 94 278 19").left(2), QString("ok"));
    QCOMPARE(parse(term->takeFrame()).cmd, quint16(94));
    QCOMPARE(parse(term->takeFrame()).cmd, quint16(19));

    QCOMPARE(control.execute("raw 00 00 00 00"), QString("ok sent 4 bytes"));
    QCOMPARE(term->take(4).toHex(), QByteArray("00000000"));
}

void TestSimulator::controlCommands_data()
{
    QTest::addColumn<bool>("withTerminal");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("replyStart");

    const struct
    {
        bool withTerminal;
        const char *command;
        const char *reply;
    } rows[] = {
        {true, "bogus", "error: unknown command"},
        {true, "   ", "error:"},
        {false, "push 276 94", "error: nothing sent"},
        {true, "push 70000 1", "error: usage"},
        {true, "push 278 12", "error: usage"},
        {true, "push 276 280 /nonexistent", "error: usage"},
        {true, "auth x", "error: usage"},
        {true, "auth 6,4", "ok"},
        {true, "advertise 10.0.0.2 9400", "ok"},
        {true, "advertise 10.0.0.2 x", "error: usage"},
        {true, "time 1700000000", "ok"},
        {true, "mute 257 5", "ok"},
        {true, "disconnect", "ok"},
        {false, "disconnect", "error:"},
        {true, "status", "listening="},
        {false, "help", "push P C"},
    };
    for (const auto &row : rows)
        QTest::addRow("%s%s", row.command, row.withTerminal ? "" : " (no terminal)")
            << row.withTerminal << QString(row.command) << QString(row.reply);
}

void TestSimulator::controlCommands()
{
    QFETCH(bool, withTerminal);
    QFETCH(QString, command);
    QFETCH(QString, replyStart);

    SimControl control(server);
    if (withTerminal)
        QVERIFY(term->greet(server->port()));
    const QString reply = control.execute(command);
    QVERIFY2(reply.startsWith(replyStart), qPrintable(reply));
    // Every reply ends with a line starting "ok" or "error:".
    const QString last = reply.split('\n').last();
    QVERIFY2(last.startsWith("ok") || last.startsWith("error:"), qPrintable(reply));
}

void TestSimulator::helpListsEveryCommand()
{
    // Each command opens a line of the help text, or a part of one after " / ";
    // help and exit are the only ones it leaves out.
    const QString help = SimControl::helpText();
    for (const QString &name : SimControl::commandNames()) {
        if (name != "help" && name != "exit")
            QVERIFY2(
                help.contains(QRegularExpression("(^|\\n|/ ) *" + name + " ")), qPrintable(name));
    }
}

void TestSimulator::authListParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<quint32>>("expected");

    QTest::newRow("single") << "4" << QList<quint32> {4};
    QTest::newRow("pair") << "6,4" << QList<quint32> {6, 4};
    QTest::newRow("blanks and empties") << " 5 ,,7" << QList<quint32> {5, 7};
    QTest::newRow("word") << "6,four" << QList<quint32>();
    QTest::newRow("negative") << "-1" << QList<quint32>();
    QTest::newRow("empty") << "" << QList<quint32>();
}

void TestSimulator::authListParsing()
{
    QFETCH(QString, text);
    QFETCH(QList<quint32>, expected);
    QCOMPARE(SimControl::parseAuthList(text), expected);
}

void TestSimulator::sampleContentIsConsistent()
{
    // Every id the sample schedule names exists, every file a list or zone names is
    // in files/ under the MD5 of its content, and the zones survive GBK.
    const QString root = sampleContent();
    QDomDocument day;
    QVERIFY2(day.setContent(readFile(root + "/day-play.xml")), qPrintable(root));
    QCOMPARE(day.documentElement().tagName(), QString("Day"));

    QStringList tplIds, zoneIds, files;
    bool hasInsert = false;
    for (QDomElement e = day.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement()) {
        QVERIFY(e.tagName().endsWith("TPL"));
        hasInsert |= e.tagName() == "ITPL";
        tplIds << e.attribute("p");
        for (QDomElement z = e.firstChildElement("Z"); !z.isNull(); z = z.nextSiblingElement("Z"))
            zoneIds << z.attribute("p");
    }
    QVERIFY(hasInsert);
    QCOMPARE(tplIds.size(), 2);

    for (const QString &id : tplIds) {
        QVERIFY(id.endsWith(".l"));
        QDomDocument tl;
        QVERIFY2(tl.setContent(readFile(root + "/tpl/" + id)), qPrintable(id));
        QCOMPARE(tl.documentElement().tagName(), QString("TL"));
        for (QDomElement t = tl.documentElement().firstChildElement(); !t.isNull();
             t = t.nextSiblingElement()) {
            QVERIFY(t.attribute("path").startsWith("data/"));
            files << t.attribute("name");
        }
    }
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(gbk);
    bool hasChinese = false;
    for (const QString &id : zoneIds) {
        QVERIFY(id.endsWith(".z"));
        const QByteArray bytes = readFile(root + "/zone/" + id);
        const QString text = QString::fromUtf8(bytes);
        QCOMPARE(gbk->toUnicode(gbk->fromUnicode(text)), text);
        hasChinese |= text.contains(QChar(0x6B22)); // 欢
        QDomDocument pl;
        QVERIFY2(pl.setContent(text), qPrintable(id));
        QCOMPARE(pl.documentElement().tagName(), QString("PL"));
        for (QDomElement p = pl.documentElement().firstChildElement("P"); !p.isNull();
             p = p.nextSiblingElement("P")) {
            const QString path = p.attribute("path");
            if (!path.startsWith("data/"))
                continue;
            files << (QFileInfo(path).suffix().isEmpty() ? p.attribute("name")
                                                         : QFileInfo(path).fileName());
        }
    }
    QVERIFY(hasChinese);
    files.removeDuplicates();
    QVERIFY(files.size() >= 4);
    // The simulator's own check agrees.
    server->setContentDir(root);
    QCOMPARE(server->checkContent(), QStringList());
    QStringList served = server->contentFiles();
    served.sort();
    files.sort();
    QCOMPARE(served, files);
    for (const QString &name : files) {
        const QByteArray data = readFile(root + "/files/" + name);
        QVERIFY2(!data.isEmpty(), qPrintable(name));
        QCOMPARE(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex(),
            name.section('.', 0, 0).toLatin1());
    }
}

void TestSimulator::contentCheckFindsProblems_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("problem");

    const char *rows[][2] = {
        {"rm zone/z1002.z", "zone/z1002.z missing"},
        {"garble tpl/tl200.l", "tpl/tl200.l malformed"},
        {"rm files/d243de7d8bd24ea3b177a9b5000ffbdf.jpg",
            "files/d243de7d8bd24ea3b177a9b5000ffbdf.jpg missing"},
        {"garble files/538c8b327af106df48d37e9ee67d8b43.png",
            "files/538c8b327af106df48d37e9ee67d8b43.png has MD5"},
        {"rm day-play.xml", "day-play.xml missing"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString(row[0]) << QString(row[1]);
}

void TestSimulator::contentCheckFindsProblems()
{
    QFETCH(QString, damage);
    QFETCH(QString, problem);

    // A copy of the sample content with one thing broken.
    const QString src = sampleContent();
    for (const QString sub : {"", "/tpl", "/zone", "/files"}) {
        QDir().mkpath(content->path() + sub);
        for (const QFileInfo &f : QDir(src + sub).entryInfoList(QDir::Files))
            QVERIFY(writeFile(content->path() + sub + "/" + f.fileName(), readFile(f.filePath())));
    }
    const QString target = content->path() + "/" + damage.section(' ', 1);
    if (damage.startsWith("rm "))
        QVERIFY(QFile::remove(target));
    else if (damage.startsWith("garble "))
        QVERIFY(writeFile(target, readFile(target).left(20)));

    const QStringList problems = server->checkContent();
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.first().startsWith(problem), qPrintable(problems.first()));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
