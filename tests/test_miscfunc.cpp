#include "clock.h"
#include "commandrunner.h"
#include "fakerunner.h"
#include "miscfunc.h"
#include "safepath.h"
#include "testenv.h"
#include "wholefile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <QtTest>

class TestMiscFunc : public QObject
{
    Q_OBJECT
private slots:
    void wholeFileKeepsTheOldOneWhenTheDiskRefuses();
    void cleanup() { Clock::reset(); }

    void logLineFormat();
    void logConcurrentWritersKeepWholeLines();
    void logWithoutFolderLosesLine();
    void logLinesStaySafeAndBounded();
    void datesFollowTheClock();
    void strToJson_data();
    void strToJson();
    void sleepIsMonotonicAndKeepsEventsFlowing();

    void offsetSeconds_data();
    void offsetSeconds();
    void zoneTimeUsesFixedOffset();
    void zoneMapHoldsAllNames();
    void timeDiff();
    void secondsFromMidnight();
    void gmtIsEnglish();

    void md5OfUtf8Text();
    void fileMd5();
    void fontFamilies();
    void punctuation();
    void compressImage();
    void base64Image();

    void byteReaders();
    void byteWriters();
    void concatPath_data();
    void concatPath();
    void mtlPathName();
    void safePaths_data();
    void safePaths();

    void cpuLineParsing();
    void cpuUsageFromRunner();
    void localIpBytes();
};

void TestMiscFunc::logLineFormat()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    MiscFunc::setProgramName("lumalink");
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)).toMSecsSinceEpoch());
    MiscFunc::writeLog("info", "Main", QString::fromUtf8("开启运行终端连接服务lumalink"));
    const QByteArray bytes = readFile(env.dataRoot() + "/logs/lumalink.2026-12-07.0.log");
    QCOMPARE(bytes,
        QString::fromUtf8("2026-12-07 09:05:03  [ Main ] - [ INFO ]  "
                          "开启运行终端连接服务lumalink\r\n")
            .toUtf8());

    MiscFunc::setProgramName("lumaview");
    MiscFunc::writeLog("WARN", "TCP", "x");
    QVERIFY(QFile::exists(env.dataRoot() + "/logs/lumaview.2026-12-07.0.log"));
    MiscFunc::setProgramName("lumalink");
}

void TestMiscFunc::logLinesStaySafeAndBounded()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(9, 0)).toMSecsSinceEpoch());
    const QString path = MiscFunc::logFilePath(MiscFunc::getDate());
    const auto lines = [&] {
        QList<QByteArray> all = readFile(path).split('\n');
        all.removeLast();
        return all;
    };
    // Server text cannot start a line of its own or grow a line without end.
    MiscFunc::writeLog("WARN", "TCP", "name\r\nSQL|DROP\x01");
    MiscFunc::writeLog("WARN", "TCP", QString(10000, 'x'));
    QCOMPARE(lines().size(), 2);
    QVERIFY(lines().at(0).endsWith("name\\r\\nSQL|DROP\\x01\r"));
    QVERIFY(lines().at(1).size() < 4200);
    QVERIFY(lines().at(1).contains("(6000 more characters)"));

    // The same line again within a minute is counted, then summed up.
    for (int i = 0; i < 5; ++i)
        MiscFunc::writeLog("INFO", "Main", "again");
    MiscFunc::writeLog("INFO", "Main", "other");
    Clock::advanceMs(MiscFunc::LOG_REPEAT_WINDOW_MS);
    MiscFunc::writeLog("INFO", "Main", "other");
    QList<QByteArray> got = lines().mid(2);
    QCOMPARE(got.size(), 4);
    QVERIFY(got.at(0).endsWith("again\r"));
    QVERIFY(got.at(1).endsWith("(the line before came 4 more times)\r"));
    QVERIFY(got.at(2).endsWith("other\r"));
    QVERIFY(got.at(3).endsWith("other\r"));

    // A full day's log takes one last line, then nothing.
    QFile file(path);
    QVERIFY(file.resize(MiscFunc::LOG_DAY_MAX_BYTES - 10));
    MiscFunc::writeLog("INFO", "Main", "one");
    MiscFunc::writeLog("INFO", "Main", "two");
    QVERIFY(readFile(path).endsWith("further lines are dropped\r\n"));
    QVERIFY(QFileInfo(path).size() < MiscFunc::LOG_DAY_MAX_BYTES + 200);
    Clock::reset();
}

void TestMiscFunc::logConcurrentWritersKeepWholeLines()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    auto writer = [](char tag) {
        return QThread::create([tag] {
            for (int i = 0; i < 200; ++i)
                MiscFunc::writeLog(
                    "DEBUG", "T", QString(100, QLatin1Char(tag)) + QString::number(i));
        });
    };
    QThread *a = writer('a');
    QThread *b = writer('b');
    a->start();
    b->start();
    a->wait();
    b->wait();
    delete a;
    delete b;
    const QByteArray bytes = readFile(MiscFunc::logFilePath(MiscFunc::getDate()));
    const QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.size(), 401); // 400 lines and the empty rest after the last LF
    const QRegularExpression line("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  \\[ T \\] - \\[ "
                                  "DEBUG \\]  (a{100}|b{100})\\d+\r$");
    for (int i = 0; i < 400; ++i)
        QVERIFY2(line.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
}

void TestMiscFunc::logWithoutFolderLosesLine()
{
    TestEnv env;
    MiscFunc::writeLog("INFO", "Main", "lost");
    QVERIFY(!QDir(env.dataRoot() + "/logs").exists());
}

void TestMiscFunc::datesFollowTheClock()
{
    Clock::setFixedMs(QDateTime(QDate(2028, 3, 1), QTime(0, 0, 1)).toMSecsSinceEpoch());
    QCOMPARE(MiscFunc::getDate(), QString("2028-03-01"));
    QCOMPARE(MiscFunc::getDate(-1), QString("2028-02-29"));
    QCOMPARE(MiscFunc::getDate(1), QString("2028-03-02"));
    QCOMPARE(MiscFunc::getTime(), QString("2028-03-01 00:00:01"));
    Clock::advanceMs(3600 * 1000);
    QCOMPARE(MiscFunc::getTime(), QString("2028-03-01 01:00:01"));
    QCOMPARE(MiscFunc::getSecFromZero(), 3601);
}

void TestMiscFunc::strToJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isEmpty");
    QTest::newRow("object") << "{\"a\":1}" << false;
    QTest::newRow("array") << "[1,2]" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("broken") << "{\"a\":" << true;
    QTest::newRow("scalar") << "42" << true;
}

void TestMiscFunc::strToJson()
{
    QFETCH(QString, text);
    QFETCH(bool, isEmpty);
    QCOMPARE(MiscFunc::strToJson(text).isEmpty(), isEmpty);
}

void TestMiscFunc::sleepIsMonotonicAndKeepsEventsFlowing()
{
    // A wall clock jumping across midnight must not end the wait early.
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 950)).toMSecsSinceEpoch());
    bool fired = false;
    QTimer::singleShot(20, this, [&] {
        fired = true;
        Clock::advanceMs(60 * 1000);
    });
    QElapsedTimer timer;
    timer.start();
    MiscFunc::sleep(150);
    QVERIFY(timer.elapsed() >= 150);
    QVERIFY(fired);
}

void TestMiscFunc::offsetSeconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("seconds");
    QTest::newRow("nepal") << "UTC+05:45" << 20700;
    QTest::newRow("newfoundland") << "UTC-03:30" << -12600;
    QTest::newRow("utc") << "UTC" << 0;
    QTest::newRow("chatham") << "UTC+12:45" << 45900;
}

void TestMiscFunc::offsetSeconds()
{
    QFETCH(QString, text);
    QFETCH(int, seconds);
    QCOMPARE(MiscFunc::getOffsetSec(text), seconds);
}

void TestMiscFunc::zoneTimeUsesFixedOffset()
{
    const QDateTime utc(QDate(2026, 6, 30), QTime(20, 30, 0), Qt::UTC);
    Clock::setFixedMs(utc.toMSecsSinceEpoch());
    const QString format = "yyyy-MM-dd HH:mm";
    QCOMPARE(MiscFunc::getZoneTime("Nepal Standard Time", format), QString("2026-07-01 02:15"));
    QCOMPARE(
        MiscFunc::getZoneTime("Newfoundland Standard Time", format), QString("2026-06-30 17:00"));
    // No daylight saving for any name, even in summer.
    QCOMPARE(MiscFunc::getZoneTime("W. Europe Standard Time", format), QString("2026-06-30 21:30"));
    QCOMPARE(
        MiscFunc::getZoneTime("Mars Standard Time", format), utc.toLocalTime().toString(format));
}

void TestMiscFunc::zoneMapHoldsAllNames()
{
    QCOMPARE(MiscFunc::zoneMap().size(), 132);
    QCOMPARE(MiscFunc::zoneMap().value("Aus Central W. Standard Time"), QString("UTC+08:45"));
    QCOMPARE(MiscFunc::zoneMap().value("Dateline Standard Time"), QString("UTC-12:00"));
    QCOMPARE(MiscFunc::zoneMap().value("Line Islands Standard Time"), QString("UTC+14:00"));
}

void TestMiscFunc::timeDiff()
{
    QCOMPARE(MiscFunc::timeDiff("08:00:00", "07:59:30"), 30);
    QCOMPARE(MiscFunc::timeDiff("00:00:00", "23:59:59"), -86399);
}

void TestMiscFunc::secondsFromMidnight()
{
    const QDateTime local(QDate(2026, 12, 7), QTime(13, 2, 5));
    QCOMPARE(MiscFunc::getSecFromZero(local.toSecsSinceEpoch()), 13 * 3600 + 2 * 60 + 5);
}

void TestMiscFunc::gmtIsEnglish()
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(6, 13, 12), Qt::UTC).toMSecsSinceEpoch());
    QCOMPARE(MiscFunc::getGmt(), QString("Mon,07 12 2026 06:13:12 GMT"));
    QLocale::setDefault(QLocale::c());
}

void TestMiscFunc::md5OfUtf8Text()
{
    QCOMPARE(MiscFunc::md5Hex(""), QString("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(MiscFunc::md5Hex("abc"), QString("900150983cd24fb0d6963f7d28e17f72"));
    // "中文" as UTF-8 bytes e4 b8 ad e6 96 87
    QCOMPARE(MiscFunc::md5Hex(QString::fromUtf8("中文")),
        QString::fromLatin1(QCryptographicHash::hash(
            QByteArray("\xe4\xb8\xad\xe6\x96\x87"), QCryptographicHash::Md5)
                                .toHex()));
}

void TestMiscFunc::fileMd5()
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/f", "abc");
    QCOMPARE(MiscFunc::getFileMD5(dir.path() + "/f"), QString("900150983cd24fb0d6963f7d28e17f72"));
    QCOMPARE(
        MiscFunc::getFileMD5(dir.path() + "/missing"), QString("d41d8cd98f00b204e9800998ecf8427e"));
}

void TestMiscFunc::fontFamilies()
{
    QCOMPARE(MiscFunc::fontMap().size(), 36);
    QCOMPARE(MiscFunc::getFontFamily(QString::fromUtf8("宋体")), QString("SimSun"));
    QCOMPARE(MiscFunc::getFontFamily(QString::fromUtf8("標楷體")), QString("DFKai-SB"));
    QCOMPARE(MiscFunc::getFontFamily(QString::fromUtf8("方正姚体")), QString("FZYaoti"));
    QCOMPARE(MiscFunc::getFontFamily("Comic"), QString("KaiTi"));
    QCOMPARE(MiscFunc::getFontFamily(""), QString("KaiTi"));
}

void TestMiscFunc::punctuation()
{
    QVERIFY(MiscFunc::isPunctuationMark(QString::fromUtf8("，")));
    QVERIFY(MiscFunc::isPunctuationMark(QString::fromUtf8("…")));
    QVERIFY(MiscFunc::isPunctuationMark("?"));
    QVERIFY(!MiscFunc::isPunctuationMark("a"));
    QVERIFY(!MiscFunc::isPunctuationMark(""));
}

void TestMiscFunc::compressImage()
{
    QImage noise(400, 300, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x) {
            seed = seed * 1103515245u + 12345u;
            noise.setPixel(x, y, seed);
        }
    const QSize size(320, 240);
    const QImage scaled = noise.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    auto encode = [&](int quality) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        scaled.save(&buffer, "JPEG", quality);
        return bytes;
    };
    auto decoded = [&](int quality) { return QImage::fromData(encode(quality), "JPEG"); };

    // A large limit: the quality-100 pass is the result.
    QCOMPARE(MiscFunc::compressImage(noise, size, 100 * 1024 * 1024), decoded(100));

    // A tight limit: the first quality of 98, 96, ... whose encoding fits.
    const int limit = encode(60).size();
    int quality = 100;
    while (quality > 2 && encode(quality).size() > limit)
        quality -= 2;
    QCOMPARE(MiscFunc::compressImage(noise, size, limit), decoded(quality));

    // Nothing fits: quality 2 is returned.
    QCOMPARE(MiscFunc::compressImage(noise, size, 10), decoded(2));
}

void TestMiscFunc::base64Image()
{
    const QByteArray png = encodedPicture(QSize(4, 3));
    const QPixmap pixmap = MiscFunc::base64ToImage(QString::fromLatin1(png.toBase64()));
    QCOMPARE(pixmap.size(), QSize(4, 3));
    QVERIFY(MiscFunc::base64ToImage("not an image").isNull());
}

void TestMiscFunc::byteReaders()
{
    QCOMPARE(MiscFunc::readLe16(QByteArray("\x34\x12", 2), 0), (unsigned short)0x1234);
    QCOMPARE(MiscFunc::readLe16(QByteArray("\xff", 1), 0), (unsigned short)0x00FF);
    // Three bytes before the end: the fourth counts as 0.
    const QByteArray bytes("\x01\x02\x03\x04\x05\x06", 6);
    QCOMPARE(MiscFunc::readLe32(bytes, 3), 0x00060504u);
    // No sign extension of bytes from 0x80.
    QCOMPARE(MiscFunc::readLe32(QByteArray("\x80\xff\xff\xff", 4), 0), 0xFFFFFF80u);
    QCOMPARE(MiscFunc::readLe32(QByteArray("\x80", 1), 0), 0x80u);
    QCOMPARE(MiscFunc::readLe64(QByteArray("\x5e\x4d\x3c\x2b\x1a\x00\x00\x80", 8), 0),
        0x8000001A2B3C4D5EULL);
}

void TestMiscFunc::byteWriters()
{
    QCOMPARE(MiscFunc::leBytes((unsigned short)0x1234), QByteArray("\x34\x12", 2));
    QCOMPARE(MiscFunc::leBytes(23081003u), QByteArray("\x2b\x30\x60\x01", 4));
    QCOMPARE(MiscFunc::leBytes(0x8000001A2B3C4D5EULL),
        QByteArray("\x5e\x4d\x3c\x2b\x1a\x00\x00\x80", 8));
    // Round trip at an offset.
    const QByteArray frame = QByteArray("xy") + MiscFunc::leBytes(0xDEADBEEFu);
    QCOMPARE(MiscFunc::readLe32(frame, 2), 0xDEADBEEFu);
}

void TestMiscFunc::concatPath_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<QString>("joined");
    QTest::newRow("backslash") << "a\\b"
                               << "/c"
                               << "a/b/c";
    QTest::newRow("both slashes") << "a/"
                                  << "/c"
                                  << "a/c";
    QTest::newRow("blanks") << "  a "
                            << "c"
                            << "a/c";
    QTest::newRow("one slash") << "a"
                               << "/c"
                               << "a/c";
    QTest::newRow("none") << "data/mtl"
                          << "x.png"
                          << "data/mtl/x.png";
}

void TestMiscFunc::concatPath()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, joined);
    QCOMPARE(MiscFunc::concatPath(a, b), joined);
}

void TestMiscFunc::mtlPathName()
{
    QCOMPARE(MiscFunc::mtlPathName("clip.mp4", "x"), QString("clip.mp4"));
    QCOMPARE(MiscFunc::mtlPathName(".hidden", "x"), QString(".hidden/x"));
    QCOMPARE(MiscFunc::mtlPathName("folder", "x.png"), QString("folder/x.png"));
}

void TestMiscFunc::safePaths_data()
{
    QTest::addColumn<QString>("path"); // as a name, and as a path from the folder
    QTest::addColumn<bool>("safeName");
    QTest::addColumn<bool>("inside");
    QTest::newRow("plain name") << "a.png" << true << true;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("parent") << "../x.png" << false << false;
    QTest::newRow("subfolder") << "a/b.png" << false << true;
    QTest::newRow("dot dot") << ".." << false << false;
    QTest::newRow("dot") << "." << false << false;
    QTest::newRow("nul") << QString("a.png") + QChar(0) + ".txt" << false << false;
    QTest::newRow("backslash") << "a\\b.png" << false << true;
    QTest::newRow("absolute") << "/etc/passwd" << false << false;
    QTest::newRow("absolute inside") << "/srv/data/mtl/a.png" << false << true;
    QTest::newRow("resolves outside") << "sub/../../x.png" << false << false;
    QTest::newRow("folder prefix") << "../mtl2/a.png" << false << false;
}

void TestMiscFunc::safePaths()
{
    QFETCH(QString, path);
    QFETCH(bool, safeName);
    QFETCH(bool, inside);
    const QString folder = "/srv/data/mtl";
    QCOMPARE(SafePath::isSafeName(path), safeName);
    QCOMPARE(SafePath::isInsideFolder(folder, path), inside);
    QCOMPARE(SafePath::fileIn(folder, path), safeName ? folder + "/" + path : QString());
}

void TestMiscFunc::cpuLineParsing()
{
    double total = 0;
    double busy = 0;
    QVERIFY(MiscFunc::parseCpuLine("cpu  10 20 30 40 0 0 0 0 0 0\n", total, busy));
    QCOMPARE(busy, 60.0);
    QCOMPARE(total, 100.0);
    QVERIFY(!MiscFunc::parseCpuLine("cpu 1 2", total, busy));
}

void TestMiscFunc::cpuUsageFromRunner()
{
    auto fake = std::make_shared<FakeRunner>();
    fake->setOutput("cat", "cpu  100 0 100 800\ncpu0 1 1 1 1\n");
    double prevTotal = 0;
    double prevBusy = 0;
    double usage = -1;
    QVERIFY(MiscFunc::getCpuUsage(*fake, prevTotal, prevBusy, usage));
    QCOMPARE(prevTotal, 1000.0);
    fake->setOutput("cat", "cpu  150 0 150 1700\n");
    QVERIFY(MiscFunc::getCpuUsage(*fake, prevTotal, prevBusy, usage));
    QCOMPARE(usage, 0.1);
    fake->setOutput("cat", "");
    QVERIFY(!MiscFunc::getCpuUsage(*fake, prevTotal, prevBusy, usage));
    QCOMPARE(fake->calls().first().args, QStringList {"/proc/stat"});

    // The real probe on this machine: a fraction, never the fallback.
    ProcessRunner processes;
    const double real = MiscFunc::getCpuUsage(processes);
    QVERIFY(real >= 0.0 && real <= 1.0);
}

void TestMiscFunc::localIpBytes()
{
    ProcessRunner processes;
    const QString ip = MiscFunc::getLocalIp(processes);
    const QByteArray bytes = MiscFunc::getLocalIpBytes(processes);
    QCOMPARE(bytes.size(), 4);
    QCOMPARE(QString("%1.%2.%3.%4")
                 .arg((uchar)bytes[0])
                 .arg((uchar)bytes[1])
                 .arg((uchar)bytes[2])
                 .arg((uchar)bytes[3]),
        ip);
    QVERIFY(ip != "127.0.0.1");
    const QStringList disk = MiscFunc::GetDiskInfo().split('\n');
    QCOMPARE(disk.size(), 2);
    QVERIFY(disk[0].toLongLong() > 0);
    QVERIFY(disk[1].toInt() >= 0 && disk[1].toInt() <= 100);
}

QTEST_MAIN(TestMiscFunc)
void TestMiscFunc::wholeFileKeepsTheOldOneWhenTheDiskRefuses()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/z1.z";
    QVERIFY(replaceFileWhole(path, "old content"));
    // A file size limit stands in for a full disk: a short write that only
    // fails when the buffer goes to the disk.
    bool written = true;
    {
        FileSizeLimit full(100);
        written = replaceFileWhole(path, QByteArray(528, 'n'));
    }
    QVERIFY(!written);
    QCOMPARE(readFile(path), QByteArray("old content"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"z1.z"});
}

#include "test_miscfunc.moc"
