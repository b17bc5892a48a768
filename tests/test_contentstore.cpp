#include "clocktext.h"
#include "commandrunner.h"
#include "content/contentstore.h"
#include "dailylog.h"
#include "fakerunner.h"
#include "requests/serverconfig.h"
#include "requests/systemclock.h"
#include "requests/terminalreports.h"
#include "settings/servicesettings.h"
#include "testenv.h"

#include <QBuffer>
#include <QDir>
#include <QDomDocument>
#include <QGuiApplication>
#include <QTextCodec>
#include <QtTest>

// What the service does with the server's messages: configuration, time,
// reports, and the storage of schedule, template lists and zones.
class TestContentStore : public QObject
{
    Q_OBJECT
private slots:
    void configuration();
    void configurationKeepsValuesOnBadInput();
    void serverTimeGoesThroughSudo();
    void environmentReport();
    void screenshotReport();

    void scheduleIds();
    void templateListFiles();
    void zoneFiles();
    void zoneStoredAsUtf8();
    void daySchedule();
    void fullDiskKeepsTheStoredFile_data();
    void fullDiskKeepsTheStoredFile();
    void unsafeIdsAreRefused_data();
    void unsafeIdsAreRefused();
};

void TestContentStore::configuration()
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<config>
  <ftp><server ip="10.0.0.2" port="9300">
    <ip>10.0.0.3</ip><port>21</port>
    <RTDA HttpServer="10.0.0.4" HttpPort="2100"/>
    <HTTP><serverip>10.0.0.6</serverip><serverport>80</serverport></HTTP>
    <HTTP><serverip>10.0.0.7</serverip><serverport>8081</serverport></HTTP>
    <LOG><serverip>10.0.0.5</serverip><serverport>8080</serverport></LOG>
  </server></ftp>
  <ftp><server ip="192.0.2.1" port="1"/></ftp>
</config>)";
    ServerConfig config;
    readServerConfig(xml, config);
    QCOMPARE(config.serverIp, QString("10.0.0.2"));
    QCOMPARE(config.serverPort, 9300);
    QCOMPARE(config.ip, QString("10.0.0.3"));
    QCOMPARE(config.port, 21);
    QCOMPARE(config.rtdaHost, QString("10.0.0.4"));
    QCOMPARE(config.rtdaPort, 2100);
    QCOMPARE(config.httpIp, QString("10.0.0.7")); // the later HTTP wins
    QCOMPARE(config.httpPort, 8081);
    QCOMPARE(config.logIp, QString("10.0.0.5"));
    QCOMPARE(config.logPort, 8080);
}

void TestContentStore::configurationKeepsValuesOnBadInput()
{
    ServerConfig config;
    config.serverIp = "old";
    config.httpIp = "h";
    readServerConfig("<config><ftp>", config);
    QCOMPARE(config.serverIp, QString("old"));
    readServerConfig("<other/>", config);
    QCOMPARE(config.serverIp, QString("old"));

    // Root "config" without ftp/server: address cleared, the rest kept.
    readServerConfig("<config/>", config);
    QCOMPARE(config.serverIp, QString());
    QCOMPARE(config.serverPort, 0);
    QCOMPARE(config.httpIp, QString("h"));

    readServerConfig(R"(<config><ftp><server port="abc"/></ftp></config>)", config);
    QCOMPARE(config.serverPort, 0);
    QCOMPARE(config.serverIp, QString());
}

void TestContentStore::serverTimeGoesThroughSudo()
{
    TestEnv env;
    QVERIFY(QDir().mkpath(env.dataRoot() + "/logs"));
    QCOMPARE(SystemClock::dateArgument(0),
        QDateTime::fromMSecsSinceEpoch(0).toString("MMddHHmmyyyy.ss"));
    const QDateTime when(QDate(2040, 12, 7), QTime(14, 5, 9));
    QCOMPARE(SystemClock::dateArgument(when.toSecsSinceEpoch()), QString("120714052040.09"));

    auto fake = std::make_shared<FakeRunner>();
    const QString password = "pa ss\"; reboot";
    QByteArray body;
    const quint64 secs = when.toSecsSinceEpoch();
    for (int i = 0; i < 8; ++i)
        body.append(char((secs >> (8 * i)) & 0xff));
    SystemClock::setFromServer(*fake, body, password);

    const auto calls = fake->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].program, QString("sudo"));
    QCOMPARE(calls[0].args, (QStringList {"-S", "date", "120714052040.09"}));
    QCOMPARE(calls[1].args, (QStringList {"-S", "hwclock", "--systohc"}));
    // The password only ever travels on standard input.
    QCOMPARE(calls[0].input, QByteArray("pa ss\"; reboot\n"));

    // No password stored: sudo -n, allowed by the sudoers rule or refused at
    // once; a refusal is logged once per command, never a built-in password.
    fake->setExitCode("sudo", 1);
    SystemClock::setFromServer(*fake, body, QString());
    SystemClock::setFromServer(*fake, body, QString());
    const auto unattended = fake->calls().mid(2);
    QCOMPARE(unattended.size(), 4);
    QCOMPARE(unattended[0].args, (QStringList {"-n", "date", "120714052040.09"}));
    QCOMPARE(unattended[1].args, (QStringList {"-n", "hwclock", "--systohc"}));
    QCOMPARE(unattended[0].input, QByteArray());
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QCOMPARE(log.count("[ SUDO ] - [ WARN ]  sudo -n date "), 1);
    QCOMPARE(log.count("[ SUDO ] - [ WARN ]  sudo -n hwclock "), 1);

    // A time before this program was built, or past any clock, is refused.
    for (const quint64 refused : {quint64(SystemClock::earliestServerTime().toSecsSinceEpoch() - 1),
             quint64(0), ~quint64(0)}) {
        QByteArray early;
        for (int i = 0; i < 8; ++i)
            early.append(char((refused >> (8 * i)) & 0xff));
        QVERIFY(!SystemClock::setFromServer(*fake, early, QString()));
    }
    QCOMPARE(fake->calls().size(), 6);
    QVERIFY(
        readFile(DailyLog::filePath(ClockText::date())).contains("[ TIME_REFUSED ] - [ WARN ]"));
}

void TestContentStore::environmentReport()
{
    const QByteArray xml = TerminalReports::environmentXml(QSize(1080, 1920), 0.5, 0.125);
    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n <screen "));
    QDomDocument doc;
    QVERIFY(doc.setContent(xml));
    const QDomElement root = doc.documentElement();
    QCOMPARE(root.tagName(), QString("root"));
    QStringList tags;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        tags << e.tagName();
    QCOMPARE(tags,
        (QStringList {"screen", "brightness", "volumn", "shutdowntime", "powerontime", "version",
            "screenOrientation", "items"}));
    QCOMPARE(root.firstChildElement("screen").attribute("Width"), QString("1080"));
    QCOMPARE(root.firstChildElement("screen").attribute("Height"), QString("1920"));
    QCOMPARE(root.firstChildElement("brightness").attribute("value").toDouble(), 0.8);
    QCOMPARE(root.firstChildElement("volumn").attribute("value").toDouble(), 0.5);
    QCOMPARE(root.firstChildElement("shutdowntime").attribute("value"), QString("00:00:00"));
    QCOMPARE(root.firstChildElement("version").attribute("value"), QString("1.1.23081003"));
    QCOMPARE(root.firstChildElement("screenOrientation").attribute("value"), QString("1"));
    const QDomElement item = root.firstChildElement("items").firstChildElement("item");
    QCOMPARE(item.attribute("key"), QString::fromUtf8("CPU使用率"));
    QCOMPARE(item.attribute("value"), QString("0.13"));

    const QByteArray square = TerminalReports::environmentXml(QSize(1000, 1000), 0.1, 0);
    QVERIFY(square.contains("<screenOrientation value=\"0\"/>"));
    QVERIFY(xml.contains("<volumn value=\"0.5\"/>"));

    // The live report reads the desktop of this (offscreen) session.
    QByteArray live("prefix");
    ProcessRunner processes;
    TerminalReports::environment(processes, live, 0.3);
    QVERIFY(live.startsWith("prefix<?xml"));
    QVERIFY(doc.setContent(live.mid(6)));
}

void TestContentStore::screenshotReport()
{
    QImage desktop(1920, 1080, QImage::Format_RGB32);
    desktop.fill(QColor(10, 120, 200));
    const QByteArray xml = TerminalReports::screenshotXml(desktop);
    const QString gap(30, ' ');
    const QString head
        = "<?xml version=\"1.0\" encoding=\"GBK\"?>" + gap + "<root>" + gap + "<screenthumb>";
    QVERIFY(xml.startsWith(head.toUtf8()));
    QVERIFY(xml.endsWith((gap + "</screenthumb>" + gap + "</root>").toUtf8()));
    const QByteArray base64 = xml.mid(head.size(), xml.size() - head.size() - 74);
    QVERIFY(!base64.contains('\n'));
    const QImage thumb = QImage::fromData(QByteArray::fromBase64(base64), "BMP");
    QCOMPARE(thumb.size(), QSize(1152, 648));
    QVERIFY(QByteArray::fromBase64(base64).startsWith("BM"));

    QByteArray out("x");
    TerminalReports::screenshot(out); // offscreen: a grab or nothing, never garbage
    QVERIFY(out == "x" || out.contains("<screenthumb>"));
}

void TestContentStore::scheduleIds()
{
    const QByteArray day = R"(<Day>
  <TPL p="a.l"><Z p="z1.z"/><Z p="z2.z"/><Y p="no.z"/></TPL>
  <ITPL p="b.l" s="2026-12-07" b="3600" e="7200"><Z p="z3.z"/></ITPL>
  <ATPL p="a.l"><Z p="z1.z"/></ATPL>
  <TPLX p="ignored.l"><Z p="ignored.z"/></TPLX>
  <Other><TPL p="deep.l"/></Other>
</Day>)";
    QList<QByteArray> tpl {"kept"};
    QList<QByteArray> zones;
    ContentStore::getDayScheduleTpl(day, tpl, zones);
    QCOMPARE(tpl, (QList<QByteArray> {"kept", "a.l", "b.l", "a.l"}));
    QCOMPARE(zones, (QList<QByteArray> {"z1.z", "z2.z", "z3.z", "z1.z"}));

    QList<QByteArray> none;
    ContentStore::getDayScheduleTpl("<Night><TPL p=\"x\"/></Night>", none, none);
    ContentStore::getDayScheduleTpl("not xml", none, none);
    QVERIFY(none.isEmpty());
}

void TestContentStore::templateListFiles()
{
    const QByteArray list = R"(<TL>
  <T name="a.jpg" path="data/mtl" len="10"/>
  <T name="b.xml" path="/data/mtl"/>
  <ST name="c.xml" path="data/mtl/"/>
  <X name="d.xml" path="data/mtl"/>
</TL>)";
    QList<QString> files;
    ContentStore::getTpFile(list, files);
    ContentStore::getTpFile(list, files); // a second list with the same files
    QCOMPARE(files,
        (QList<QString> {"data/mtl/a.jpg", "data/mtl/c.xml", "data/mtl/a.jpg", "data/mtl/c.xml"}));
    ContentStore::getTpFile("<PL><T name='a' path='data/x'/></PL>", files);
    QCOMPARE(files.size(), 4);
}

void TestContentStore::zoneFiles()
{
    const QByteArray zone = R"(<PL>
  <P name="ignored.mp4" path="data/mtl/b.mp4"/>
  <PP name="c.png" path="data/mtl"/>
  <P name="c.png" path="data/mtl"/>
  <P name="x.png" path="http://elsewhere"/>
  <Q name="y.png" path="data/mtl"/>
</PL>)";
    QList<QString> files {"data/mtl/a.jpg"};
    ContentStore::getZoneMaterialFile(zone, files);
    ContentStore::getZoneMaterialFile(zone, files); // a second zone with the same materials
    QCOMPARE(files, (QList<QString> {"data/mtl/a.jpg", "data/mtl/b.mp4", "data/mtl/c.png"}));
}

void TestContentStore::zoneStoredAsUtf8()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data/zone");
    const QString text = QString::fromUtf8(
        "<?xml version=\"1.0\" encoding=\"GBK\"?><PL><P name=\"欢迎光临.png\" path=\"data/mtl\" "
        "text=\"欢迎\"/></PL>");
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(gbk);
    const QByteArray gbkBytes = gbk->fromUnicode(text);
    QVERIFY(gbkBytes != text.toUtf8());
    QVERIFY(ContentStore::writeZone("z1.z", gbkBytes));
    QCOMPARE(readFile(env.dataRoot() + "/data/zone/z1.z"), text.toUtf8());

    QByteArray stored;
    QVERIFY(ContentStore::readZoneXml("z1.z", stored));
    QList<QString> files;
    ContentStore::getZoneMaterialFile(stored, files);
    QCOMPARE(files, QList<QString> {QString::fromUtf8("data/mtl/欢迎光临.png")});
    QVERIFY(!ContentStore::readZoneXml("missing.z", stored));
}

void TestContentStore::daySchedule()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data/tpl");
    QVERIFY(ContentStore::writeDaySchedule("<Day/>", true));
    QCOMPARE(readFile(env.dataRoot() + "/data/day-play.xml.tmp"), QByteArray("<Day/>"));
    QVERIFY(!QFile::exists(env.dataRoot() + "/data/day-play.xml"));
    QVERIFY(ContentStore::writeDaySchedule("<Day><TPL/></Day>", true));
    QCOMPARE(readFile(env.dataRoot() + "/data/day-play.xml.tmp"), QByteArray("<Day><TPL/></Day>"));
    QVERIFY(ContentStore::writeDaySchedule("x", false));
    QCOMPARE(readFile(env.dataRoot() + "/data/day-play.xml"), QByteArray("x"));

    QVERIFY(ContentStore::writeTpl("a.l", "<TL/>"));
    QVERIFY(ContentStore::writeTpl("a.l", "<TL></TL>"));
    QCOMPARE(readFile(env.dataRoot() + "/data/tpl/a.l"), QByteArray("<TL></TL>"));
}

void TestContentStore::fullDiskKeepsTheStoredFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("path");
    QTest::newRow("schedule") << "schedule"
                              << "data/day-play.xml.tmp";
    QTest::newRow("template list") << "tpl"
                                   << "data/tpl/a.l";
    QTest::newRow("zone") << "zone"
                          << "data/zone/z.z";
}

void TestContentStore::fullDiskKeepsTheStoredFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, path);
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data/tpl");
    QDir().mkpath(env.dataRoot() + "/data/zone");
    auto store = [&](const QByteArray &body) {
        if (kind == "schedule")
            return ContentStore::writeDaySchedule(body, true);
        if (kind == "tpl")
            return ContentStore::writeTpl("a.l", body);
        return ContentStore::writeZone("z.z", body);
    };
    const QByteArray small = "<X>small</X>";
    QVERIFY(store(small));
    const QByteArray big = "<X>" + QByteArray(256 * 1024, 'x') + "</X>";
    {
        FileSizeLimit full(32 * 1024);
        QVERIFY(!store(big));
    }
    // No truncated file: what was stored before (the schedule's waiting copy
    // is replaced by nothing rather than by a part).
    const QString stored = env.dataRoot() + "/" + path;
    if (kind == "schedule")
        QVERIFY(!QFile::exists(stored));
    else
        QCOMPARE(readFile(stored), small);
    QCOMPARE(QDir(QFileInfo(stored).absolutePath()).entryList(QDir::Files).size(),
        kind == "schedule" ? 0 : 1);
    QVERIFY(store(big));
    QCOMPARE(readFile(stored).size(), big.size());
}

void TestContentStore::unsafeIdsAreRefused_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << QByteArray("2026-a.l") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("dot") << QByteArray(".") << false;
    QTest::newRow("dotdot") << QByteArray("..") << false;
    QTest::newRow("slash") << QByteArray("../../.bashrc") << false;
    QTest::newRow("backslash") << QByteArray("..\\x") << false;
    QTest::newRow("nul") << QByteArray("a\0b", 3) << false;
    QTest::newRow("dots inside") << QByteArray("a..b.z") << true;
}

void TestContentStore::unsafeIdsAreRefused()
{
    QFETCH(QByteArray, id);
    QFETCH(bool, safe);
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data/tpl");
    QDir().mkpath(env.dataRoot() + "/data/zone");
    QCOMPARE(ContentStore::isSafeId(id), safe);
    QCOMPARE(ContentStore::writeTpl(id, "<TL/>"), safe);
    QCOMPARE(ContentStore::writeZone(id, "<PL/>"), safe);
    // Nothing was written outside the two folders.
    QCOMPARE(QDir(env.home()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QDir(env.dataRoot() + "/data").entryList(QDir::Files), QStringList());
}

QTEST_MAIN(TestContentStore)
#include "test_contentstore.moc"
