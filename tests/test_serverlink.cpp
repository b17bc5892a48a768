#include "clock.h"
#include "clocktext.h"
#include "commandrunner.h"
#include "dailylog.h"
#include "lebytes.h"
#include "protocol/builddata.h"
#include "protocol/framereceiver.h"
#include "protocol/serverprotocol.h"
#include "systemprobe.h"
#include "testenv.h"

#include <QtTest>

// Frames of the server link, the receive cut and the frame checks.
class TestServerLink : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { Clock::reset(); }

    void frameWithoutParameters();
    void frameWithParameters();
    void innerHandshake();
    void longMac_data();
    void longMac();
    void terminalRecordLayout();
    void authorizationFrame();
    void diskSizeText();

    void receiveHeartbeats();
    void receiveHeartbeatTails_data();
    void receiveHeartbeatTails();
    void receiveSplitFrame();
    void receiveRemainderAfterHold();
    void receiveSeveralFrames();
    void receiveRefusesBadLengths();
    void receivePassesOverOversizedFrames();
    void receiveHandshake();

    void cutToBodyCuts();
    void parameterWalker();
};

static QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

void TestServerLink::frameWithoutParameters()
{
    // A link numbers its frames from 0x80000001 on.
    FrameSequence sequence;
    QCOMPARE(BuildData::buildPackage(sequence.next(), 273, 100, 1),
        hex("16000000 01000080 1101 6400 0000 00000000 01000000"));
    QCOMPARE(LeBytes::read32(BuildData::buildPackage(sequence.next(), 257, 5, 1), 4), 0x80000002u);
    QCOMPARE(LeBytes::read32(BuildData::buildPackage(7, 257, 5, 1), 4), 7u);
    QCOMPARE(sequence.current(), 0x80000002u);
}

void TestServerLink::frameWithParameters()
{
    const QByteArray one = BuildData::buildPackage(0x80000001u, 257, 6, 1, QByteArray("abc"));
    QCOMPARE(one.size(), 29);
    QCOMPARE(one, hex("1d000000 01000080 0101 0600 0100 03000000 01000000 03000000") + "abc");

    const QByteArray two = BuildData::buildPackage(0, 278, 9, 1, QList<QByteArray> {"ab", "cdefg"});
    QCOMPARE(two.size(), 37);
    QCOMPARE(LeBytes::read32(two, 0), 37u);
    QCOMPARE(LeBytes::read16(two, 12), (unsigned short)2);
    QCOMPARE(LeBytes::read32(two, 14), 7u);
    QCOMPARE(two.mid(22), hex("02000000") + "ab" + hex("05000000") + "cdefg");

    // Empty parameters still carry their size word.
    const QByteArray empty = BuildData::buildPackage(0, 278, 9, 1, QList<QByteArray> {"", ""});
    QCOMPARE(empty.size(), 30);
}

void TestServerLink::innerHandshake()
{
    const qint64 t = 1765000000123;
    const QByteArray frame = BuildData::getInnerHandshake(t);
    QCOMPARE(frame.size(), 16);
    QCOMPARE(frame.left(5), hex("10000000 ae"));
    QCOMPARE((uchar)frame[5], uchar(t % 189));
    QCOMPARE((uchar)frame[6], uchar(t % 96));
    QCOMPARE((uchar)frame[7], uchar(t % 205));
    QCOMPARE(frame.mid(8), hex("2b306001 e8 00 2133"));
    QVERIFY(FrameReceiver::isInnerHandshake(frame));
    QCOMPARE(BuildData::getInnerHandshake().right(2), hex("2133"));
}

void TestServerLink::longMac_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("documented") << "00-1A-2B-3C-4D-5E" << hex("5e4d3c2b1a000000");
    QTest::newRow("empty") << "" << QByteArray(8, '\0');
    QTest::newRow("not hex") << "zz-01" << hex("0100000000000000");
    QTest::newRow("nine parts") << "1-2-3-4-5-6-7-8-9" << hex("090807060504030201");
}

void TestServerLink::longMac()
{
    QFETCH(QString, mac);
    QFETCH(QByteArray, bytes);
    QCOMPARE(BuildData::longMac(mac), bytes);
}

void TestServerLink::terminalRecordLayout()
{
    const QByteArray record = BuildData::terminalRecord(
        "001A2B3C4D5E100", "00-1A-2B-3C-4D-5E", hex("0a000005"), "kiosk-7");
    QCOMPARE(record.size(), 140);
    QCOMPARE(record.left(8), hex("f5000000 00000000"));
    QCOMPARE(record.mid(8, 15), QByteArray("001A2B3C4D5E100"));
    QCOMPARE(record.mid(23, 2), hex("0000"));
    QCOMPARE(record.mid(25, 8), hex("5e4d3c2b1a000000"));
    QCOMPARE(record.mid(33, 4), hex("0a000005"));
    QCOMPARE(record.at(37), '1');
    QCOMPARE(record.mid(38, 34), QByteArray(34, '\0'));
    QCOMPARE(record.mid(72, 7), QByteArray("kiosk-7"));
    QCOMPARE(record.mid(79, 57), QByteArray(57, '\0'));
    QCOMPARE(record.right(4), hex("f5000000"));

    // A host name longer than 63 bytes is kept whole with one terminator.
    const QByteArray longName(70, 'h');
    QCOMPARE(BuildData::terminalRecord("ID", "", hex("7f000001"), longName).size(),
        8 + 2 + 2 + 8 + 4 + 1 + 4 + 2 + 8 + 20 + 71 + 4);
}

void TestServerLink::authorizationFrame()
{
    ProcessRunner processes;
    FrameSequence sequence(0x80000005u);
    const QByteArray frame = BuildData::getAuthData(
        sequence.forAuthorization(), processes, "001A2B3C4D5E100", "00-1A-2B-3C-4D-5E");
    // The authorization takes the current number, then moves it on.
    QCOMPARE(LeBytes::read32(frame, 4), 0x80000005u);
    QCOMPARE(sequence.current(), 0x80000006u);
    QCOMPARE(LeBytes::read16(frame, 8), (unsigned short)273);
    QCOMPARE(LeBytes::read16(frame, 10), (unsigned short)1);
    QCOMPARE(LeBytes::read32(frame, 18), 1u);

    QList<QByteArray> params;
    QCOMPARE(ServerProtocol::getPackageParams(frame, params), (unsigned short)4);
    QCOMPARE(
        params.at(0).size(), 140 - 64 + qMax(64, SystemProbe::hostName().toLatin1().size() + 1));
    QCOMPARE(params.at(1), QByteArray("1.1.23081003") + '\0');
    QVERIFY(params.at(2).endsWith('\0'));
    const int used = params.at(2).chopped(1).toInt();
    QVERIFY(used >= 0 && used <= 100);
    QVERIFY(params.at(3).chopped(1).toLongLong() > 0);
    QCOMPARE(LeBytes::read32(frame, 0), (unsigned int)frame.size());

    // A number that ran round to 0 is skipped.
    FrameSequence wrapped(0);
    QCOMPARE(wrapped.forAuthorization(), 2u);
}

void TestServerLink::diskSizeText()
{
    QCOMPARE(BuildData::diskSizeText("32g"), QByteArray("34359738368"));
    QCOMPARE(BuildData::diskSizeText("123456"), QByteArray("123456"));
}

void TestServerLink::receiveHeartbeats()
{
    FrameReceiver receiver;
    auto result = receiver.feed(hex("00000000"), 1000);
    QVERIFY(result.heartbeatOnly);
    QVERIFY(result.activeHeartbeat);
    QVERIFY(result.frames.isEmpty());

    result = receiver.feed(hex("00000000 00000000 ffffffff"), 1000);
    QVERIFY(result.heartbeatOnly && result.activeHeartbeat);

    result = receiver.feed(hex("ffffffff"), 1000);
    QVERIFY(result.heartbeatOnly);
    QVERIFY(!result.activeHeartbeat);

    // A heartbeat split in two is still one heartbeat, answered once whole.
    result = receiver.feed(hex("0000"), 1000);
    QVERIFY(!result.heartbeatOnly);
    result = receiver.feed(hex("0000"), 1001);
    QVERIFY(result.heartbeatOnly && result.activeHeartbeat);
    QVERIFY(!receiver.holding());

    // A heartbeat before a frame is stripped; the answer goes out only for a
    // chunk of nothing but heartbeats.
    const QByteArray frame = BuildData::buildPackage(0, 276, 94, 1);
    result = receiver.feed(hex("00000000") + frame, 1000);
    QVERIFY(!result.heartbeatOnly);
    QVERIFY(!result.activeHeartbeat);
    QCOMPARE(result.frames, QList<QByteArray> {frame});
    QVERIFY(!receiver.holding());

    // One byte at a time: every frame arrives, and the one heartbeat that
    // came on its own between frames is the only one to answer.
    const QByteArray stream = hex("ffffffff") + frame + hex("00000000") + frame + hex("ffffffff");
    QList<QByteArray> frames;
    int toAnswer = 0;
    for (char c : stream) {
        result = receiver.feed(QByteArray(1, c), 2000);
        frames += result.frames;
        toAnswer += result.activeHeartbeat ? 1 : 0;
    }
    QCOMPARE(frames, (QList<QByteArray> {frame, frame}));
    QCOMPARE(toAnswer, 1);
    QVERIFY(!receiver.holding());
}

void TestServerLink::receiveHeartbeatTails_data()
{
    const QByteArray a
        = BuildData::buildPackage(0, 278, 12, 1, QList<QByteArray> {"", "", "", "0.3"});
    const QByteArray b = BuildData::buildPackage(0, 276, 94, 1);
    const QByteArray active = hex("00000000");
    const QByteArray answer = hex("ffffffff");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::newRow("heartbeat after a frame")
        << QList<QByteArray> {a + active, b} << QList<QByteArray> {a, b};
    QTest::newRow("answer after a frame")
        << QList<QByteArray> {a + answer, b} << QList<QByteArray> {a, b};
    QTest::newRow("heartbeats between frames")
        << QList<QByteArray> {a + active + answer + b} << QList<QByteArray> {a, b};
    QTest::newRow("answer then heartbeat before a frame")
        << QList<QByteArray> {answer + active + a} << QList<QByteArray> {a};
    QTest::newRow("heartbeat after a held frame")
        << QList<QByteArray> {a.left(9), a.mid(9) + active, b} << QList<QByteArray> {a, b};
    // TCP may split a heartbeat word anywhere, like any other bytes.
    QTest::newRow("answer split after a frame")
        << QList<QByteArray> {a + answer.left(2), answer.mid(2) + b} << QList<QByteArray> {a, b};
    QTest::newRow("heartbeat split before a frame")
        << QList<QByteArray> {active.left(1), active.mid(1) + a} << QList<QByteArray> {a};
}

void TestServerLink::receiveHeartbeatTails()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, frames);
    FrameReceiver receiver;
    QList<QByteArray> got;
    qint64 now = 1000;
    for (const QByteArray &chunk : chunks) {
        const FrameReceiver::Result result = receiver.feed(chunk, now += 100);
        // Mixed with frames, a heartbeat is stripped, not answered.
        QVERIFY(!result.heartbeatOnly);
        QVERIFY(!result.dropped);
        got += result.frames;
    }
    QCOMPARE(got, frames);
    QVERIFY(!receiver.holding());
}

void TestServerLink::receiveSplitFrame()
{
    FrameReceiver receiver;
    const QByteArray frame = BuildData::buildPackage(0, 257, 5, 1, QByteArray(100, 'x'));
    for (int cut : {1, 3, 4, 5, 21, 22, 60}) {
        auto first = receiver.feed(frame.left(cut), 10000);
        QVERIFY(first.frames.isEmpty());
        QVERIFY(receiver.holding());
        QCOMPARE(receiver.holdDeadline(), 14000);
        auto second = receiver.feed(frame.mid(cut), 13999);
        QCOMPARE(second.frames, QList<QByteArray> {frame});
        QVERIFY(!receiver.holding());
    }
}

void TestServerLink::receiveRemainderAfterHold()
{
    FrameReceiver receiver;
    const QByteArray frame = BuildData::buildPackage(0, 257, 5, 1, QByteArray(100, 'x'));
    receiver.feed(frame.left(50), 10000);
    // The rest arrives too late: it is read as the start of a new frame and,
    // not being one, thrown away; the next whole frame is read normally.
    auto late = receiver.feed(frame.mid(50), 14000);
    QVERIFY(late.frames.isEmpty());
    QVERIFY(!receiver.holding());
    auto next = receiver.feed(frame, 14001);
    QCOMPARE(next.frames, QList<QByteArray> {frame});

    // A hold that the loop abandons is forgotten.
    receiver.feed(frame.left(10), 20000);
    receiver.dropHeld();
    QCOMPARE(receiver.feed(frame, 20001).frames, QList<QByteArray> {frame});

    // A frame dripped a byte every 3 s keeps its hold only until its own
    // limit; then the rest is not taken for it.
    qint64 now = 30000;
    int fed = 0;
    while (fed < 60 && now < 30000 + FrameReceiver::frameLimitMs(frame.size())) {
        receiver.feed(frame.mid(fed++, 1), now);
        QVERIFY(receiver.holding());
        now += 3000;
    }
    QVERIFY(fed < 60);
    QVERIFY(receiver.holdDeadline() <= 30000 + FrameReceiver::frameLimitMs(frame.size()));
    QVERIFY(receiver.feed(QByteArray(), now).frames.isEmpty());
    QVERIFY(!receiver.holding());
    QCOMPARE(receiver.feed(frame, now + 1).frames, QList<QByteArray> {frame});
}

void TestServerLink::receiveSeveralFrames()
{
    FrameReceiver receiver;
    const QByteArray a = BuildData::buildPackage(0, 278, 9, 1, QByteArray("req-1"));
    const QByteArray b = BuildData::buildPackage(0, 276, 94, 1);
    const QByteArray c
        = BuildData::buildPackage(0, 278, 12, 1, QList<QByteArray> {"", "", "", "0.5"});
    auto result = receiver.feed(a + b + c.left(7), 500);
    QCOMPARE(result.frames, (QList<QByteArray> {a, b}));
    QVERIFY(receiver.holding());
    result = receiver.feed(c.mid(7) + a, 600);
    QCOMPARE(result.frames, (QList<QByteArray> {c, a}));
    QVERIFY(!receiver.holding());
}

void TestServerLink::receiveRefusesBadLengths()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    FrameReceiver receiver;
    // A length word claiming gigabytes is refused at once, not held.
    auto result = receiver.feed(hex("00000080 01000080 0101 0500 0000 00000000 01000000"), 1);
    QVERIFY(result.dropped);
    QVERIFY(result.frames.isEmpty());
    QVERIFY(!receiver.holding());
    // So is one too short for a header.
    result = receiver.feed(hex("05000000 0102030405"), 1);
    QVERIFY(result.dropped);
    QVERIFY(!receiver.holding());
    // The stream recovers with the next chunk.
    const QByteArray frame = BuildData::buildPackage(0, 276, 94, 1);
    QCOMPARE(receiver.feed(frame, 2).frames, QList<QByteArray> {frame});
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(
        log.contains("[ TCP ] - [ WARN ]  Drop 22 received bytes: bad frame length 2147483648"));
}

void TestServerLink::receivePassesOverOversizedFrames()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    // A valid length, but more than any document: passed over, never held.
    const QByteArray giant = BuildData::buildPackage(0, 276, 280, 1,
        QByteArray(int(FrameReceiver::MAX_KEPT_FRAME_BYTES) - BuildData::HEADER_SIZE - 4 + 1, 'x'));
    const QByteArray next = BuildData::buildPackage(0, 276, 94, 1);
    FrameReceiver receiver;
    QCOMPARE(receiver.feed(giant + next, 1).frames, QList<QByteArray> {next});
    QVERIFY(!receiver.holding());

    // In pieces, as TCP brings it: only the piece at hand is ever kept, and
    // the frame after it is read whole.
    const QByteArray stream = next + giant + next;
    const int piece = 1 << 20;
    QList<QByteArray> frames;
    qint64 now = 1000;
    for (int at = 0; at < stream.size(); at += piece) {
        frames += receiver.feed(stream.mid(at, piece), now += 100).frames;
        QVERIFY(receiver.heldSize() <= piece);
        QCOMPARE(receiver.holding(), at + piece < stream.size());
    }
    QCOMPARE(frames, (QList<QByteArray> {next, next}));

    // One that stops coming is given up after the hold time; what comes
    // after that is read afresh.
    receiver.feed(giant.left(piece), 100000);
    QCOMPARE(receiver.skipping(), qint64(giant.size() - piece));
    QCOMPARE(receiver.holdDeadline(), 100000 + FrameReceiver::HOLD_MS);
    QCOMPARE(receiver.feed(next, 100000 + FrameReceiver::HOLD_MS).frames, QList<QByteArray> {next});
    QCOMPARE(receiver.skipping(), qint64(0));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains(QString("[ TCP ] - [ WARN ]  Pass over a frame of %1 bytes "
                                 "(protocol=276, command=280): larger than any document")
                             .arg(giant.size())));
}

void TestServerLink::receiveHandshake()
{
    FrameReceiver receiver;
    const QByteArray handshake = BuildData::getInnerHandshake(42);
    const QByteArray frame = BuildData::buildPackage(0, 273, 1, 1, hex("00000000 04000000"));
    auto result = receiver.feed(handshake + frame, 1);
    QCOMPARE(result.frames, (QList<QByteArray> {handshake, frame}));
    QVERIFY(FrameReceiver::isInnerHandshake(result.frames.first()));
    QVERIFY(!FrameReceiver::isInnerHandshake(result.frames.last()));
    QCOMPARE(LeBytes::read32(result.frames.last(), 30), 4u);
}

void TestServerLink::cutToBodyCuts()
{
    QByteArray frame = BuildData::buildPackage(0, 257, 5, 1, QByteArray("xy")); // 28 bytes
    QCOMPARE(frame.size(), 28);
    QByteArray longer = frame + "zz";
    QCOMPARE(ServerProtocol::cutToBody(longer), 1);
    QCOMPARE(longer, hex("02000000") + "xy");

    QByteArray shorter = frame.left(27);
    QCOMPARE(ServerProtocol::cutToBody(shorter), -1);
    QCOMPARE(shorter, frame.left(27));
}

void TestServerLink::parameterWalker()
{
    const QByteArray frame
        = BuildData::buildPackage(0, 278, 12, 1, QList<QByteArray> {"id", "", "req", "0.8"});
    QList<QByteArray> params {"stale"};
    QCOMPARE(ServerProtocol::getPackageParams(frame, params), (unsigned short)4);
    QCOMPARE(params, (QList<QByteArray> {"id", "", "req", "0.8"}));

    // A frame cut short yields shorter parameters, never bytes past its end.
    QCOMPARE(
        ServerProtocol::getPackageParams(frame.left(frame.size() - 2), params), (unsigned short)4);
    QCOMPARE(params.last(), QByteArray("0"));

    // A count far above what the frame holds stops at the end of the frame.
    QByteArray lying = BuildData::buildPackage(0, 278, 12, 1, QByteArray("a"));
    lying[12] = char(0xff);
    lying[13] = char(0xff);
    ServerProtocol::getPackageParams(lying, params);
    QCOMPARE(params, QList<QByteArray> {"a"});
}

QTEST_GUILESS_MAIN(TestServerLink)
#include "test_serverlink.moc"
