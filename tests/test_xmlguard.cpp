#include "clocktext.h"
#include "content/contentstore.h"
#include "content/contentwalk.h"
#include "dailylog.h"
#include "formats/xmldata.h"
#include "power/powerschedule.h"
#include "protocol/serverprotocol.h"
#include "requests/serverconfig.h"
#include "settings/servicesettings.h"
#include "simwire.h"
#include "testenv.h"
#include "weather/weatherdata.h"
#include "xmlguard.h"

#include <QDomDocument>
#include <QtTest>

#include <memory>

using XmlGuard::Encoding;
Q_DECLARE_METATYPE(XmlGuard::Encoding)

// The guarded XML reader of both programs: its limits, stored files it cannot
// read (set aside once, never read again), server documents it keeps from
// being stored, and hostile documents replayed through every reader.
class TestXmlGuard : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_env.reset(); }

    void limits_data();
    void limits();
    void contentSizes_data();
    void contentSizes();
    void badStoredFiles_data();
    void badStoredFiles();
    void badServerDocumentsAreNotStored();
    void corpusThroughEveryReader_data();
    void corpusThroughEveryReader();

private:
    QString data(const QString &relative) const { return m_env->dataRoot() + "/data/" + relative; }
    // Runs the reader of a stored file (power schedule at start, or the
    // player's parser for its folder); the number of entries it took.
    int readStored(const QString &relative);
    int logCount(const QString &text) const;

    std::unique_ptr<TestEnv> m_env;
};

namespace {
QByteArray nested(int depth, const QByteArray &inner = QByteArray())
{
    return QByteArray("<a>").repeated(depth) + inner + QByteArray("</a>").repeated(depth);
}

QByteArray deep()
{
    // The shape that took the service down at every start: 40,000 levels.
    return "<R>" + QByteArray("<A s=\"1\">").repeated(40000);
}
} // namespace

void TestXmlGuard::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    QDir().mkpath(m_env->dataRoot() + "/logs");
    QDir().mkpath(data("tpl"));
    QDir().mkpath(data("zone"));
}

int TestXmlGuard::readStored(const QString &relative)
{
    const QString path = data(relative);
    if (relative == "poweronoff.xml") {
        ServiceSettings settings;
        PowerSchedule power(settings);
        power.readPowerOnOff();
        return power.powerList().size();
    }
    using namespace ContentXml;
    if (relative == "day-play.xml") {
        DAY_PLAY play;
        xml_dayPlay(path, play);
        return play.tpl.p.isEmpty() ? 0 : 1;
    }
    if (relative.startsWith("tpl/")) {
        TP_LIST list;
        xml_tpList(path, list);
        return list.ctrls.size();
    }
    if (relative.startsWith("mtl/")) {
        TP_CONTENT content;
        xml_tpFileContent(path, content);
        return content.areas.size();
    }
    ZONE_CTRL zone;
    xml_zoneFileContent(path, zone);
    return zone.mtls.size();
}

int TestXmlGuard::logCount(const QString &text) const
{
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    return log.split('\n').filter(text).size();
}

void TestXmlGuard::limits_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QString>("refusal"); // part of the reason; empty: accepted

    const auto declared = Encoding::Declared;
    QTest::newRow("depth at the limit") << nested(XmlLimits::MAX_DEPTH) << declared << "";
    QTest::newRow("one level deeper") << nested(XmlLimits::MAX_DEPTH + 1) << declared << "deeper";
    QTest::newRow("40,000 levels, never closed") << deep() << declared << "deeper";
    QTest::newRow("deep as UTF-8 text under another declaration")
        << "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + nested(100) << Encoding::Utf8
        << "deeper";
    QTest::newRow("deep under a GBK declaration")
        << "<?xml version=\"1.0\" encoding=\"GBK\"?>" + nested(100) << declared << "deeper";
    QTest::newRow("elements at the limit")
        << "<a>" + QByteArray("<b/>").repeated(XmlLimits::MAX_ELEMENTS - 1) + "</a>" << declared
        << "";
    QTest::newRow("one element more")
        << "<a>" + QByteArray("<b/>").repeated(XmlLimits::MAX_ELEMENTS) + "</a>" << declared
        << "more than";
    // Four to an element, so the elements stay far inside their own limit.
    const QByteArray attributes = QByteArray("<b w=\"1\" x=\"2\" y=\"3\" z=\"4\"/>")
                                      .repeated(XmlLimits::MAX_ATTRIBUTES / 4);
    QTest::newRow("attributes at the limit") << "<a>" + attributes + "</a>" << declared << "";
    QTest::newRow("one attribute more")
        << "<a z=\"0\">" + attributes + "</a>" << declared << "attributes";
    QTest::newRow("one attribute more, tolerated content")
        << "<a z=\"0\">\x01" + attributes + "</a>" << declared << "attributes";
    QTest::newRow("larger than the limit")
        << "<a>" + QByteArray(int(XmlLimits::MAX_BYTES), ' ') + "</a>" << declared << "bytes";
    QTest::newRow("document type with entities")
        << QByteArray("<!DOCTYPE a [<!ENTITY e \"<b/>\">]><a>&e;</a>") << declared
        << "document type";
    QTest::newRow("not well-formed") << QByteArray("<a><b></a>") << declared << "not well-formed";
    // What the DOM parser has always taken (undeclared entities, control
    // characters) stops the stream reader: the tolerant count takes over and
    // still counts exactly, past quotes, comments and CDATA.
    const QByteArray tolerated = "&nbsp;\x01<c t=\"x>\" u='/>'/><!-- <a> --><![CDATA[<a>]]>";
    QTest::newRow("tolerated content at the depth limit")
        << nested(XmlLimits::MAX_DEPTH - 1, tolerated) << declared << "";
    QTest::newRow("tolerated content one level deeper")
        << nested(XmlLimits::MAX_DEPTH, tolerated) << declared << "deeper";
    QTest::newRow("tolerated content, closing markup in quotes")
        << "<a>\x01" + QByteArray("<b t=\"/>\">").repeated(100) << declared << "deeper";
}

void TestXmlGuard::limits()
{
    QFETCH(QByteArray, xml);
    QFETCH(Encoding, encoding);
    QFETCH(QString, refusal);
    QDomDocument doc;
    QString why;
    QCOMPARE(XmlGuard::parse(xml, encoding, doc, &why), refusal.isEmpty());
    QVERIFY2(why.contains(refusal), qPrintable(why));
    if (refusal.isEmpty())
        QVERIFY(!doc.documentElement().isNull());
    else if (!refusal.startsWith("not"))
        QVERIFY(!XmlGuard::checkLimits(xml, encoding).isEmpty());
}

void TestXmlGuard::contentSizes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("taken");

    QByteArray day = "<Day>";
    for (int i = 0; i < 2000; ++i) {
        day += QString(R"(<TPL p="l%1.l">)").arg(i).toUtf8();
        for (int z = 0; z < 10; ++z)
            day += QString(R"(<Z p="z%1-%2.z" l="30"/>)").arg(i).arg(z).toUtf8();
        day += "</TPL>";
    }
    QTest::newRow("day playbill of 2,000 entries") << "day-play.xml" << day + "</Day>" << 1;

    const auto zone = [](int count) {
        QByteArray xml = "<PL name=\"z\">";
        for (int i = 0; i < count; ++i)
            xml += QString(
                R"(<P name="m%1.png" path="data/mtl" type="weather">)"
                R"(<U address="a" isDefaultChannel="1"/><item cn="A"/><item cn="B"/></P>)")
                       .arg(i)
                       .toUtf8();
        return xml + "</PL>";
    };
    QTest::newRow("zone of 1,000 materials") << "zone/big.z" << zone(1000) << 1000;
    QTest::newRow("zone past the cap") << "zone/huge.z" << zone(XmlLimits::MAX_ZONE_MATERIALS + 1)
                                       << XmlLimits::MAX_ZONE_MATERIALS;
    QTest::newRow("template past the cap") << "mtl/t.xml"
                                           << "<Template><Areas>"
            + QByteArray("<Area Title=\"a\"/>").repeated(XmlLimits::MAX_TEMPLATE_AREAS + 1)
            + "</Areas></Template>" << XmlLimits::MAX_TEMPLATE_AREAS;
    QTest::newRow("power schedule past the cap") << "poweronoff.xml"
                                                 << "<R>"
            + QByteArray("<A s=\"0\" r=\"1\" t=\"07:00:00\"/>")
                  .repeated(XmlLimits::MAX_POWER_ENTRIES + 1)
            + "</R>" << XmlLimits::MAX_POWER_ENTRIES;
}

void TestXmlGuard::contentSizes()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, xml);
    QFETCH(int, taken);
    QVERIFY(writeFile(data(file), xml));
    QCOMPARE(readStored(file), taken);
    QVERIFY(QFile::exists(data(file)));
    if (file == "day-play.xml") { // the service takes every list and zone id
        QList<QByteArray> ids;
        ContentStore::getDayScheduleTpl(xml, ids, ids);
        QCOMPARE(ids.size(), 2000 + 20000);
    }
}

void TestXmlGuard::badStoredFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("xml"); // empty: no file
    QTest::addColumn<bool>("setAside");
    QTest::addColumn<bool>("logged");

    QTest::newRow("deep power schedule at start") << "poweronoff.xml" << deep() << true << true;
    QTest::newRow("malformed playbill")
        << "day-play.xml" << QByteArray("<Day><TPL p=\"a.l\">") << true << true;
    QTest::newRow("deep template list") << "tpl/a.l"
                                        << "<TL>" + nested(100) << true << true;
    QTest::newRow("deep zone") << "zone/a.z"
                               << "<PL name=\"z\">" + nested(5000) << true << true;
    // Templates belong to the service's downloads: passed over, not moved.
    QTest::newRow("deep template") << "mtl/t.xml"
                                   << "<Template>" + nested(100) << false << true;
    QTest::newRow("zone with another root") << "zone/b.z" << QByteArray("<XX/>") << false << false;
    QTest::newRow("missing zone") << "zone/c.z" << QByteArray() << false << false;
}

void TestXmlGuard::badStoredFiles()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, xml);
    QFETCH(bool, setAside);
    QFETCH(bool, logged);
    const QString path = data(file);
    if (!xml.isEmpty())
        QVERIFY(writeFile(path, xml));
    QVERIFY(writeFile(path + ".bad", "an older copy"));

    QCOMPARE(readStored(file), 0);
    QCOMPARE(readStored(file), 0); // the next pass of a loop, or the next start
    QCOMPARE(QFile::exists(path), !setAside && !xml.isEmpty());
    QCOMPARE(readFile(path + ".bad"), setAside ? xml : QByteArray("an older copy"));
    QCOMPARE(logCount(path), logged ? 1 : 0);

    // A good copy in its place is read again.
    const QByteArray good = file == "poweronoff.xml" ? R"(<R><A s="0" r="1" t="07:00:00"/></R>)"
        : file == "day-play.xml"                     ? R"(<Day><TPL p="a.l"/></Day>)"
        : file.startsWith("tpl/")                    ? R"(<TL><T name="t.xml"/></TL>)"
        : file.startsWith("mtl/")                    ? R"(<Template><Areas><A/></Areas></Template>)"
                                                     : R"(<PL name="z"><P name="m.png"/></PL>)";
    QVERIFY(writeFile(path, good));
    QCOMPARE(readStored(file), 1);
}

void TestXmlGuard::badServerDocumentsAreNotStored()
{
    const auto frame = [](quint16 command, const QByteArray &body) {
        return SimWire::encodeFrame(1, ServerProtocol::PROTO_CONTENT, command, {body});
    };
    ContentWalk walk;
    QStringList recorded;
    walk.setFileRecorder([&](const QString &name) { recorded << name; });

    // A schedule that cannot be read ends the walk; the playbill in place stays.
    ContentWalk::Move move
        = walk.onSchedule(frame(ServerProtocol::CMD_DAY_SCHEDULE, "<Day>" + deep()));
    QCOMPARE(move.step, int(ContentWalk::WAITING));
    QVERIFY(move.contentReady);
    QVERIFY(!QFile::exists(data("day-play.xml.tmp")));

    // A list or zone that cannot be read is passed over.
    move = walk.onSchedule(frame(ServerProtocol::CMD_DAY_SCHEDULE,
        R"(<Day><TPL p="a.l"><Z p="y.z"/><Z p="z.z"/></TPL><TPL p="b.l"/></Day>)"));
    QCOMPARE(move.step, int(ContentWalk::REQ_TPL));
    move = walk.onTemplateList(frame(ServerProtocol::CMD_TEMPLATE_LIST, "<TL>" + nested(100)));
    QCOMPARE(move.step, int(ContentWalk::REQ_TPL));
    move = walk.onTemplateList(frame(ServerProtocol::CMD_TEMPLATE_LIST, "<TL/>"));
    QCOMPARE(move.step, int(ContentWalk::REQ_ZONE));
    move = walk.onZone(frame(ServerProtocol::CMD_ZONE, "<PL>&nbsp;\x01" + nested(100)));
    QCOMPARE(move.step, int(ContentWalk::REQ_ZONE));
    move = walk.onZone(frame(ServerProtocol::CMD_ZONE, "<PL><P"));
    QCOMPARE(move.step, int(ContentWalk::REQ_FILE));
    QVERIFY(move.walkDone);
    QCOMPARE(recorded, QStringList {"b.l"});
    QVERIFY(!QFile::exists(data("tpl/a.l")));
    QVERIFY(QFile::exists(data("tpl/b.l")));
    QVERIFY(QDir(data("zone")).isEmpty());
    QCOMPARE(logCount("not stored"), 4);

    // A power schedule, with 276/280 or 278/2, is stored only when it can be used.
    ServiceSettings settings;
    PowerSchedule power(settings);
    const QByteArray good = R"(<R><A s="0" r="1" t="07:00:00"/></R>)";
    QVERIFY(power.writePowerOnOff(good));
    for (const QByteArray &bad : {deep(), QByteArray("<R"), QByteArray("<S/>")}) {
        QVERIFY(!power.writePowerOnOff(bad));
        QVERIFY(!PowerActions::scheduleShutdown(
            SimWire::encodeFrame(1, 278, 2, {"a", "b", "c", "d", "e", bad + '\0'}),
            power.filePath()));
    }
    QCOMPARE(readFile(power.filePath()), good);
    QCOMPARE(power.powerList().size(), 1);

    // A configuration that cannot be read changes nothing.
    ServerConfig config;
    config.serverIp = "10.0.0.1";
    readServerConfig("<config><ftp><server ip=\"10.6.6.6\">" + nested(100), config);
    QCOMPARE(config.serverIp, QString("10.0.0.1"));
}

void TestXmlGuard::corpusThroughEveryReader_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(LUMA_XML_CORPUS));
    const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
    for (const QString &name : files)
        QTest::newRow(qPrintable(name)) << corpus.filePath(name);
    if (files.isEmpty())
        QTest::newRow("no corpus") << QString();
}

void TestXmlGuard::corpusThroughEveryReader()
{
    // Whatever a document holds, no reader may crash on it.
    QFETCH(QString, path);
    QVERIFY(!path.isEmpty());
    const QByteArray xml = readFile(path);

    for (const Encoding encoding : {Encoding::Declared, Encoding::Utf8}) {
        QDomDocument doc;
        XmlGuard::parse(xml, encoding, doc);
    }
    ServerConfig config;
    readServerConfig(xml, config);
    QList<QByteArray> ids;
    ContentStore::getDayScheduleTpl(xml, ids, ids);
    QList<QString> files;
    ContentStore::getTpFile(xml, files);
    ContentStore::getZoneMaterialFile(xml, files);
    ServiceSettings settings;
    PowerSchedule power(settings);
    power.writePowerOnOff(xml);
    ContentXml::WEATHER_RESP weather;
    ContentXml::xml_weatherResponse(xml, weather);

    for (const char *file :
        {"poweronoff.xml", "day-play.xml", "tpl/c.l", "mtl/c.xml", "zone/c.z"}) {
        QVERIFY(writeFile(data(file), xml));
        readStored(file);
    }
}

QTEST_GUILESS_MAIN(TestXmlGuard)
#include "test_xmlguard.moc"
