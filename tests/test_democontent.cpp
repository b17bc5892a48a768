#include "democontent.h"
#include "formats/xmldata.h"
#include "materials/pdfutils.h"
#include "signageserver.h"
#include "testenv.h"

#include <QDate>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace ContentXml;

// The demo's content as the player reads it: consistent for the simulator,
// every kind of zone present, each template's areas matched by zones, the PDF
// readable and the web page a downloaded local file.
class TestDemoContent : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void simulatorFindsNoProblem_data();
    void simulatorFindsNoProblem();
    void templatesRotateAndTheInsertHasItsWindow();
    void everyKindOfZoneIsShown_data();
    void everyKindOfZoneIsShown();
    void everyAreaHasItsZone();
    void documentAndPageAreReadable();
    void videoFramesMove();

private:
    // The content as the terminal stores it: zones, lists and files side by
    // side as the player looks them up, the insert window filled in.
    QString stored(const QString &content);
    QList<ZONE_CTRL> zonesOf(const QString &root) const;

    QTemporaryDir m_dir;
    QString m_withVideo;
    QString m_withoutVideo;
};

void TestDemoContent::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_withVideo = m_dir.path() + "/with-video";
    m_withoutVideo = m_dir.path() + "/without-video";
    const QString video = m_dir.path() + "/clip.webm";
    QVERIFY(writeFile(video, "not really a video, only its bytes travel"));
    QString error;
    QVERIFY2(DemoContent::writeContent(m_withVideo, video, &error), qPrintable(error));
    QVERIFY2(DemoContent::writeContent(m_withoutVideo, QString(), &error), qPrintable(error));
}

QString TestDemoContent::stored(const QString &content)
{
    const QString root = content + "-stored";
    if (QDir(root).exists())
        return root;
    QDir().mkpath(root + "/data/mtl");
    QDir().mkpath(root + "/data/tpl");
    QDir().mkpath(root + "/data/zone");
    QByteArray day = readFile(content + "/day-play.xml");
    day.replace("@TODAY@", QDate::currentDate().toString("yyyy-MM-dd").toLatin1());
    day.replace("@INSERT_BEGIN@", "0").replace("@INSERT_END@", "86399");
    writeFile(root + "/data/day-play.xml", day);
    for (const QString &name : QDir(content + "/tpl").entryList(QDir::Files))
        QFile::copy(content + "/tpl/" + name, root + "/data/tpl/" + name);
    for (const QString &name : QDir(content + "/zone").entryList(QDir::Files))
        writeFile(root + "/data/zone/" + name,
            readFile(content + "/zone/" + name).replace("@DATA_ROOT@", root.toUtf8()));
    for (const QString &name : QDir(content + "/files").entryList(QDir::Files))
        QFile::copy(content + "/files/" + name, root + "/data/mtl/" + name);
    return root;
}

QList<ZONE_CTRL> TestDemoContent::zonesOf(const QString &root) const
{
    QList<ZONE_CTRL> zones;
    for (const QString &name : QDir(root + "/data/zone").entryList(QDir::Files)) {
        ZONE_CTRL zone;
        xml_zoneFileContent(root + "/data/zone/" + name, zone);
        zones << zone;
    }
    return zones;
}

void TestDemoContent::simulatorFindsNoProblem_data()
{
    QTest::addColumn<bool>("video");
    QTest::newRow("with video") << true;
    QTest::newRow("without video") << false;
}

void TestDemoContent::simulatorFindsNoProblem()
{
    QFETCH(bool, video);
    SignageServer sim;
    sim.setContentDir(video ? m_withVideo : m_withoutVideo);
    // Every list, zone and file named is there, each file under its MD5.
    QCOMPARE(sim.checkContent(), QStringList());
}

void TestDemoContent::templatesRotateAndTheInsertHasItsWindow()
{
    const QString root = stored(m_withVideo);
    DAY_PLAY day;
    xml_dayPlay(root + "/data/day-play.xml", day);
    TP_LIST rotation;
    xml_tpList(root + "/data/tpl/" + day.tpl.p, rotation);
    QCOMPARE(rotation.ctrls.size(), 2);
    QVERIFY(rotation.ctrls.at(0).name != rotation.ctrls.at(1).name);
    QVERIFY(rotation.ctrls.at(0).len > 0 && rotation.ctrls.at(1).len > 0);

    // The insert programme: its own list, and a window the demo fills in.
    QVERIFY(!day.itpl.p.isEmpty());
    QCOMPARE(day.itpl.e, 86399);
    TP_LIST insert;
    xml_tpList(root + "/data/tpl/" + day.itpl.p, insert);
    QCOMPARE(insert.ctrls.size(), 1);
    const QByteArray raw = readFile(m_withVideo + "/day-play.xml");
    QVERIFY(raw.contains("b=\"@INSERT_BEGIN@\" e=\"@INSERT_END@\""));
}

void TestDemoContent::everyKindOfZoneIsShown_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("picture") << int(MtlKind::Picture);
    QTest::newRow("video") << int(MtlKind::Video);
    QTest::newRow("text") << int(MtlKind::Text);
    QTest::newRow("clock") << int(MtlKind::Clock);
    QTest::newRow("weather") << int(MtlKind::Weather);
    QTest::newRow("web") << int(MtlKind::Web);
    QTest::newRow("pdf") << int(MtlKind::Pdf);
}

void TestDemoContent::everyKindOfZoneIsShown()
{
    QFETCH(int, kind);
    int count = 0;
    QSet<int> transitions;
    for (const ZONE_CTRL &zone : zonesOf(stored(m_withVideo))) {
        for (const ZONE_MTL &mtl : zone.mtls) {
            if (int(mtl.kind) != kind)
                continue;
            ++count;
            if (mtl.kind == MtlKind::Picture)
                transitions.insert(mtl.ttype);
            if (mtl.kind == MtlKind::Weather)
                QVERIFY(!mtl.cn.isEmpty());
            if (mtl.kind == MtlKind::Text)
                QVERIFY(!mtl.caption.isEmpty());
        }
    }
    QVERIFY(count > 0);
    if (kind == int(MtlKind::Picture)) {
        // Each picture comes in with an effect of its own.
        QVERIFY(!transitions.contains(0));
        QVERIFY(transitions.size() >= 5);
    }
}

void TestDemoContent::everyAreaHasItsZone()
{
    for (const QString &content : {m_withVideo, m_withoutVideo}) {
        const QString root = stored(content);
        DAY_PLAY day;
        xml_dayPlay(root + "/data/day-play.xml", day);
        QSet<QString> zoneNames;
        for (const ZONE_CTRL &zone : zonesOf(root)) {
            QVERIFY(!zone.mtls.isEmpty());
            zoneNames.insert(zone.name);
        }
        QSet<QString> areaNames;
        for (const QString &list : {day.tpl.p, day.itpl.p}) {
            TP_LIST templates;
            xml_tpList(root + "/data/tpl/" + list, templates);
            for (const TP_CTRL &ctrl : templates.ctrls) {
                TP_CONTENT tpl;
                xml_tpFileContent(root + "/data/mtl/" + ctrl.name, tpl);
                QVERIFY(!tpl.areas.isEmpty());
                for (const TP_AREA &area : tpl.areas)
                    areaNames.insert(area.Title);
            }
        }
        // No area stays empty and no zone is sent for nothing.
        QCOMPARE(areaNames, zoneNames);
        QCOMPARE(areaNames.contains("video"), content == m_withVideo);
    }
}

void TestDemoContent::documentAndPageAreReadable()
{
    QString pdf;
    QString url;
    for (const ZONE_CTRL &zone : zonesOf(stored(m_withVideo))) {
        for (const ZONE_MTL &mtl : zone.mtls) {
            if (mtl.kind == MtlKind::Pdf)
                pdf = stored(m_withVideo) + "/data/mtl/" + mtl.name;
            if (mtl.kind == MtlKind::Web)
                url = mtl.url;
        }
    }
    PdfUtils document;
    QVERIFY(document.OpenPdf(pdf));
    QCOMPARE(document.getNumPages(), 2);
    // Drawn for the box it fills, whatever its resolution would make of it.
    const QImage drawn = document.getPdfImage(0, QSize(800, 600));
    QVERIFY(drawn.width() <= 801 && drawn.height() <= 601);
    QVERIFY(drawn.width() >= 798 || drawn.height() >= 598);

    // A page the service downloaded, opened where it keeps it.
    const QUrl page(url);
    QCOMPARE(page.scheme(), QString("file"));
    QVERIFY(page.toLocalFile().startsWith(stored(m_withVideo) + "/data/mtl/"));
    QVERIFY(readFile(page.toLocalFile()).contains("setInterval(tick, 1000)"));
}

void TestDemoContent::videoFramesMove()
{
    const QString dir = m_dir.path() + "/frames";
    QString error;
    QVERIFY2(DemoContent::writeVideoFrames(dir, 3, &error), qPrintable(error));
    QCOMPARE(QDir(dir).entryList(QDir::Files),
        QStringList({"frame000.png", "frame001.png", "frame002.png"}));
    const QImage first(dir + "/frame000.png");
    const QImage last(dir + "/frame002.png");
    QCOMPARE(first.size(), QSize(640, 360));
    QVERIFY(first != last);
}

QTEST_MAIN(TestDemoContent)
#include "test_democontent.moc"
