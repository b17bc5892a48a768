#include "formats/contentrules.h"
#include "formats/zonegeometry.h"
#include "materials/pagerefresh.h"
#include "zonemtl.h"
#include "zones/zonecycle.h"

#include <QtTest>

#include <tuple>

using ContentXml::ZONE_CTRL;
using ContentXml::ZONE_MTL;

// What a zone plays when, which plays it records, and where zones go.
class TestZoneCycle : public QObject
{
    Q_OBJECT
private slots:
    void playsForLenTimesEtimesAndRecordsOnce();
    void valuesBelowOneStillLast_data();
    void valuesBelowOneStillLast();
    void swipesSkipWithoutRecording();
    void newContentRestartsWithoutRecording();
    void stoppedEarly_data();
    void stoppedEarly();
    void shortMaterialStoppedEarly();
    void playNames();

    void areaRects_data();
    void areaRects();
    void stackingKeys();
    void pdfFit();
    void swipes_data();
    void swipes();
    void webAddress_data();
    void webAddress();
    void contentAddresses_data();
    void contentAddresses();
    void pageReloadPace();
    void failedPageRetried_data();
    void failedPageRetried();
    void slowPageFinishes();
};

static ZONE_CTRL zone(const QList<ZONE_MTL> &mtls)
{
    ZONE_CTRL z;
    z.name = "main";
    z.mtls = mtls;
    return z;
}

void TestZoneCycle::playsForLenTimesEtimesAndRecordsOnce()
{
    ZoneCycle cycle;
    cycle.setZoneCtrl(zone({mtl("a.png", 10, "pic", 3), mtl("b.png", 5)}), 2);
    const qint64 t0 = 1000000;
    QVERIFY(cycle.tick(t0)); // the first material starts at once
    QCOMPARE(cycle.current().name, QString("a.png"));
    QCOMPARE(cycle.lastAdvance(), ZoneCycle::Advance::First);
    QCOMPARE(cycle.endTime(), t0 + 30000);
    QVERIFY(!cycle.tick(t0 + 29999));
    QVERIFY(cycle.takeRecords().isEmpty());

    QVERIFY(cycle.tick(t0 + 30000));
    QCOMPARE(cycle.current().name, QString("b.png"));
    QCOMPARE(cycle.lastAdvance(), ZoneCycle::Advance::Next);
    auto records = cycle.takeRecords();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].mtl.name, QString("a.png"));
    QCOMPARE(records[0].times, 3);
    QCOMPARE(cycle.playType(), 2);

    // Endless: after the last, the first again.
    QVERIFY(cycle.tick(t0 + 35000));
    QCOMPARE(cycle.current().name, QString("a.png"));
    QCOMPARE(cycle.lastAdvance(), ZoneCycle::Advance::Wrapped);
    QCOMPARE(cycle.takeRecords()[0].times, 1);

    // A list of one replays it every slot and records each.
    cycle.setZoneCtrl(zone({mtl("only.png", 2)}), 0);
    cycle.tick(t0);
    cycle.tick(t0 + 2000);
    cycle.tick(t0 + 4000);
    QCOMPARE(cycle.lastAdvance(), ZoneCycle::Advance::Wrapped);
    QCOMPARE(cycle.takeRecords().size(), 2);
}

void TestZoneCycle::valuesBelowOneStillLast_data()
{
    QTest::addColumn<int>("len");
    QTest::addColumn<int>("etimes");
    QTest::addColumn<int>("slotMs");
    QTest::addColumn<int>("times");
    QTest::newRow("etimes -1") << 5 << -1 << 5000 << 1;
    QTest::newRow("etimes 0") << 5 << 0 << 5000 << 1;
    QTest::newRow("len -3") << -3 << 2 << 2000 << 2;
}

void TestZoneCycle::valuesBelowOneStillLast()
{
    QFETCH(int, len);
    QFETCH(int, etimes);
    QFETCH(int, slotMs);
    QFETCH(int, times);
    // A slot that ended before it began would restart the zone on every tick
    // and record negative plays.
    ZoneCycle cycle;
    cycle.setZoneCtrl(zone({mtl("a.png", len, "pic", etimes), mtl("b.png", 5)}), 0);
    const qint64 t0 = 1000000;
    QVERIFY(cycle.tick(t0));
    QCOMPARE(cycle.endTime(), t0 + slotMs);
    QVERIFY(!cycle.tick(t0 + 1));
    QVERIFY(cycle.tick(t0 + slotMs));
    const auto records = cycle.takeRecords();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].times, times);
    QVERIFY(records[0].mtl.len >= 1);
}

void TestZoneCycle::swipesSkipWithoutRecording()
{
    ZoneCycle cycle;
    cycle.setZoneCtrl(zone({mtl("a", 10), mtl("b", 10), mtl("c", 10)}), 0);
    cycle.tick(0 + 1);
    cycle.requestNavigation(1);
    QVERIFY(cycle.tick(2000));
    QCOMPARE(cycle.current().name, QString("b"));
    QCOMPARE(cycle.lastAdvance(), ZoneCycle::Advance::Navigated);
    QCOMPARE(cycle.navigationRequest(), 0);
    QCOMPARE(cycle.endTime(), 12000);
    cycle.requestNavigation(-1);
    cycle.tick(3000);
    cycle.requestNavigation(-1); // right swipe on the first goes to the last
    cycle.tick(4000);
    QCOMPARE(cycle.current().name, QString("c"));
    QVERIFY(cycle.takeRecords().isEmpty());
    // Nothing left half-recorded: stopping now counts only this material.
    QCOMPARE(cycle.finishEarly(4000 + 9000), 1);
}

void TestZoneCycle::newContentRestartsWithoutRecording()
{
    ZoneCycle cycle;
    cycle.setZoneCtrl(zone({mtl("a", 10), mtl("b", 10)}), 0);
    cycle.tick(1);
    cycle.tick(10001);
    cycle.takeRecords();
    cycle.setZoneCtrl(zone({mtl("x", 4), mtl("y", 4)}), 2);
    QVERIFY(cycle.tick(12000));
    QCOMPARE(cycle.current().name, QString("x"));
    QVERIFY(cycle.takeRecords().isEmpty());

    // Empty content plays nothing.
    cycle.setZoneCtrl(zone({}), 0);
    QVERIFY(cycle.isEmpty());
    QVERIFY(!cycle.tick(50000));
}

void TestZoneCycle::stoppedEarly_data()
{
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<int>("times");
    QTest::newRow("12.5 s of 5") << 12500 << 2;
    QTest::newRow("2.5 s of 5") << 2500 << 0;
    QTest::newRow("3.1 s of 5") << 3100 << 1;
}

void TestZoneCycle::shortMaterialStoppedEarly()
{
    // The grace counts a play nearly finished, never one that did not begin.
    ZoneCycle cycle;
    cycle.setZoneCtrl(zone({mtl("a.png", 1, "pic", 5)}), 0);
    cycle.tick(100000);
    QCOMPARE(cycle.finishEarly(100500), 1);
    cycle.tick(200000);
    QCOMPARE(cycle.finishEarly(202100), 3);
}

void TestZoneCycle::stoppedEarly()
{
    QFETCH(int, elapsedMs);
    QFETCH(int, times);
    ZoneCycle cycle;
    cycle.setZoneCtrl(zone({mtl("a.png", 5, "pic", 3)}), 0);
    cycle.tick(100000);
    QCOMPARE(cycle.finishEarly(100000 + elapsedMs), times);
    const auto records = cycle.takeRecords();
    QCOMPARE(records.size(), times > 0 ? 1 : 0);
    if (times > 0)
        QCOMPARE(records[0].times, times);
    // Recorded once only.
    QCOMPARE(cycle.finishEarly(200000), 0);
}

void TestZoneCycle::playNames()
{
    bool file = false;
    ZONE_MTL web = mtl("ignored", 5, "web");
    web.url = "http://example.org/page";
    QCOMPARE(ZoneCycle::playName(web, &file), QString("http://example.org/page"));
    QVERIFY(!file);
    QCOMPARE(ZoneCycle::playName(mtl("a.png", 5), &file), QString("a.png"));
    QVERIFY(file);
    QCOMPARE(ZoneCycle::playName(mtl("Special", 5, "clock"), &file), QString("clock"));
    QVERIFY(!file);
    QCOMPARE(ZoneCycle::playName(mtl("", 5, "weather"), &file), QString("weather"));
}

void TestZoneCycle::areaRects_data()
{
    QTest::addColumn<QSize>("design");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("same size") << QSize(1920, 1080) << QRect(100, 50, 200, 100)
                               << QRect(100, 50, 200, 100);
    QTest::newRow("half size") << QSize(960, 540) << QRect(100, 50, 200, 100)
                               << QRect(200, 100, 400, 200);
    // Portrait design: the width follows the vertical factor.
    QTest::newRow("portrait") << QSize(1080, 1920) << QRect(0, 0, 1080, 960)
                              << QRect(0, 0, 608, 540);
    QTest::newRow("portrait offset")
        << QSize(1080, 1920) << QRect(540, 960, 540, 960) << QRect(960, 540, 304, 540);
    QTest::newRow("no design size")
        << QSize(0, 0) << QRect(10, 20, 30, 40) << QRect(10, 20, 30, 40);
}

void TestZoneCycle::areaRects()
{
    QFETCH(QSize, design);
    QFETCH(QRect, area);
    QFETCH(QRect, expected);
    ContentXml::TP_AREA a;
    a.Left = area.x();
    a.Top = area.y();
    a.Width = area.width();
    a.Height = area.height();
    QCOMPARE(ZoneGeometry::areaRect(a, design, QSize(1920, 1080), 0), expected);
    QCOMPARE(
        ZoneGeometry::areaRect(a, design, QSize(1920, 1080), 1920), expected.translated(1920, 0));
}

void TestZoneCycle::stackingKeys()
{
    ContentXml::TP_AREA top;
    top.Zindex = 1;
    ContentXml::TP_AREA bottom;
    bottom.Zindex = 0;
    QCOMPARE(ZoneGeometry::stackingKey(top, 0), 100);
    QCOMPARE(ZoneGeometry::stackingKey(bottom, 1), 1);
    // Equal levels stack in file order, the later one higher.
    QVERIFY(ZoneGeometry::stackingKey(bottom, 2) > ZoneGeometry::stackingKey(bottom, 1));
}

void TestZoneCycle::pdfFit()
{
    // A wide page in a tall zone: fitted to the width, centred vertically.
    QCOMPARE(ZoneGeometry::pdfFit(QSize(400, 600), QSize(800, 400)), QRect(0, 200, 400, 200));
    // A tall page in a wide zone: fitted to the height, centred horizontally.
    QCOMPARE(ZoneGeometry::pdfFit(QSize(800, 400), QSize(1654, 2339)), QRect(259, 0, 282, 400));
    QCOMPARE(ZoneGeometry::pdfFit(QSize(800, 400), QSize()), QRect(0, 0, 800, 400));
}

void TestZoneCycle::swipes_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("direction");
    QTest::newRow("left") << QPoint(300, 100) << QPoint(200, 110) << 1;
    QTest::newRow("right") << QPoint(200, 100) << QPoint(300, 90) << -1;
    QTest::newRow("short") << QPoint(200, 100) << QPoint(250, 100) << 0;
    QTest::newRow("exactly 50") << QPoint(250, 100) << QPoint(200, 100) << 0;
    // Zone height 500: a fifth is 100 pixels.
    QTest::newRow("too steep") << QPoint(300, 100) << QPoint(100, 200) << 0;
    QTest::newRow("just flat enough") << QPoint(300, 100) << QPoint(100, 199) << 1;
}

void TestZoneCycle::swipes()
{
    QFETCH(QPoint, press);
    QFETCH(QPoint, release);
    QFETCH(int, direction);
    QCOMPARE(ZoneGeometry::swipeDirection(press, release, 500), direction);
}

void TestZoneCycle::webAddress_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("address");
    QTest::newRow("no scheme") << "example.org/a"
                               << "http://example.org/a";
    QTest::newRow("https") << "https://example.org"
                           << "https://example.org";
    QTest::newRow("http") << "http://x"
                          << "http://x";
    QTest::newRow("local page") << "file:///opt/pages/menu.html"
                                << "file:///opt/pages/menu.html";
    QTest::newRow("upper case scheme") << "HTTPS://X/"
                                       << "HTTPS://X/";
    QTest::newRow("host starting with http") << "httpbin.org/get"
                                             << "http://httpbin.org/get";
    QTest::newRow("host and port") << "10.0.0.5:8080/board"
                                   << "http://10.0.0.5:8080/board";
}

void TestZoneCycle::webAddress()
{
    QFETCH(QString, url);
    QFETCH(QString, address);
    QCOMPARE(ZoneGeometry::webAddress(url), address);
}

void TestZoneCycle::contentAddresses_data()
{
    QTest::addColumn<QString>("use"); // "page", "resource" (loaded by a page) or "stream"
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    const QString inside = "file:///home/u/data/mtl/p.html";
    const QList<std::tuple<const char *, QString, bool>> rows {
        {"page", "http://example.org/a", true},
        {"page", inside, true},
        {"page", "file:///home/u/data/mtl/a b.html", true},
        {"page", "file:///etc/passwd", false},
        {"page", "file:///home/u/data/mtl/../status.json", false},
        {"page", "file://host/home/u/data/mtl/p.html", false},
        {"page", "javascript:alert(1)", false},
        {"page", "data:text/html,<b>x</b>", false},
        {"page", "qrc:/images/back.png", false},
        {"page", "about:blank", false},
        {"resource", "data:image/png;base64,AAAA", true},
        {"resource", inside, true},
        {"resource", "file:///etc/passwd", false},
        {"resource", "qrc:/images/back.png", false},
        {"stream", "rtsp://camera/live", true},
        {"stream", "RTMP://example.org/app/key", true},
        {"stream", "udp://@:1234", true},
        {"stream", "http://example.org/live.m3u8", true},
        {"stream", "file:///etc/passwd", false},
        {"stream", "v4l2:///dev/video0", false},
        {"stream", "", false},
    };
    for (const auto &[use, url, allowed] : rows)
        QTest::addRow("%s %s", use, qPrintable(url)) << QString(use) << url << allowed;
}

void TestZoneCycle::contentAddresses()
{
    QFETCH(QString, use);
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    const QUrl address = QUrl::fromEncoded(url.toUtf8());
    const QString folder = "/home/u/data/mtl";
    if (use == "page")
        QCOMPARE(ContentRules::isPageAllowed(address, folder), allowed);
    else if (use == "resource")
        QCOMPARE(ContentRules::isPageResourceAllowed(address, folder), allowed);
    else
        QCOMPARE(ContentRules::isStreamAllowed(address), allowed);
}

void TestZoneCycle::pageReloadPace()
{
    const qint64 t0 = 1000000;
    PageRefresh refresh;
    // 60 (ms) as the server sends it: at most every 10 s.
    refresh.start(60, t0);
    QCOMPARE(refresh.intervalMs(), 10000);
    refresh.loadFinished(true, t0 + 300);
    QCOMPARE(refresh.dueMs(), t0 + 10000);
    QCOMPARE(refresh.due(t0 + 9999), PageRefresh::Action::None);
    QCOMPARE(refresh.due(t0 + 10000), PageRefresh::Action::Reload);
    QCOMPARE(refresh.dueMs(), t0 + 20000);
    refresh.loadFinished(true, t0 + 10400);

    // A longer interval is kept as it is.
    refresh.start(45000, t0);
    QCOMPARE(refresh.dueMs(), t0 + 45000);

    // No interval: a page that loaded stays as it is.
    refresh.start(0, t0);
    QCOMPARE(refresh.dueMs(), -1);
    refresh.loadFinished(true, t0 + 300);
    QCOMPARE(refresh.dueMs(), -1);
    QCOMPARE(refresh.due(t0 + 100000), PageRefresh::Action::None);

    // Off screen nothing is due.
    refresh.start(20000, t0);
    refresh.stop();
    QCOMPARE(refresh.dueMs(), -1);
    QCOMPARE(refresh.intervalMs(), 0);
    QCOMPARE(refresh.due(t0 + 20000), PageRefresh::Action::None);
}

void TestZoneCycle::failedPageRetried_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("retryAfter");
    QTest::newRow("no interval") << 0 << 10000;
    QTest::newRow("short interval") << 60 << 10000;
    QTest::newRow("long interval") << 30000 << 30000;
}

void TestZoneCycle::failedPageRetried()
{
    QFETCH(int, interval);
    QFETCH(int, retryAfter);
    const qint64 t0 = 1000000;
    PageRefresh refresh;
    refresh.start(interval, t0);
    QVERIFY(!refresh.showsNothing()); // still loading
    refresh.loadFinished(false, t0);
    QVERIFY(refresh.showsNothing());
    QCOMPARE(refresh.dueMs(), t0 + retryAfter);
    // The address is loaded again, not the failed page reloaded.
    QCOMPARE(refresh.due(t0 + retryAfter), PageRefresh::Action::Retry);
    refresh.loadFinished(false, t0 + retryAfter);
    QCOMPARE(refresh.due(t0 + 2 * retryAfter), PageRefresh::Action::Retry);
    refresh.loadFinished(true, t0 + 2 * retryAfter);
    QVERIFY(!refresh.showsNothing());
    QCOMPARE(refresh.dueMs(), interval > 0 ? t0 + 3 * retryAfter : -1);
    // A new slot of the material starts afresh.
    refresh.start(interval, t0 + 100000);
    QVERIFY(!refresh.showsNothing());
}

void TestZoneCycle::slowPageFinishes()
{
    const qint64 t0 = 1000000;
    PageRefresh refresh;
    refresh.start(60, t0);
    // Still loading when the reload is due: it gets another interval...
    QCOMPARE(refresh.due(t0 + 10000), PageRefresh::Action::None);
    QCOMPARE(refresh.dueMs(), t0 + 20000);
    refresh.loadFinished(true, t0 + 15000);
    QCOMPARE(refresh.due(t0 + 20000), PageRefresh::Action::Reload);
    // ...but one that hangs is started over at the next one.
    QCOMPARE(refresh.due(t0 + 30000), PageRefresh::Action::None);
    QCOMPARE(refresh.due(t0 + 40000), PageRefresh::Action::Retry);
}

QTEST_APPLESS_MAIN(TestZoneCycle)
#include "test_zonecycle.moc"
