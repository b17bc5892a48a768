#include "clock.h"
#include "clocktext.h"
#include "commandrunner.h"
#include "dailylog.h"
#include "eventwait.h"
#include "fakerunner.h"
#include "imagetools.h"
#include "lebytes.h"
#include "md5.h"
#include "safepath.h"
#include "serverpath.h"
#include "systemprobe.h"
#include "testenv.h"
#include "texttools.h"
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

class TestCommonHelpers : public QObject
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
    void jsonObject_data();
    void jsonObject();
    void sleepIsMonotonicAndKeepsEventsFlowing();

    void offsetSeconds_data();
    void offsetSeconds();
    void zoneTimeUsesFixedOffset();
    void zoneMapHoldsAllNames();
    void timeDiff();
    void secondsFromMidnight();
    void httpDateIsEnglish();

    void md5OfUtf8Text();
    void fileMd5();
    void fontFamilies();
    void punctuation();
    void compressImage();
    void base64Image();

    void byteReaders();
    void byteWriters();
    void serverPathJoin_data();
    void serverPathJoin();
    void serverPathMaterialFile();
    void safePaths_data();
    void safePaths();

    void cpuLineParsing();
    void cpuUsageFromRunner();
    void localIpBytes();
};

void TestCommonHelpers::logLineFormat()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    DailyLog::setProgramName("lumalink");
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)).toMSecsSinceEpoch());
    DailyLog::write("info", "Main", QString::fromUtf8("开启运行终端连接服务lumalink"));
    const QByteArray bytes = readFile(env.dataRoot() + "/logs/lumalink.2026-12-07.0.log");
    QCOMPARE(bytes,
        QString::fromUtf8("2026-12-07 09:05:03  [ Main ] - [ INFO ]  "
                          "开启运行终端连接服务lumalink\r\n")
            .toUtf8());

    DailyLog::setProgramName("lumaview");
    DailyLog::write("WARN", "TCP", "x");
    QVERIFY(QFile::exists(env.dataRoot() + "/logs/lumaview.2026-12-07.0.log"));
    DailyLog::setProgramName("lumalink");
}

void TestCommonHelpers::logLinesStaySafeAndBounded()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(9, 0)).toMSecsSinceEpoch());
    const QString path = DailyLog::filePath(ClockText::date());
    const auto lines = [&] {
        QList<QByteArray> all = readFile(path).split('\n');
        all.removeLast();
        return all;
    };
    // Server text cannot start a line of its own or grow a line without end.
    DailyLog::write("WARN", "TCP", "name\r\nSQL|DROP\x01");
    DailyLog::write("WARN", "TCP", QString(10000, 'x'));
    QCOMPARE(lines().size(), 2);
    QVERIFY(lines().at(0).endsWith("name\\r\\nSQL|DROP\\x01\r"));
    QVERIFY(lines().at(1).size() < 4200);
    QVERIFY(lines().at(1).contains("(6000 more characters)"));

    // The same line again within a minute is counted, then summed up.
    for (int i = 0; i < 5; ++i)
        DailyLog::write("INFO", "Main", "again");
    DailyLog::write("INFO", "Main", "other");
    Clock::advanceMs(DailyLog::REPEAT_WINDOW_MS);
    DailyLog::write("INFO", "Main", "other");
    QList<QByteArray> got = lines().mid(2);
    QCOMPARE(got.size(), 4);
    QVERIFY(got.at(0).endsWith("again\r"));
    QVERIFY(got.at(1).endsWith("(the line before came 4 more times)\r"));
    QVERIFY(got.at(2).endsWith("other\r"));
    QVERIFY(got.at(3).endsWith("other\r"));

    // A full day's log takes one last line, then nothing.
    QFile file(path);
    QVERIFY(file.resize(DailyLog::DAY_MAX_BYTES - 10));
    DailyLog::write("INFO", "Main", "one");
    DailyLog::write("INFO", "Main", "two");
    QVERIFY(readFile(path).endsWith("further lines are dropped\r\n"));
    QVERIFY(QFileInfo(path).size() < DailyLog::DAY_MAX_BYTES + 200);
    Clock::reset();
}

void TestCommonHelpers::logConcurrentWritersKeepWholeLines()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/logs");
    auto writer = [](char tag) {
        return QThread::create([tag] {
            for (int i = 0; i < 200; ++i)
                DailyLog::write("DEBUG", "T", QString(100, QLatin1Char(tag)) + QString::number(i));
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
    const QByteArray bytes = readFile(DailyLog::filePath(ClockText::date()));
    const QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.size(), 401); // 400 lines and the empty rest after the last LF
    const QRegularExpression line("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  \\[ T \\] - \\[ "
                                  "DEBUG \\]  (a{100}|b{100})\\d+\r$");
    for (int i = 0; i < 400; ++i)
        QVERIFY2(line.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
}

void TestCommonHelpers::logWithoutFolderLosesLine()
{
    TestEnv env;
    DailyLog::write("INFO", "Main", "lost");
    QVERIFY(!QDir(env.dataRoot() + "/logs").exists());
}

void TestCommonHelpers::datesFollowTheClock()
{
    Clock::setFixedMs(QDateTime(QDate(2028, 3, 1), QTime(0, 0, 1)).toMSecsSinceEpoch());
    QCOMPARE(ClockText::date(), QString("2028-03-01"));
    QCOMPARE(ClockText::date(-1), QString("2028-02-29"));
    QCOMPARE(ClockText::date(1), QString("2028-03-02"));
    QCOMPARE(ClockText::dateTime(), QString("2028-03-01 00:00:01"));
    Clock::advanceMs(3600 * 1000);
    QCOMPARE(ClockText::dateTime(), QString("2028-03-01 01:00:01"));
    QCOMPARE(ClockText::secondsFromMidnight(), 3601);
}

void TestCommonHelpers::jsonObject_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isEmpty");
    QTest::newRow("object") << "{\"a\":1}" << false;
    QTest::newRow("array") << "[1,2]" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("broken") << "{\"a\":" << true;
    QTest::newRow("scalar") << "42" << true;
}

void TestCommonHelpers::jsonObject()
{
    QFETCH(QString, text);
    QFETCH(bool, isEmpty);
    QCOMPARE(TextTools::jsonObject(text).isEmpty(), isEmpty);
}

void TestCommonHelpers::sleepIsMonotonicAndKeepsEventsFlowing()
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
    EventWait::sleep(150);
    QVERIFY(timer.elapsed() >= 150);
    QVERIFY(fired);
}

void TestCommonHelpers::offsetSeconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("seconds");
    QTest::newRow("nepal") << "UTC+05:45" << 20700;
    QTest::newRow("newfoundland") << "UTC-03:30" << -12600;
    QTest::newRow("utc") << "UTC" << 0;
    QTest::newRow("chatham") << "UTC+12:45" << 45900;
}

void TestCommonHelpers::offsetSeconds()
{
    QFETCH(QString, text);
    QFETCH(int, seconds);
    QCOMPARE(ClockText::offsetSeconds(text), seconds);
}

void TestCommonHelpers::zoneTimeUsesFixedOffset()
{
    const QDateTime utc(QDate(2026, 6, 30), QTime(20, 30, 0), Qt::UTC);
    Clock::setFixedMs(utc.toMSecsSinceEpoch());
    const QString format = "yyyy-MM-dd HH:mm";
    QCOMPARE(ClockText::zoneTime("Nepal Standard Time", format), QString("2026-07-01 02:15"));
    QCOMPARE(
        ClockText::zoneTime("Newfoundland Standard Time", format), QString("2026-06-30 17:00"));
    // No daylight saving for any name, even in summer.
    QCOMPARE(ClockText::zoneTime("W. Europe Standard Time", format), QString("2026-06-30 21:30"));
    QCOMPARE(ClockText::zoneTime("Mars Standard Time", format), utc.toLocalTime().toString(format));
}

void TestCommonHelpers::zoneMapHoldsAllNames()
{
    QCOMPARE(ClockText::zoneMap().size(), 132);
    QCOMPARE(ClockText::zoneMap().value("Aus Central W. Standard Time"), QString("UTC+08:45"));
    QCOMPARE(ClockText::zoneMap().value("Dateline Standard Time"), QString("UTC-12:00"));
    QCOMPARE(ClockText::zoneMap().value("Line Islands Standard Time"), QString("UTC+14:00"));
}

void TestCommonHelpers::timeDiff()
{
    QCOMPARE(ClockText::secondsBetween("08:00:00", "07:59:30"), 30);
    QCOMPARE(ClockText::secondsBetween("00:00:00", "23:59:59"), -86399);
}

void TestCommonHelpers::secondsFromMidnight()
{
    const QDateTime local(QDate(2026, 12, 7), QTime(13, 2, 5));
    QCOMPARE(ClockText::secondsFromMidnight(local.toSecsSinceEpoch()), 13 * 3600 + 2 * 60 + 5);
}

void TestCommonHelpers::httpDateIsEnglish()
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 7), QTime(6, 13, 12), Qt::UTC).toMSecsSinceEpoch());
    QCOMPARE(ClockText::httpDate(), QString("Mon,07 12 2026 06:13:12 GMT"));
    QLocale::setDefault(QLocale::c());
}

void TestCommonHelpers::md5OfUtf8Text()
{
    QCOMPARE(Md5::ofText(""), QString("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(Md5::ofText("abc"), QString("900150983cd24fb0d6963f7d28e17f72"));
    // "中文" as UTF-8 bytes e4 b8 ad e6 96 87
    QCOMPARE(Md5::ofText(QString::fromUtf8("中文")),
        QString::fromLatin1(QCryptographicHash::hash(
            QByteArray("\xe4\xb8\xad\xe6\x96\x87"), QCryptographicHash::Md5)
                                .toHex()));
}

void TestCommonHelpers::fileMd5()
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/f", "abc");
    QCOMPARE(Md5::ofFile(dir.path() + "/f"), QString("900150983cd24fb0d6963f7d28e17f72"));
    QCOMPARE(Md5::ofFile(dir.path() + "/missing"), QString("d41d8cd98f00b204e9800998ecf8427e"));
}

void TestCommonHelpers::fontFamilies()
{
    QCOMPARE(TextTools::fontMap().size(), 36);
    QCOMPARE(TextTools::fontFamily(QString::fromUtf8("宋体")), QString("SimSun"));
    QCOMPARE(TextTools::fontFamily(QString::fromUtf8("標楷體")), QString("DFKai-SB"));
    QCOMPARE(TextTools::fontFamily(QString::fromUtf8("方正姚体")), QString("FZYaoti"));
    QCOMPARE(TextTools::fontFamily("Comic"), QString("KaiTi"));
    QCOMPARE(TextTools::fontFamily(""), QString("KaiTi"));
}

void TestCommonHelpers::punctuation()
{
    QVERIFY(TextTools::isPunctuationMark(QString::fromUtf8("，")));
    QVERIFY(TextTools::isPunctuationMark(QString::fromUtf8("…")));
    QVERIFY(TextTools::isPunctuationMark("?"));
    QVERIFY(!TextTools::isPunctuationMark("a"));
    QVERIFY(!TextTools::isPunctuationMark(""));
}

void TestCommonHelpers::compressImage()
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
    QCOMPARE(ImageTools::compressed(noise, size, 100 * 1024 * 1024), decoded(100));

    // A tight limit: the first quality of 98, 96, ... whose encoding fits.
    const int limit = encode(60).size();
    int quality = 100;
    while (quality > 2 && encode(quality).size() > limit)
        quality -= 2;
    QCOMPARE(ImageTools::compressed(noise, size, limit), decoded(quality));

    // Nothing fits: quality 2 is returned.
    QCOMPARE(ImageTools::compressed(noise, size, 10), decoded(2));
}

void TestCommonHelpers::base64Image()
{
    const QByteArray png = encodedPicture(QSize(4, 3));
    const QPixmap pixmap = ImageTools::fromBase64(QString::fromLatin1(png.toBase64()));
    QCOMPARE(pixmap.size(), QSize(4, 3));
    QVERIFY(ImageTools::fromBase64("not an image").isNull());
}

void TestCommonHelpers::byteReaders()
{
    QCOMPARE(LeBytes::read16(QByteArray("\x34\x12", 2), 0), (unsigned short)0x1234);
    QCOMPARE(LeBytes::read16(QByteArray("\xff", 1), 0), (unsigned short)0x00FF);
    // Three bytes before the end: the fourth counts as 0.
    const QByteArray bytes("\x01\x02\x03\x04\x05\x06", 6);
    QCOMPARE(LeBytes::read32(bytes, 3), 0x00060504u);
    // No sign extension of bytes from 0x80.
    QCOMPARE(LeBytes::read32(QByteArray("\x80\xff\xff\xff", 4), 0), 0xFFFFFF80u);
    QCOMPARE(LeBytes::read32(QByteArray("\x80", 1), 0), 0x80u);
    QCOMPARE(LeBytes::read64(QByteArray("\x5e\x4d\x3c\x2b\x1a\x00\x00\x80", 8), 0),
        0x8000001A2B3C4D5EULL);
}

void TestCommonHelpers::byteWriters()
{
    QCOMPARE(LeBytes::of((unsigned short)0x1234), QByteArray("\x34\x12", 2));
    QCOMPARE(LeBytes::of(23081003u), QByteArray("\x2b\x30\x60\x01", 4));
    QCOMPARE(LeBytes::of(0x8000001A2B3C4D5EULL), QByteArray("\x5e\x4d\x3c\x2b\x1a\x00\x00\x80", 8));
    // Round trip at an offset.
    const QByteArray frame = QByteArray("xy") + LeBytes::of(0xDEADBEEFu);
    QCOMPARE(LeBytes::read32(frame, 2), 0xDEADBEEFu);
}

void TestCommonHelpers::serverPathJoin_data()
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

void TestCommonHelpers::serverPathJoin()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, joined);
    QCOMPARE(ServerPath::join(a, b), joined);
}

void TestCommonHelpers::serverPathMaterialFile()
{
    QCOMPARE(ServerPath::materialFile("clip.mp4", "x"), QString("clip.mp4"));
    QCOMPARE(ServerPath::materialFile(".hidden", "x"), QString(".hidden/x"));
    QCOMPARE(ServerPath::materialFile("folder", "x.png"), QString("folder/x.png"));
}

void TestCommonHelpers::safePaths_data()
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

void TestCommonHelpers::safePaths()
{
    QFETCH(QString, path);
    QFETCH(bool, safeName);
    QFETCH(bool, inside);
    const QString folder = "/srv/data/mtl";
    QCOMPARE(SafePath::isSafeName(path), safeName);
    QCOMPARE(SafePath::isInsideFolder(folder, path), inside);
    QCOMPARE(SafePath::fileIn(folder, path), safeName ? folder + "/" + path : QString());
}

void TestCommonHelpers::cpuLineParsing()
{
    double total = 0;
    double busy = 0;
    QVERIFY(SystemProbe::parseCpuLine("cpu  10 20 30 40 0 0 0 0 0 0\n", total, busy));
    QCOMPARE(busy, 60.0);
    QCOMPARE(total, 100.0);
    QVERIFY(!SystemProbe::parseCpuLine("cpu 1 2", total, busy));
}

void TestCommonHelpers::cpuUsageFromRunner()
{
    auto fake = std::make_shared<FakeRunner>();
    fake->setOutput("cat", "cpu  100 0 100 800\ncpu0 1 1 1 1\n");
    double prevTotal = 0;
    double prevBusy = 0;
    double usage = -1;
    QVERIFY(SystemProbe::cpuUsage(*fake, prevTotal, prevBusy, usage));
    QCOMPARE(prevTotal, 1000.0);
    fake->setOutput("cat", "cpu  150 0 150 1700\n");
    QVERIFY(SystemProbe::cpuUsage(*fake, prevTotal, prevBusy, usage));
    QCOMPARE(usage, 0.1);
    fake->setOutput("cat", "");
    QVERIFY(!SystemProbe::cpuUsage(*fake, prevTotal, prevBusy, usage));
    QCOMPARE(fake->calls().first().args, QStringList {"/proc/stat"});

    // The real probe on this machine: a fraction, never the fallback.
    ProcessRunner processes;
    const double real = SystemProbe::cpuUsage(processes);
    QVERIFY(real >= 0.0 && real <= 1.0);
}

void TestCommonHelpers::localIpBytes()
{
    ProcessRunner processes;
    const QString ip = SystemProbe::localIp(processes);
    const QByteArray bytes = SystemProbe::localIpBytes(processes);
    QCOMPARE(bytes.size(), 4);
    QCOMPARE(QString("%1.%2.%3.%4")
                 .arg((uchar)bytes[0])
                 .arg((uchar)bytes[1])
                 .arg((uchar)bytes[2])
                 .arg((uchar)bytes[3]),
        ip);
    QVERIFY(ip != "127.0.0.1");
    const QStringList disk = SystemProbe::diskInfo().split('\n');
    QCOMPARE(disk.size(), 2);
    QVERIFY(disk[0].toLongLong() > 0);
    QVERIFY(disk[1].toInt() >= 0 && disk[1].toInt() <= 100);
}

QTEST_MAIN(TestCommonHelpers)
void TestCommonHelpers::wholeFileKeepsTheOldOneWhenTheDiskRefuses()
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

#include "test_commonhelpers.moc"
