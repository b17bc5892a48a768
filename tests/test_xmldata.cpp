#include "clock.h"
#include "formats/xmldata.h"
#include "testenv.h"

#include <QTextCodec>
#include <QtTest>

#include <memory>

using namespace ContentXml;

Q_DECLARE_METATYPE(ContentXml::MtlKind)

// The content formats the player reads: day playbill, template lists,
// templates and zone files, with their defaults and odd cases.
class TestXmlData : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { Clock::reset(); }

    void dayPlayWrongRootClearsNames_data();
    void dayPlayWrongRootClearsNames();
    void dayPlayEntries();
    void dayPlayInsertWindow_data();
    void dayPlayInsertWindow();
    void dayPlayLastEntryWins();

    void tpList();
    void tpFileContent();
    void tpFileContentWrongRoot();

    void zoneNumbers_data();
    void zoneNumbers();
    void zoneNameRule_data();
    void zoneNameRule();
    void zoneChannels_data();
    void zoneChannels();
    void zoneWeatherColourAndOrder();
    void zoneKeepsChineseUnderGbkDeclaration();
    void declaredEncodingHonoured_data();
    void declaredEncodingHonoured();
    void zoneFailures_data();
    void zoneFailures();
    void zoneKinds_data();
    void zoneKinds();

    void metaTypesTravelInVariants();

private:
    QString write(const QString &name, const QByteArray &xml);
    ZONE_MTL oneMaterial(const QByteArray &attributes, const QByteArray &children = QByteArray());

    std::unique_ptr<TestEnv> m_env;
    QDate m_today {2024, 3, 15};
};

void TestXmlData::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    Clock::setFixedMs(QDateTime(m_today, QTime(12, 0)).toMSecsSinceEpoch());
}

QString TestXmlData::write(const QString &name, const QByteArray &xml)
{
    const QString path = m_env->dataRoot() + QStringLiteral("/data/") + name;
    writeFile(path, xml);
    return path;
}

ZONE_MTL TestXmlData::oneMaterial(const QByteArray &attributes, const QByteArray &children)
{
    const QString path = write(QStringLiteral("zone/one.z"),
        "<PL name=\"z\"><P " + attributes + ">" + children + "</P></PL>");
    ZONE_CTRL zone;
    xml_zoneFileContent(path, zone);
    if (zone.mtls.size() != 1)
        return ZONE_MTL();
    return zone.mtls.first();
}

void TestXmlData::dayPlayWrongRootClearsNames_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("lower-case root") << QByteArray("<day><TPL p=\"new.l\"/></day>");
    QTest::newRow("malformed") << QByteArray("<Day><TPL p=\"new.l\"></Day>");
    QTest::newRow("missing file") << QByteArray();
}

void TestXmlData::dayPlayWrongRootClearsNames()
{
    QFETCH(QByteArray, xml);
    const QString path = m_env->dataRoot() + QStringLiteral("/data/day-play.xml");
    if (!xml.isEmpty())
        write(QStringLiteral("day-play.xml"), xml);

    DAY_PLAY play;
    play.tpl.p = QStringLiteral("old.l");
    play.tpl.l = 7;
    play.tpl.zones.append(DAY_ZONE {QStringLiteral("a.z"), QString(), 10});
    play.itpl.p = QStringLiteral("old-insert.l");
    play.itpl.b = 100;
    xml_dayPlay(path, play);

    QVERIFY(play.tpl.p.isEmpty());
    QVERIFY(play.itpl.p.isEmpty());
    // Only the names are cleared; everything else stays as it was.
    QCOMPARE(play.tpl.l, 7);
    QCOMPARE(play.tpl.zones.size(), 1);
    QCOMPARE(play.itpl.b, 100);
}

void TestXmlData::dayPlayEntries()
{
    const QString path = write(QStringLiteral("day-play.xml"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Day>\n"
        "  <!-- comment -->\n"
        "  <TPL p=\"day.l\" s=\"2024-03-15\" l=\"x\" b=\"5\" e=\"6\">\n"
        "    <Z p=\"a.z\" n=\"Left\" l=\"30\"/>\n"
        "    <Zone p=\"b.z\" n=\"Right\"/>\n"
        "  </TPL>\n"
        "  <XTPL p=\"ignored.l\"/>\n"
        "</Day>\n");
    DAY_PLAY play;
    xml_dayPlay(path, play);
    QCOMPARE(play.tpl.p, QStringLiteral("day.l"));
    QCOMPARE(play.tpl.s, QStringLiteral("2024-03-15"));
    QCOMPARE(play.tpl.l, 0); // not a number
    QCOMPARE(play.tpl.b, 5);
    QCOMPARE(play.tpl.e, 6);
    QCOMPARE(play.tpl.zones.size(), 2); // any tag counts as a zone
    QCOMPARE(play.tpl.zones.at(0).p, QStringLiteral("a.z"));
    QCOMPARE(play.tpl.zones.at(0).n, QStringLiteral("Left"));
    QCOMPARE(play.tpl.zones.at(0).l, 30);
    QCOMPARE(play.tpl.zones.at(1).p, QStringLiteral("b.z"));
    QCOMPARE(play.tpl.zones.at(1).l, 0);
    QVERIFY(play.itpl.p.isEmpty());

    // An entry without zones has an empty zone list.
    write(QStringLiteral("day-play.xml"), "<Day><TPL p=\"bare.l\"/></Day>");
    xml_dayPlay(path, play);
    QCOMPARE(play.tpl.p, QStringLiteral("bare.l"));
    QVERIFY(play.tpl.zones.isEmpty());
}

void TestXmlData::dayPlayInsertWindow_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("window"); // b and e attributes as written
    QTest::addColumn<QString>("zones");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("e");

    const QString today = QStringLiteral("2024-03-15");
    const QString twoZones = QStringLiteral("<Z p=\"a.z\" l=\"30\"/><Z p=\"b.z\" l=\"45\"/>");
    QTest::newRow("today, window from i and longest zone")
        << today << QString() << twoZones << true << 28800 << 28845;
    QTest::newRow("today, b and e zero")
        << today << QStringLiteral("b=\"0\" e=\"0\"") << twoZones << true << 28800 << 28845;
    QTest::newRow("explicit window kept")
        << today << QStringLiteral("b=\"36000\" e=\"36600\"") << twoZones << true << 36000 << 36600;
    QTest::newRow("only e given") << today << QStringLiteral("e=\"500\"") << twoZones << true << 0
                                  << 500;
    QTest::newRow("no zones") << today << QString() << QString() << true << 28800 << 28800;
    QTest::newRow("negative zones")
        << today << QString() << QStringLiteral("<Z p=\"a.z\" l=\"-5\"/>") << true << 28800
        << 28800;
    QTest::newRow("yesterday ignored")
        << QStringLiteral("2024-03-14") << QString() << twoZones << false << 0 << 0;
    QTest::newRow("yesterday, window running past midnight")
        << QStringLiteral("2024-03-14") << QStringLiteral("b=\"86380\" e=\"86460\"") << twoZones
        << true << 86380 << 86460;
    QTest::newRow("yesterday, window ended at midnight")
        << QStringLiteral("2024-03-14") << QStringLiteral("b=\"86000\" e=\"86399\"") << twoZones
        << false << 0 << 0;
    QTest::newRow("tomorrow ignored")
        << QStringLiteral("2024-03-16") << QString() << twoZones << false << 0 << 0;
    QTest::newRow("date must match exactly")
        << QStringLiteral("2024-03-15 ") << QString() << twoZones << false << 0 << 0;
}

void TestXmlData::dayPlayInsertWindow()
{
    QFETCH(QString, date);
    QFETCH(QString, window);
    QFETCH(QString, zones);
    QFETCH(bool, taken);
    QFETCH(int, b);
    QFETCH(int, e);

    const qint64 eight = QDateTime(m_today, QTime(8, 0)).toSecsSinceEpoch();
    const QString xml = QStringLiteral("<Day><TPL p=\"day.l\"/><ITPL p=\"ins.l\" s=\"%1\" i=\"%2\" "
                                       "%3>%4</ITPL></Day>")
                            .arg(date, QString::number(eight), window, zones);
    const QString path = write(QStringLiteral("day-play.xml"), xml.toUtf8());
    DAY_PLAY play;
    xml_dayPlay(path, play);
    QCOMPARE(play.tpl.p, QStringLiteral("day.l"));
    QCOMPARE(play.itpl.p, taken ? QStringLiteral("ins.l") : QString());
    QCOMPARE(play.itpl.b, b);
    QCOMPARE(play.itpl.e, e);
}

void TestXmlData::dayPlayLastEntryWins()
{
    const QString path = write(QStringLiteral("day-play.xml"),
        "<Day>"
        "<ITPL p=\"first-insert.l\" s=\"2024-03-15\" b=\"1\" e=\"2\"/>"
        "<TPL p=\"first.l\"><Z p=\"a.z\"/></TPL>"
        "<TPL p=\"second.l\"/>"
        "<ITPL p=\"second-insert.l\" s=\"2024-03-15\" b=\"3\" e=\"4\"/>"
        "<ITPL p=\"old-insert.l\" s=\"2024-03-14\" b=\"5\" e=\"6\"/>"
        "</Day>");
    DAY_PLAY play;
    xml_dayPlay(path, play);
    QCOMPARE(play.tpl.p, QStringLiteral("second.l"));
    QVERIFY(play.tpl.zones.isEmpty());
    QCOMPARE(play.itpl.p, QStringLiteral("second-insert.l"));
    QCOMPARE(play.itpl.b, 3);
    QCOMPARE(play.itpl.e, 4);
}

void TestXmlData::tpList()
{
    const QString path = write(QStringLiteral("tpl/list.l"),
        "<TL>"
        "<T name=\"a.xml\" path=\"data/mtl/\" len=\"10\" ttimes=\"1\" etimes=\"2\" istiming=\"3\" "
        "timing=\"4\"/>"
        "<Other name=\"b.xml\" len=\"ten\"/>"
        "<T name=\"c.xml\" len=\"0x10\"/>"
        "</TL>");
    TP_LIST list;
    list.ctrls.append(TP_CTRL {QStringLiteral("kept.xml"), 1, 0, 0, 0, 0});
    xml_tpList(path, list);
    QCOMPARE(list.ctrls.size(), 4); // appends to what the caller passed
    QCOMPARE(list.ctrls.at(1).name, QStringLiteral("a.xml"));
    QCOMPARE(list.ctrls.at(1).len, 10);
    QCOMPARE(list.ctrls.at(1).ttimes, 1);
    QCOMPARE(list.ctrls.at(1).etimes, 2);
    QCOMPARE(list.ctrls.at(1).istiming, 3);
    QCOMPARE(list.ctrls.at(1).timing, 4);
    QCOMPARE(list.ctrls.at(2).name, QStringLiteral("b.xml"));
    QCOMPARE(list.ctrls.at(2).len, 0);
    QCOMPARE(list.ctrls.at(3).len, 0); // not decimal
    QVERIFY(list.name.isEmpty());

    TP_LIST wrong;
    xml_tpList(write(QStringLiteral("tpl/wrong.l"), "<tl><T name=\"a.xml\"/></tl>"), wrong);
    QVERIFY(wrong.ctrls.isEmpty());
}

void TestXmlData::tpFileContent()
{
    const QByteArray background(101, 'A');
    const QString path = write(QStringLiteral("mtl/t.xml"),
        "<Template Width=\"1920\" Height=\"1080\" BackgroundColor=\"#102030\" "
        "BackgroundRepeat=\"no-repeat\" BackgroundPosition=\"center\" BackgroundSize=\"cover\">"
        "<Background>"
            + background
            + "</Background>"
              "<Areas>"
              "<Area Title=\"Left\" Zindex=\"2\" Width=\"960\" Height=\"1080\" Left=\"0\" "
              "Top=\"0\" Scale=\"1:1\"/>"
              "</Areas>"
              "<Ignored><Area Title=\"Nope\"/></Ignored>"
              "<Areas><Box Title=\"Right\" Left=\"960\" Width=\"w\"/></Areas>"
              "</Template>");
    TP_CONTENT content;
    xml_tpFileContent(path, content);
    QCOMPARE(content.Width, 1920);
    QCOMPARE(content.Height, 1080);
    QCOMPARE(content.BackgroundColor, QStringLiteral("#102030"));
    QCOMPARE(content.BackgroundRepeat, QStringLiteral("no-repeat"));
    QCOMPARE(content.BackgroundPosition, QStringLiteral("center"));
    QCOMPARE(content.BackgroundSize, QStringLiteral("cover"));
    QCOMPARE(content.Background, QString::fromLatin1(background));
    QVERIFY(content.name.isEmpty());
    // Both "Areas" elements count, in document order.
    QCOMPARE(content.areas.size(), 2);
    const TP_AREA left = content.areas.at(0);
    QCOMPARE(left.Title, QStringLiteral("Left"));
    QCOMPARE(left.Zindex, 2);
    QCOMPARE(left.Width, 960);
    QCOMPARE(left.Height, 1080);
    QCOMPARE(left.Left, 0);
    QCOMPARE(left.Top, 0);
    QCOMPARE(left.Scale, QStringLiteral("1:1"));
    QCOMPARE(content.areas.at(1).Title, QStringLiteral("Right"));
    QCOMPARE(content.areas.at(1).Left, 960);
    QCOMPARE(content.areas.at(1).Width, 0);
}

void TestXmlData::tpFileContentWrongRoot()
{
    TP_CONTENT content;
    xml_tpFileContent(write(QStringLiteral("mtl/bad.xml"), "<Tpl Width=\"10\"/>"), content);
    QCOMPARE(content.Width, 0);
    QVERIFY(content.areas.isEmpty());
    xml_tpFileContent(m_env->dataRoot() + QStringLiteral("/data/mtl/missing.xml"), content);
    QCOMPARE(content.Width, 0);
}

void TestXmlData::zoneNumbers_data()
{
    QTest::addColumn<QByteArray>("attributes");
    QTest::addColumn<int>("len");
    QTest::addColumn<int>("etimes");
    QTest::addColumn<int>("it");
    QTest::addColumn<int>("rt");
    QTest::addColumn<double>("volume");

    QTest::newRow("all absent") << QByteArray("type=\"pic\"") << 15 << 1 << 60 << 3600 << 0.0;
    // Lengths stop at a day and volumes stay within 0 to 1, whatever the file says.
    QTest::newRow("huge") << QByteArray("len=\"2147483647\" etimes=\"99999999\" volume=\"1e300\"")
                          << 86400 << 86400 << 60 << 3600 << 1.0;
    QTest::newRow("volume nan") << QByteArray("volume=\"nan\"") << 15 << 1 << 60 << 3600 << 0.0;
    QTest::newRow("volume negative")
        << QByteArray("volume=\"-0.5\"") << 15 << 1 << 60 << 3600 << 0.0;
    QTest::newRow("volume given") << QByteArray("volume=\"0.3\"") << 15 << 1 << 60 << 3600 << 0.3;
    QTest::newRow("len zero, etimes zero")
        << QByteArray("len=\"0\" etimes=\"0\"") << 15 << 1 << 60 << 3600 << 0.0;
    // Fewer than one play in a row would make the zone spin: one play.
    QTest::newRow("len and etimes negative")
        << QByteArray("len=\"-4\" etimes=\"-2\"") << 15 << 1 << 60 << 3600 << 0.0;
    QTest::newRow("etimes -1") << QByteArray("len=\"5\" etimes=\"-1\"") << 5 << 1 << 60 << 3600
                               << 0.0;
    QTest::newRow("len not a number") << QByteArray("len=\"ten\"") << 15 << 1 << 60 << 3600 << 0.0;
    QTest::newRow("given") << QByteArray("len=\"20\" etimes=\"3\" it=\"5\" rt=\"7\"") << 20 << 3
                           << 5 << 7 << 0.0;
    QTest::newRow("it and rt empty") << QByteArray("it=\"\" rt=\"\"") << 15 << 1 << 0 << 0 << 0.0;
    QTest::newRow("it and rt not numbers")
        << QByteArray("it=\"soon\" rt=\"later\"") << 15 << 1 << 0 << 0 << 0.0;
}

void TestXmlData::zoneNumbers()
{
    QFETCH(QByteArray, attributes);
    QFETCH(int, len);
    QFETCH(int, etimes);
    QFETCH(int, it);
    QFETCH(int, rt);
    QFETCH(double, volume);
    const ZONE_MTL m = oneMaterial(attributes);
    QCOMPARE(m.volume, volume);
    QCOMPARE(m.len, len);
    QCOMPARE(m.etimes, etimes);
    QCOMPARE(m.it, it);
    QCOMPARE(m.rt, rt);
}

void TestXmlData::zoneNameRule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");

    const QString digest = QStringLiteral("0123456789abcdef0123456789abcdef");
    QTest::newRow("digest file in plain folders")
        << QStringLiteral("data/mtl/") + digest + QStringLiteral(".mp4") << digest + ".mp4";
    QTest::newRow("dot exactly at 32") << digest + QStringLiteral(".jpg") << digest + ".jpg";
    QTest::newRow("dot at 31") << digest.mid(1) + QStringLiteral(".jpg")
                               << QStringLiteral("shown.mp4");
    QTest::newRow("dot in a folder") << QStringLiteral("data/v1.2/") + digest
            + QStringLiteral(".mp4") << QStringLiteral("shown.mp4");
    QTest::newRow("long name, first dot late")
        << QStringLiteral("data/mtl/some-very-long-file-name-without-dots.tar.gz")
        << QStringLiteral("very-long-file-name-without-dots.tar.gz");
    QTest::newRow("no dot") << QStringLiteral("data/mtl/0123456789abcdef0123456789abcdef")
                            << QStringLiteral("shown.mp4");
    QTest::newRow("no path") << QString() << QStringLiteral("shown.mp4");
}

void TestXmlData::zoneNameRule()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QByteArray attributes = "name=\"shown.mp4\" type=\"video\"";
    if (!path.isEmpty())
        attributes += " path=\"" + path.toUtf8() + "\"";
    QCOMPARE(oneMaterial(attributes).name, name);
}

void TestXmlData::zoneChannels_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("children");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("cn");

    const QByteArray two = "<U address=\"rtsp://one\"/><U address=\"rtsp://two\"/>";
    QTest::newRow("rtsp, none default") << QByteArray("rtsp") << two << QString() << QStringList();
    QTest::newRow("rtsp, second default")
        << QByteArray("rtsp")
        << QByteArray("<U address=\"rtsp://one\" isDefaultChannel=\"0\"/>"
                      "<U address=\"rtsp://two\" isDefaultChannel=\"1\"/>")
        << QStringLiteral("rtsp://two") << QStringList();
    QTest::newRow("last default wins")
        << QByteArray("rtsp")
        << QByteArray("<U address=\"a\" isDefaultChannel=\"1\"/><U address=\"b\" "
                      "isDefaultChannel=\"1\"/><U address=\"c\" isDefaultChannel=\"yes\"/>")
        << QStringLiteral("b") << QStringList();
    QTest::newRow("weather channel and items")
        << QByteArray("weather")
        << QByteArray("<item cn=\"北京\"/><U address=\"city:101010100\" isDefaultChannel=\"1\"/>"
                      "<x cn=\"skipped\"/><item cn=\"上海\"/><item/>")
        << QStringLiteral("city:101010100")
        << QStringList {QStringLiteral("北京"), QStringLiteral("上海"), QString()};
    QTest::newRow("video ignores channels")
        << QByteArray("video")
        << QByteArray("<U address=\"x\" isDefaultChannel=\"1\"/><item cn=\"y\"/>") << QString()
        << QStringList();
    QTest::newRow("address attribute of P not read")
        << QByteArray("rtsp\" address=\"rtsp://attr") << QByteArray() << QString() << QStringList();
}

void TestXmlData::zoneChannels()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, children);
    QFETCH(QString, address);
    QFETCH(QStringList, cn);
    const ZONE_MTL m = oneMaterial("name=\"m\" type=\"" + type + "\"", children);
    QCOMPARE(m.address, address);
    QCOMPARE(QStringList(m.cn), cn);
}

void TestXmlData::zoneKinds_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<ContentXml::MtlKind>("kind");
    using K = ContentXml::MtlKind;
    QTest::newRow("pic") << QByteArray("pic") << K::Picture;
    QTest::newRow("video") << QByteArray("video") << K::Video;
    QTest::newRow("audio") << QByteArray("audio") << K::Audio;
    QTest::newRow("rtsp") << QByteArray("rtsp") << K::Stream;
    QTest::newRow("text") << QByteArray("text") << K::Text;
    QTest::newRow("font plays as text") << QByteArray("font") << K::Text;
    QTest::newRow("clock") << QByteArray("clock") << K::Clock;
    QTest::newRow("weather") << QByteArray("weather") << K::Weather;
    QTest::newRow("web") << QByteArray("web") << K::Web;
    QTest::newRow("ie plays as web") << QByteArray("ie") << K::Web;
    QTest::newRow("pdf") << QByteArray("pdf") << K::Pdf;
    QTest::newRow("compared exactly") << QByteArray("Pic") << K::Unknown;
    QTest::newRow("other") << QByteArray("hologram") << K::Unknown;
    QTest::newRow("empty") << QByteArray() << K::Unknown;
}

void TestXmlData::zoneKinds()
{
    QFETCH(QByteArray, type);
    QFETCH(ContentXml::MtlKind, kind);
    const ZONE_MTL m = oneMaterial("name=\"m\" type=\"" + type + "\"");
    QCOMPARE(m.kind, kind);
    QCOMPARE(m.type, QString::fromUtf8(type)); // kept for the play log
}

void TestXmlData::zoneWeatherColourAndOrder()
{
    const QString path = write(QStringLiteral("zone/w.z"),
        "<PL name=\"Top\">"
        "<P name=\"w\" type=\"weather\" color=\"#111111\" fc=\"#222222\" l=\"2\" st=\"3\"/>"
        "<Note name=\"skipped\"/>"
        "<P name=\"t\" type=\"text\" color=\"#333333\" fc=\"#444444\" caption=\"hello\" "
        "font=\"SimHei\" fsize=\"24\" bgcolor=\"#000000\" udl=\"1\" bold=\"1\" italic=\"1\" "
        "speed=\"5\" movemode=\"2\" ttype=\"3\" ttimes=\"4\" url=\"http://x\" "
        "refreshInterval=\"30\" volume=\"0.5\" timeZoneID=\"Asia/Shanghai\" "
        "datefotmat=\"yyyy\" customerFormat=\"HH:mm\" zoomstep=\"1.5\" IdleTime=\"9\"/>"
        "<p name=\"lower\"/>"
        "<P name=\"last\" type=\"weather\" color=\"#555555\"/>"
        "</PL>");
    ZONE_CTRL zone;
    xml_zoneFileContent(path, zone);
    QCOMPARE(zone.name, QStringLiteral("Top"));
    QCOMPARE(zone.mtls.size(), 3);
    QCOMPARE(zone.mtls.at(0).name, QStringLiteral("w"));
    QCOMPARE(zone.mtls.at(0).color, QStringLiteral("#222222"));
    QCOMPARE(zone.mtls.at(0).l, 2);
    QCOMPARE(zone.mtls.at(0).st, 3);

    const ZONE_MTL t = zone.mtls.at(1);
    QCOMPARE(t.name, QStringLiteral("t"));
    QCOMPARE(t.color, QStringLiteral("#333333")); // "fc" only for weather
    QCOMPARE(t.type, QStringLiteral("text"));
    QCOMPARE(t.caption, QStringLiteral("hello"));
    QCOMPARE(t.font, QStringLiteral("SimHei"));
    QCOMPARE(t.fsize, 24);
    QCOMPARE(t.bgcolor, QStringLiteral("#000000"));
    QCOMPARE(t.udl + t.bold + t.italic, 3);
    QCOMPARE(t.speed, 5);
    QCOMPARE(t.movemode, 2);
    QCOMPARE(t.ttype, 3);
    QCOMPARE(t.ttimes, 4);
    QCOMPARE(t.url, QStringLiteral("http://x"));
    QCOMPARE(t.refreshInterval, 30);
    QCOMPARE(t.volume, 0.5);
    QCOMPARE(t.timeZoneID, QStringLiteral("Asia/Shanghai"));
    QCOMPARE(t.datefotmat, QStringLiteral("yyyy"));
    QCOMPARE(t.customerFormat, QStringLiteral("HH:mm"));
    QCOMPARE(t.zoomstep, 1.5);
    QCOMPARE(t.IdleTime, 9);

    // A weather material without "fc" has no colour, whatever "color" says.
    QCOMPARE(zone.mtls.at(2).name, QStringLiteral("last"));
    QVERIFY(zone.mtls.at(2).color.isEmpty());
}

void TestXmlData::zoneKeepsChineseUnderGbkDeclaration()
{
    // The service stores zone files as UTF-8 but keeps the GBK declaration.
    const QString caption = QStringLiteral("欢迎光临，今日特价");
    const QString path = write(QStringLiteral("zone/cn.z"),
        "<?xml version=\"1.0\" encoding=\"GBK\"?>\n<PL name=\"区域一\"><P name=\"t\" "
        "type=\"text\" caption=\""
            + caption.toUtf8() + "\" font=\"宋体\"/></PL>");
    ZONE_CTRL zone;
    xml_zoneFileContent(path, zone);
    QCOMPARE(zone.name, QStringLiteral("区域一"));
    QCOMPARE(zone.mtls.size(), 1);
    QCOMPARE(zone.mtls.at(0).caption, caption);
    QCOMPARE(zone.mtls.at(0).font, QStringLiteral("宋体"));
}

void TestXmlData::declaredEncodingHonoured_data()
{
    QTest::addColumn<QByteArray>("declaration");
    QTest::addColumn<QByteArray>("codec");
    QTest::newRow("GBK") << QByteArray("<?xml version=\"1.0\" encoding=\"GBK\"?>\n")
                         << QByteArray("GBK");
    QTest::newRow("gb2312") << QByteArray("<?xml version='1.0' encoding='gb2312'?>")
                            << QByteArray("GB2312");
    QTest::newRow("UTF-8") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")
                           << QByteArray("UTF-8");
    QTest::newRow("no declaration") << QByteArray() << QByteArray("UTF-8");
}

void TestXmlData::declaredEncodingHonoured()
{
    QFETCH(QByteArray, declaration);
    QFETCH(QByteArray, codec);
    // Templates, lists and playbills are stored as the server sent them.
    QTextCodec *textCodec = QTextCodec::codecForName(codec);
    QVERIFY(textCodec);
    const auto encoded
        = [&](const QString &xml) { return declaration + textCodec->fromUnicode(xml); };

    TP_CONTENT content;
    xml_tpFileContent(write(QStringLiteral("mtl/t.xml"),
                          encoded(QStringLiteral("<Template Width=\"1920\" Height=\"1080\"><Areas>"
                                                 "<Area Title=\"区域1\" Width=\"960\"/>"
                                                 "<Area Title=\"滚动字幕\" Width=\"960\"/>"
                                                 "</Areas></Template>"))),
        content);
    QCOMPARE(content.areas.size(), 2);
    QCOMPARE(content.areas.at(0).Title, QStringLiteral("区域1"));
    QCOMPARE(content.areas.at(1).Title, QStringLiteral("滚动字幕"));

    TP_LIST list;
    xml_tpList(write(QStringLiteral("tpl/l.l"),
                   encoded(QStringLiteral("<TL><T name=\"模板.xml\" len=\"10\"/></TL>"))),
        list);
    QCOMPARE(list.ctrls.size(), 1);
    QCOMPARE(list.ctrls.at(0).name, QStringLiteral("模板.xml"));

    DAY_PLAY play;
    xml_dayPlay(
        write(QStringLiteral("day-play.xml"),
            encoded(QStringLiteral("<Day><TPL p=\"节目.l\"><Z p=\"区域.z\"/></TPL></Day>"))),
        play);
    QCOMPARE(play.tpl.p, QStringLiteral("节目.l"));
    QCOMPARE(play.tpl.zones.at(0).p, QStringLiteral("区域.z"));
}

void TestXmlData::zoneFailures_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("wrong root") << QByteArray("<pl name=\"z\"><P name=\"a\"/></pl>");
    QTest::newRow("malformed") << QByteArray("<PL name=\"z\"><P name=\"a\"></PL>");
    QTest::newRow("empty file") << QByteArray(" ");
}

void TestXmlData::zoneFailures()
{
    QFETCH(QByteArray, xml);
    ZONE_CTRL zone;
    xml_zoneFileContent(write(QStringLiteral("zone/bad.z"), xml), zone);
    QVERIFY(zone.name.isEmpty());
    QVERIFY(zone.mtls.isEmpty());
}

void TestXmlData::metaTypesTravelInVariants()
{
    registerMetaTypes();
    registerMetaTypes(); // harmless twice
    QVERIFY(QMetaType::type("ContentXml::TP_CONTENT") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("ContentXml::TP_ZONE_CTRL") != QMetaType::UnknownType);
    QCOMPARE(QMetaType::type("ContentXml::TP_CONTENT"), qMetaTypeId<TP_CONTENT>());

    TP_ZONE_CTRL zones;
    zones.kind = 1;
    zones.zones.append(ZONE_CTRL {QStringLiteral("z"), {}});
    const QVariant v = QVariant::fromValue(zones);
    QCOMPARE(QString::fromLatin1(v.typeName()), QStringLiteral("ContentXml::TP_ZONE_CTRL"));
    QCOMPARE(v.value<TP_ZONE_CTRL>().kind, quint8(1));
    QCOMPARE(v.value<TP_ZONE_CTRL>().zones.at(0).name, QStringLiteral("z"));
}

QTEST_GUILESS_MAIN(TestXmlData)
#include "test_xmldata.moc"
