#include "clock.h"
#include "clocktext.h"
#include "playlog/playlog.h"
#include "schedule/playbillthread.h"
#include "stats/playrecord.h"
#include "stats/statdatabase.h"
#include "testenv.h"
#include "zones/zonewindow.h"

#include <QtTest>

#include <memory>

using namespace ContentXml;

// The playbill scheduler, driven pass by pass with a moved clock the way its
// thread drives it, plus the real thread for its wake-ups.
class TestScheduler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void waitsForAuthorization();
    void readsWholeStatusFile();
    void rotatesByLength();
    void insertWindowTakesOverAndHandsBack();
    void insertOnlyPlaybill();
    void reloadDuringPlayback();
    void reloadWhileNotAuthorized();
    void singleTemplateKeepsZonesRunning();
    void zonesOfOneTemplatePlayThrough();
    void insertWindowEndsAcrossMidnight_data();
    void insertWindowEndsAcrossMidnight();
    void staleListRule();
    void nothingToPlayWaitsForReload();
    void zeroLengthIsPaced();
    void clockSetBackKeepsTemplateLength();
    void marksFilesUsed();
    void usedFilesOutliveServiceCleanup();

    void threadSleepsWhileIdle();
    void threadWakesOnStatusAndQuit();

private:
    struct Shown
    {
        qint64 at; // seconds after the start of the test day
        QString name;
        int playType;
        int kind;
        QStringList zones;
    };

    void writeStatus(int status, const QByteArray &extra = QByteArray());
    void writeList(const QString &name, const QList<QPair<QString, int>> &entries);
    void writeDayPlay(const QByteArray &xml);
    void writeContent(); // templates and zones named by every test
    void setTime(int hour, int minute, int second);
    qint64 secondOfDay() const;
    // Runs passes as the thread would: the clock jumps to each due pass until `until`.
    int runUntil(qint64 untilMs);
    int runFor(int seconds) { return runUntil(Clock::nowMs() + seconds * 1000LL); }
    QStringList shownNames() const;

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<PlayLog> m_playLog;
    std::unique_ptr<PlaybillThread> m_thread;
    QList<Shown> m_shown;
    int m_templates = 0;
    int m_statuses = 0;
    qint64 m_next = 0;
    QDate m_day {2024, 3, 15};
};

void TestScheduler::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    setTime(12, 0, 0);
    m_playLog = std::make_unique<PlayLog>();
    m_thread = std::make_unique<PlaybillThread>();
    m_thread->init(m_playLog.get());
    m_shown.clear();
    m_templates = 0;
    m_statuses = 0;
    m_next = 0;
    connect(m_thread.get(), &PlaybillThread::sigLoadTemplate, this,
        [this](const QVariant &) { ++m_templates; });
    connect(m_thread.get(), &PlaybillThread::sigCallbackStatus, this, [this] { ++m_statuses; });
    // The zone hand-over closes every selection; it is recorded with the template.
    connect(m_thread.get(), &PlaybillThread::sigTemplateZoneCtrl, this,
        [this](const QVariant &v, int playType) {
            const TP_ZONE_CTRL zones = v.value<TP_ZONE_CTRL>();
            QStringList names;
            for (const ZONE_CTRL &z : zones.zones)
                names << z.name;
            m_shown.append({secondOfDay(), QString(), playType, zones.kind, names});
        });
    connect(m_thread.get(), &PlaybillThread::sigLoadTemplate, this, [this](const QVariant &v) {
        // Arrives just before the zone hand-over of the same selection.
        m_shown.append({secondOfDay(), v.value<TP_CONTENT>().name, -1, -1, {}});
    });
    writeContent();
}

void TestScheduler::cleanup()
{
    m_thread.reset();
    m_playLog.reset();
    m_env.reset();
    Clock::reset();
}

void TestScheduler::writeStatus(int status, const QByteArray &extra)
{
    writeFile(m_env->dataRoot() + QStringLiteral("/data/status.json"),
        "{\"terminalId\":\"T0001\",\"status\":" + QByteArray::number(status) + extra + "}");
}

void TestScheduler::writeList(const QString &name, const QList<QPair<QString, int>> &entries)
{
    QByteArray xml = "<TL>";
    for (const auto &e : entries)
        xml += "<T name=\"" + e.first.toUtf8() + "\" path=\"data/mtl/\" len=\""
            + QByteArray::number(e.second) + "\"/>";
    xml += "</TL>";
    writeFile(m_env->dataRoot() + QStringLiteral("/data/tpl/") + name, xml);
}

void TestScheduler::writeDayPlay(const QByteArray &xml)
{
    writeFile(m_env->dataRoot() + QStringLiteral("/data/day-play.xml"), xml);
}

void TestScheduler::writeContent()
{
    const QStringList templates {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
        QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"), QStringLiteral("p")};
    for (const QString &t : templates)
        writeFile(m_env->dataRoot() + QStringLiteral("/data/mtl/") + t + QStringLiteral(".xml"),
            "<Template Width=\"1920\" Height=\"1080\"><Areas><Area Title=\"Main\"/>"
            "</Areas></Template>");
    for (const QString &zone : {QStringLiteral("Main"), QStringLiteral("Side")})
        writeFile(m_env->dataRoot() + QStringLiteral("/data/zone/") + zone.toLower()
                + QStringLiteral(".z"),
            "<PL name=\"" + zone.toUtf8() + "\"><P name=\"m.jpg\" type=\"pic\"/></PL>");
    writeList(QStringLiteral("day.l"),
        {{QStringLiteral("a.xml"), 10}, {QStringLiteral("b.xml"), 20},
            {QStringLiteral("c.xml"), 30}});
    writeList(QStringLiteral("insert.l"),
        {{QStringLiteral("x.xml"), 20}, {QStringLiteral("y.xml"), 20},
            {QStringLiteral("z.xml"), 20}});
}

void TestScheduler::setTime(int hour, int minute, int second)
{
    Clock::setFixedMs(QDateTime(m_day, QTime(hour, minute, second)).toMSecsSinceEpoch());
}

qint64 TestScheduler::secondOfDay() const
{
    return (Clock::nowMs() - QDateTime(m_day, QTime(0, 0)).toMSecsSinceEpoch()) / 1000;
}

int TestScheduler::runUntil(qint64 untilMs)
{
    int passes = 0;
    for (;;) {
        if (m_next == 0) {
            m_next = m_thread->step();
            ++passes;
            continue;
        }
        if (m_next > untilMs) {
            Clock::setFixedMs(untilMs);
            return passes;
        }
        Clock::setFixedMs(qMax(m_next, Clock::nowMs()));
        m_next = m_thread->step();
        ++passes;
    }
}

QStringList TestScheduler::shownNames() const
{
    QStringList names;
    for (const Shown &s : m_shown)
        if (!s.name.isEmpty())
            names << s.name;
    return names;
}

static const QByteArray kDayOnly = "<Day><TPL p=\"day.l\"><Z p=\"main.z\"/></TPL></Day>";

void TestScheduler::waitsForAuthorization()
{
    writeStatus(5);
    writeDayPlay(kDayOnly);
    QSignalSpy status(m_thread.get(), &PlaybillThread::sigCallbackStatus);

    const qint64 start = Clock::nowMs();
    m_next = m_thread->step();
    QCOMPARE(m_next, start + 2000);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).value<StatusRecord>().terminalId, QString("T0001"));
    QCOMPARE(m_thread->scheduler().status(), 5);

    // Every 2 s the status is read again, and nothing is loaded.
    QCOMPARE(runFor(10), 5);
    QCOMPARE(status.count(), 6);
    QCOMPARE(m_templates, 0);

    // The service writes 4 and says STATUS: the next pass loads the playbill.
    writeStatus(4);
    m_thread->readStatus();
    QCOMPARE(status.count(), 7);
    m_next = m_thread->step();
    QCOMPARE(shownNames(), QStringList {QStringLiteral("a.xml")});
    // Playing does not look at the status again.
    runFor(60);
    QCOMPARE(status.count(), 7);
}

void TestScheduler::readsWholeStatusFile()
{
    // A full status file is longer than 300 bytes; the status must still be read.
    const QByteArray padding = ",\"connHost\":\"" + QByteArray(400, 'h') + "\"";
    writeStatus(4, padding);
    QSignalSpy status(m_thread.get(), &PlaybillThread::sigCallbackStatus);
    m_thread->readStatus();
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).value<StatusRecord>().connHost->size(), 400);
    QCOMPARE(m_thread->scheduler().status(), 4);

    // A status that is not a number is no status (the service reads it the
    // same way); a missing file emits nothing.
    writeFile(m_env->dataRoot() + QStringLiteral("/data/status.json"), "{\"status\":\"5\"}");
    m_thread->readStatus();
    QCOMPARE(m_thread->scheduler().status(), 4);
    QCOMPARE(status.count(), 2);
    QFile::remove(m_env->dataRoot() + QStringLiteral("/data/status.json"));
    m_thread->readStatus();
    QCOMPARE(status.count(), 2);
}

void TestScheduler::rotatesByLength()
{
    writeStatus(4);
    writeDayPlay(kDayOnly);
    runFor(125);
    const QList<QPair<qint64, QString>> expected {{43200, "a.xml"}, {43210, "b.xml"},
        {43230, "c.xml"}, {43260, "a.xml"}, {43270, "b.xml"}, {43290, "c.xml"}, {43320, "a.xml"}};
    QList<QPair<qint64, QString>> got;
    for (const Shown &s : m_shown)
        if (!s.name.isEmpty())
            got.append({s.at, s.name});
    QCOMPARE(got, expected);
    // Each template comes with its zones, as the day programme.
    for (const Shown &s : m_shown) {
        if (s.name.isEmpty()) {
            QCOMPARE(s.playType, 0);
            QCOMPARE(s.kind, 0);
            QCOMPARE(s.zones, QStringList {QStringLiteral("Main")});
        }
    }
}

void TestScheduler::insertWindowTakesOverAndHandsBack()
{
    writeStatus(4);
    // Insert window 08:00:00 to 08:00:45, given by its start instant and longest zone.
    const qint64 eight = QDateTime(m_day, QTime(8, 0)).toSecsSinceEpoch();
    writeDayPlay("<Day><TPL p=\"day.l\"><Z p=\"main.z\"/></TPL>"
                 "<ITPL p=\"insert.l\" s=\"2024-03-15\" i=\""
        + QByteArray::number(eight)
        + "\"><Z p=\"side.z\" l=\"30\"/><Z p=\"main.z\" l=\"45\"/></ITPL></Day>");
    setTime(7, 59, 35);
    // While the insert programme is on the day, the thread wakes once a second.
    const int passes = runUntil(QDateTime(m_day, QTime(8, 1, 30)).toMSecsSinceEpoch());
    QVERIFY2(passes <= 130, qPrintable(QString::number(passes)));

    QList<QPair<qint64, QString>> got;
    for (const Shown &s : m_shown)
        if (!s.name.isEmpty())
            got.append({s.at - 28800, s.name});
    // Day list a (10 s), b (20 s); the window opens at 08:00:00 and the insert list
    // continues after the index the day list reached (2: z), wraps to x; after
    // 08:00:45 the day list resumes after the insert list's index (2: c).
    const QList<QPair<qint64, QString>> expected {{-25, "a.xml"}, {-15, "b.xml"}, {0, "z.xml"},
        {20, "x.xml"}, {40, "y.xml"}, {46, "c.xml"}, {76, "a.xml"}, {86, "b.xml"}};
    QCOMPARE(got, expected);

    for (const Shown &s : m_shown) {
        if (!s.name.isEmpty())
            continue;
        const bool inside = s.at - 28800 >= 0 && s.at - 28800 <= 45;
        QCOMPARE(s.playType, inside ? 2 : 0);
        QCOMPARE(s.kind, inside ? 1 : 0);
        QCOMPARE(s.zones,
            inside ? (QStringList {QStringLiteral("Side"), QStringLiteral("Main")})
                   : QStringList {QStringLiteral("Main")});
    }
}

void TestScheduler::insertOnlyPlaybill()
{
    writeStatus(4);
    writeDayPlay("<Day><ITPL p=\"insert.l\" s=\"2024-03-15\" b=\"28800\" e=\"28830\"/></Day>");
    setTime(7, 59, 0);
    runFor(55);
    QVERIFY(m_thread->scheduler().hasContent());
    QCOMPARE(m_templates, 0); // nothing outside the window
    runFor(40); // 07:59:55 .. 08:00:35
    QCOMPARE(shownNames(), (QStringList {QStringLiteral("x.xml"), QStringLiteral("y.xml")}));
    QCOMPARE(m_shown.first().at, 28800);
    runFor(60);
    QCOMPARE(m_templates, 2); // the window closed: nothing again
}

void TestScheduler::reloadDuringPlayback()
{
    writeStatus(4);
    writeDayPlay(kDayOnly);
    runFor(15); // a, then b at +10 s
    QCOMPARE(shownNames(), (QStringList {QStringLiteral("a.xml"), QStringLiteral("b.xml")}));

    writeList(QStringLiteral("new.l"), {{QStringLiteral("p.xml"), 50}});
    writeDayPlay("<Day><TPL p=\"new.l\"><Z p=\"side.z\"/></TPL></Day>");
    m_thread->reloadPlay();
    // Until the next pass the zones on screen keep playing.
    QCOMPARE(m_templates, 2);
    QCOMPARE(m_thread->scheduler().nextSwitch(), PlaybillScheduler::NEVER);
    const qint64 at = secondOfDay();
    m_next = m_thread->step();
    QCOMPARE(shownNames().last(), QStringLiteral("p.xml"));
    QCOMPARE(m_shown.last().at, at);
    QCOMPARE(m_shown.last().zones, QStringList {QStringLiteral("Side")});
    QCOMPARE(m_thread->scheduler().listIndex(), 0);
    QCOMPARE(m_next, Clock::nowMs() + 50000);
}

void TestScheduler::reloadWhileNotAuthorized()
{
    writeStatus(4);
    writeDayPlay(kDayOnly);
    runFor(5);
    QCOMPARE(m_templates, 1);

    // The server withdrew the authorization: a reload goes back to waiting.
    writeStatus(5);
    m_thread->readStatus();
    m_thread->reloadPlay();
    m_next = 0; // the reload wakes the thread
    const int statuses = m_statuses;
    runFor(9);
    QCOMPARE(m_templates, 1);
    QCOMPARE(m_statuses, statuses + 5); // 0, 2, 4, 6, 8 s
    writeStatus(4);
    runFor(2);
    QCOMPARE(m_templates, 2);
}

void TestScheduler::singleTemplateKeepsZonesRunning()
{
    writeStatus(4);
    writeList(QStringLiteral("one.l"), {{QStringLiteral("p.xml"), 10}});
    writeDayPlay("<Day><TPL p=\"one.l\"><Z p=\"main.z\"/><Z p=\"side.z\"/></TPL></Day>");
    QSignalSpy zones(m_thread.get(), &PlaybillThread::sigTemplateZoneCtrl);
    runFor(35);
    // Selected every len seconds, but handed over once: the zones play on.
    QCOMPARE(shownNames(), QStringList {QStringLiteral("p.xml")});
    QCOMPARE(zones.count(), 1);
    QCOMPARE(m_thread->scheduler().listIndex(), 0);
    // Still marked as used at every selection.
    const QString log = QString::fromUtf8(readFile(m_playLog->messageFilePath()));
    QCOMPARE(log.count(QStringLiteral("WHERE name='p.xml'")), 4);
    QCOMPARE(log.count(QStringLiteral("WHERE name='side.z'")), 4);

    // A changed zone file is handed over at the next selection.
    writeFile(m_env->dataRoot() + QStringLiteral("/data/zone/side.z"),
        "<PL name=\"Side\"><P name=\"m.jpg\" type=\"pic\"/><P name=\"n.jpg\" "
        "type=\"pic\"/></PL>");
    runFor(10);
    QCOMPARE(zones.count(), 2);
    const TP_ZONE_CTRL last = zones.last().at(0).value<TP_ZONE_CTRL>();
    QCOMPARE(last.zones.size(), 2);
    QCOMPARE(last.zones.at(1).name, QStringLiteral("Side"));
    QCOMPARE(last.zones.at(1).mtls.size(), 2);
    runFor(20);
    QCOMPARE(zones.count(), 2);

    // A reload hands everything over again, unchanged or not.
    m_thread->reloadPlay();
    m_next = m_thread->step();
    QCOMPARE(zones.count(), 3);
    QCOMPARE(shownNames().size(), 3);
}

void TestScheduler::zonesOfOneTemplatePlayThrough()
{
    // Three 5 s pictures in a 10 s template, the only one of its list.
    const QString mtl = m_env->dataRoot() + QStringLiteral("/data/mtl/");
    for (const QString &name :
        {QStringLiteral("1.png"), QStringLiteral("2.png"), QStringLiteral("3.png")}) {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::green);
        QVERIFY(image.save(mtl + name));
    }
    writeFile(m_env->dataRoot() + QStringLiteral("/data/zone/three.z"),
        "<PL name=\"Main\"><P name=\"1.png\" type=\"pic\" len=\"5\"/>"
        "<P name=\"2.png\" type=\"pic\" len=\"5\"/><P name=\"3.png\" type=\"pic\" "
        "len=\"5\"/></PL>");
    writeStatus(4);
    writeList(QStringLiteral("one.l"), {{QStringLiteral("p.xml"), 10}});
    writeDayPlay("<Day><TPL p=\"one.l\"><Z p=\"three.z\"/></TPL></Day>");

    // The zone as the window would feed it.
    ZoneWindow zone;
    zone.initParam(QString(), 0, 0, 0, 160, 90);
    zone.setGeometry(0, 0, 160, 90);
    zone.show();
    connect(m_thread.get(), &PlaybillThread::sigTemplateZoneCtrl, &zone,
        [&](const QVariant &v, int playType) {
            for (const ZONE_CTRL &z : v.value<TP_ZONE_CTRL>().zones)
                if (z.name == zone.zoneName() || zone.zoneName().isEmpty())
                    zone.setZoneCtrl(z, m_playLog.get(), playType);
        });
    QStringList shown;
    const qint64 end = Clock::nowMs() + 35000;
    while (Clock::nowMs() <= end) {
        runUntil(Clock::nowMs());
        zone.checkPlayZoneMtls();
        if (shown.isEmpty() || shown.last() != zone.cycle().current().name)
            shown << zone.cycle().current().name;
        Clock::advanceMs(250);
    }
    QCOMPARE(shown,
        (QStringList {QStringLiteral("1.png"), QStringLiteral("2.png"), QStringLiteral("3.png"),
            QStringLiteral("1.png"), QStringLiteral("2.png"), QStringLiteral("3.png"),
            QStringLiteral("1.png"), QStringLiteral("2.png")}));
    // Every play that ended was recorded: seven by 35 s.
    const QString log = QString::fromUtf8(readFile(m_playLog->messageFilePath()));
    QCOMPARE(log.count(QStringLiteral("INSERT INTO play_detail")), 7);
    QCOMPARE(log.count(QStringLiteral("VALUES('3.png'")), 2);
}

void TestScheduler::insertWindowEndsAcrossMidnight_data()
{
    QTest::addColumn<int>("begin");
    QTest::addColumn<int>("end");
    QTest::addColumn<QList<int>>("switches"); // seconds after 23:59:00 of a template change
    // Ends just before midnight, and 15 s after it.
    QTest::newRow("ends at midnight") << 86380 << 86399 << QList<int> {0, 40, 60};
    QTest::newRow("runs past midnight") << 86390 << 86415 << QList<int> {0, 50, 76};
}

void TestScheduler::insertWindowEndsAcrossMidnight()
{
    QFETCH(int, begin);
    QFETCH(int, end);
    QFETCH(QList<int>, switches);
    writeStatus(4);
    writeList(QStringLiteral("day.l"), {{QStringLiteral("a.xml"), 10}});
    writeList(QStringLiteral("insert.l"), {{QStringLiteral("x.xml"), 600}});
    writeDayPlay("<Day><TPL p=\"day.l\"><Z p=\"main.z\"/></TPL><ITPL p=\"insert.l\" "
                 "s=\"2024-03-15\" b=\""
        + QByteArray::number(begin) + "\" e=\"" + QByteArray::number(end)
        + "\"><Z p=\"side.z\"/></ITPL></Day>");
    setTime(23, 59, 0);
    QSignalSpy zones(m_thread.get(), &PlaybillThread::sigTemplateZoneCtrl);
    const qint64 start = Clock::nowMs();
    runUntil(start + 90 * 1000);
    QList<int> changes;
    QString last;
    for (const Shown &s : m_shown) {
        if (s.name.isEmpty() || s.name == last)
            continue;
        changes << int(s.at - 86340);
        last = s.name;
    }
    // The day list before and after, the insert list inside the window only.
    QCOMPARE(changes.size(), switches.size());
    QCOMPARE(changes.at(1), switches.at(1));
    QVERIFY2(qAbs(changes.at(2) - switches.at(2)) <= 1, qPrintable(QString::number(changes.at(2))));
    QVERIFY(!m_thread->scheduler().insertActive());
    QCOMPARE(zones.count(), 3);
    QCOMPARE(zones.last().at(1).toInt(), 0);
}

void TestScheduler::staleListRule()
{
    writeStatus(4);
    writeDayPlay("<Day><TPL p=\"day.l\"><Z p=\"main.z\"/></TPL>"
                 "<ITPL p=\"insert.l\" s=\"2024-03-15\" b=\"0\" e=\"86399\"/></Day>");
    runFor(5);
    QCOMPARE(shownNames(), QStringList {QStringLiteral("x.xml")}); // inside the insert window

    // A new playbill without any entry: the day list of the last load stays and
    // plays; the insert list stays too but is never played without its entry.
    writeDayPlay("<Day/>");
    m_thread->reloadPlay();
    m_next = 0;
    runFor(15);
    QVERIFY(m_thread->scheduler().hasContent());
    QCOMPARE(m_thread->scheduler().dayList().name, QStringLiteral("day.l"));
    QCOMPARE(m_thread->scheduler().insertList().name, QStringLiteral("insert.l"));
    QCOMPARE(shownNames(),
        (QStringList {QStringLiteral("x.xml"), QStringLiteral("a.xml"), QStringLiteral("b.xml")}));
    QVERIFY(!m_thread->scheduler().insertActive());
}

void TestScheduler::nothingToPlayWaitsForReload()
{
    writeStatus(4);
    // No playbill at all, then a list that names nothing.
    QCOMPARE(m_thread->step(), PlaybillScheduler::NEVER);
    writeList(QStringLiteral("empty.l"), {});
    writeDayPlay("<Day><TPL p=\"empty.l\"/></Day>");
    QCOMPARE(m_thread->step(), PlaybillScheduler::NEVER); // no reload asked for yet
    m_thread->reloadPlay();
    QCOMPARE(m_thread->step(), PlaybillScheduler::NEVER);
    QVERIFY(!m_thread->scheduler().hasContent());
    QCOMPARE(m_templates, 0);

    writeDayPlay(kDayOnly);
    m_thread->reloadPlay();
    m_thread->step();
    QCOMPARE(shownNames(), QStringList {QStringLiteral("a.xml")});
}

void TestScheduler::zeroLengthIsPaced()
{
    writeStatus(4);
    writeList(
        QStringLiteral("zero.l"), {{QStringLiteral("a.xml"), 0}, {QStringLiteral("b.xml"), 0}});
    writeDayPlay("<Day><TPL p=\"zero.l\"/></Day>");
    const qint64 start = Clock::nowMs();
    // Due again at once, but the thread comes back only a second later.
    m_next = m_thread->step();
    QCOMPARE(m_next, start + 1000);
    QCOMPARE(m_thread->scheduler().nextSwitch(), start);
    QCOMPARE(runFor(10), 10);
    QCOMPARE(m_templates, 11);
}

void TestScheduler::clockSetBackKeepsTemplateLength()
{
    writeStatus(4);
    writeDayPlay(kDayOnly);
    m_next = m_thread->step(); // a.xml for 10 s
    Clock::advanceMs(-3600 * 1000);
    m_next = m_thread->step();
    QVERIFY(m_next <= Clock::nowMs() + 10000);
    runFor(10);
    QCOMPARE(shownNames(), (QStringList {QStringLiteral("a.xml"), QStringLiteral("b.xml")}));
}

void TestScheduler::marksFilesUsed()
{
    writeStatus(4);
    writeList(QStringLiteral("day.l"), {{QStringLiteral("a.xml"), 10}});
    writeDayPlay("<Day><TPL p=\"day.l\"><Z p=\"main.z\"/><Z p=\"side.z\"/></TPL></Day>");
    m_thread->step();
    const QString log = QString::fromUtf8(readFile(m_playLog->messageFilePath()));
    const QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("SQL|UPDATE file_mgt SET access_time='2024-03-15 "
                                                  "12:00:00' WHERE name='day.l'")));
    // The template shown is marked as well as its list and zones.
    QVERIFY(lines.at(1).endsWith(QStringLiteral("WHERE name='a.xml'")));
    QVERIFY(lines.at(2).endsWith(QStringLiteral("WHERE name='main.z'")));
    QVERIFY(lines.at(3).endsWith(QStringLiteral("WHERE name='side.z'")));
}

void TestScheduler::usedFilesOutliveServiceCleanup()
{
    // The service records what it stored, named by the last part of where it
    // came from, ten days ago.
    const QString digest = QStringLiteral("0123456789abcdef0123456789abcdef.xml");
    writeFile(m_env->dataRoot() + QStringLiteral("/data/mtl/") + digest,
        "<Template Width=\"1920\" Height=\"1080\"><Areas><Area "
        "Title=\"Main\"/></Areas></Template>");
    StatDatabase db(m_env->dataRoot() + QStringLiteral("/data/playdata.db"));
    QVERIFY(db.open());
    const QString stored = QStringLiteral("2024-03-05 12:00:00");
    for (const QString &path : {QStringLiteral("one.l"), QStringLiteral("main.z"),
             QStringLiteral("data/mtl/") + digest, QStringLiteral("data/mtl/old.jpg")})
        QVERIFY(db.execute(PlayRecord::fileStoredStatement(path, stored)));

    // The player shows the template today and sends its statements.
    writeStatus(4);
    writeList(QStringLiteral("one.l"), {{digest, 10}});
    writeDayPlay("<Day><TPL p=\"one.l\"><Z p=\"main.z\"/></TPL></Day>");
    m_thread->step();
    const QString log = QString::fromUtf8(readFile(m_playLog->messageFilePath()));
    for (const QString &line : log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        QVERIFY(db.execute(line.mid(line.indexOf(QLatin1Char('|')) + 1)));

    // A cleanup keeping five days of unused files removes only what was not shown.
    QCOMPARE(db.filesUnusedBefore(QStringLiteral("2024-03-10")), QStringList {"old.jpg"});
}

void TestScheduler::threadSleepsWhileIdle()
{
    writeStatus(4);
    writeList(QStringLiteral("long.l"), {{QStringLiteral("p.xml"), 3600}});
    writeDayPlay("<Day><TPL p=\"long.l\"><Z p=\"main.z\"/></TPL></Day>");
    m_thread->start();
    QTRY_COMPARE(m_templates, 1);
    QTRY_COMPARE(m_thread->passCount(), 1);
    // Nothing is due until the template ends, an hour on.
    QCOMPARE(m_thread->sleepsUntilMs() - Clock::nowMs(), 3600 * 1000LL);

    // A reload wakes it at once.
    m_thread->reloadPlay();
    QTRY_COMPARE(m_templates, 2);
    QTRY_COMPARE(m_thread->passCount(), 2);

    // With an insert programme on the day it looks at the window once a second.
    const int secs = ClockText::secondsFromMidnight();
    writeDayPlay("<Day><TPL p=\"long.l\"/><ITPL p=\"insert.l\" s=\"" + ClockText::date().toUtf8()
        + "\" b=\"" + QByteArray::number(secs + 7200) + "\" e=\"" + QByteArray::number(secs + 7300)
        + "\"/></Day>");
    m_thread->reloadPlay();
    QTRY_COMPARE(m_templates, 3);
    QTRY_COMPARE(m_thread->passCount(), 3);
    QCOMPARE(m_thread->sleepsUntilMs() - Clock::nowMs(), 1000LL);

    m_thread->stop();
    QVERIFY(m_thread->isFinished());
}

void TestScheduler::threadWakesOnStatusAndQuit()
{
    Clock::reset();
    writeStatus(5);
    writeDayPlay(kDayOnly);
    m_thread->start();
    QTRY_COMPARE(m_statuses, 1);
    QCOMPARE(m_templates, 0);

    // The STATUS command re-reads the file from the GUI thread; the thread,
    // sleeping until its next 2 s re-read, loads the playbill right away.
    writeStatus(4);
    m_thread->readStatus();
    QTRY_COMPARE(m_templates, 1);
    QVERIFY(m_thread->passCount() <= 3);

    m_thread->stop();
    QVERIFY(m_thread->isFinished());
}

QTEST_MAIN(TestScheduler)
#include "test_scheduler.moc"
