#include "clock.h"
#include "player.h"
#include "playlog/playlog.h"
#include "testenv.h"
#include "ui/mainwindow.h"
#include "zones/zonewindow.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QtTest>

using namespace ContentXml;

// The player's window offscreen: status panel, template layout, zone contents
// and local commands.
class TestPlayerWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void statusPanel_data();
    void statusPanel();
    void volumeAsStringOrNumber();
    void extendedScreenSwitch();
    void templateBuildsScaledZones();
    void sameTemplateKeepsZonesButTakesContents();
    void everyZoneGoesAtTheNextTemplate();
    void volumeCommandReachesZones();
    void exitRecordsCutPlays();

private:
    static TP_AREA area(const QString &title, QRect rect, int z);
    static TP_CONTENT content(const QString &name, QSize design, const QList<TP_AREA> &areas);
    QString label(const char *name) const;

    // Starts the player (its port, window and threads); false when another
    // player holds the port.
    bool startPlayer();

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Player> m_player;
    MainWindow *m_window = nullptr;
};

void TestPlayerWindow::init()
{
    m_env = std::make_unique<TestEnv>();
    QDir().mkpath(m_env->dataRoot() + "/data/mtl");
    QDir().mkpath(m_env->dataRoot() + "/logs");
}

bool TestPlayerWindow::startPlayer()
{
    m_player = std::make_unique<Player>();
    if (!m_player->start())
        return false;
    m_window = m_player->window();
    return true;
}

void TestPlayerWindow::cleanup()
{
    m_window = nullptr;
    m_player.reset();
    m_env.reset();
}

TP_AREA TestPlayerWindow::area(const QString &title, QRect rect, int z)
{
    TP_AREA a;
    a.Title = title;
    a.Left = rect.x();
    a.Top = rect.y();
    a.Width = rect.width();
    a.Height = rect.height();
    a.Zindex = z;
    return a;
}

TP_CONTENT TestPlayerWindow::content(const QString &name, QSize design, const QList<TP_AREA> &areas)
{
    TP_CONTENT c;
    c.name = name;
    c.Width = design.width();
    c.Height = design.height();
    c.BackgroundColor = "#123456";
    c.areas = areas;
    return c;
}

QString TestPlayerWindow::label(const char *name) const
{
    return m_window->findChild<QLabel *>(name)->text();
}

void TestPlayerWindow::statusPanel_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QString::fromUtf8("未连接");
    QTest::newRow("1") << 1 << QString::fromUtf8("已连接");
    QTest::newRow("2") << 2 << QString::fromUtf8("未知状态");
    QTest::newRow("4") << 4 << QString::fromUtf8("已授权");
    QTest::newRow("5") << 5 << QString::fromUtf8("未授权");
    QTest::newRow("6") << 6 << QString::fromUtf8("ID冲突");
    QTest::newRow("7") << 7 << QString::fromUtf8("未知状态");
}

void TestPlayerWindow::statusPanel()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QVERIFY2(startPlayer(), "port 12223 is taken");
    QJsonObject object;
    object["terminalId"] = "001A2B3C4D5E100";
    object["mac"] = "00-1A-2B-3C-4D-5E";
    object["connHost"] = "10.0.0.2:9300";
    object["status"] = status;
    object["rtdaHost"] = "10.0.0.3:2100";
    object["password"] = "never shown";
    m_window->sltCallbackStatus(StatusRecord::fromJson(object));
    QCOMPARE(label("labelTid"), QString("001A2B3C4D5E100"));
    QCOMPARE(label("labelMac"), QString("00-1A-2B-3C-4D-5E"));
    QCOMPARE(label("labelServer"), QString("10.0.0.2:9300"));
    QCOMPARE(label("labelStatus"), text);
    QCOMPARE(m_window->zoneHost(), QString("10.0.0.3:2100"));
    // The panel sits in the bottom-right corner, 50 pixels in.
    const QGroupBox *box = m_window->findChild<QGroupBox *>("statusBox");
    QCOMPARE(box->geometry().bottomRight() + QPoint(51, 51),
        QPoint(m_window->screenSize().width(), m_window->screenSize().height()));
    // The window covers the screen, so the panel is on it.
    QCOMPARE(m_window->geometry().size(), m_window->screenSize());
    QVERIFY(box->isVisible());
    for (QLabel *l : m_window->findChildren<QLabel *>())
        QVERIFY(!l->text().contains("never shown"));
}

void TestPlayerWindow::volumeAsStringOrNumber()
{
    QVERIFY2(startPlayer(), "port 12223 is taken");
    const auto status = [](const QJsonValue &volume) {
        return StatusRecord::fromJson(QJsonObject {{"volume", volume}});
    };
    m_window->sltCallbackStatus(status("0.3"));
    QCOMPARE(m_window->zoneVolume(), 0.3);
    m_window->sltCallbackStatus(status(0.7));
    QCOMPARE(m_window->zoneVolume(), 0.7);
    // A volume that is no number is no volume: the sound stays as it was.
    m_window->sltCallbackStatus(status("loud"));
    QCOMPARE(m_window->zoneVolume(), 0.7);
}

void TestPlayerWindow::extendedScreenSwitch()
{
    const QString status = m_env->dataRoot() + "/data/status.json";
    writeFile(status, R"({"extScreen": 1})");
    QVERIFY2(startPlayer(), "port 12223 is taken");
    QCOMPARE(m_window->readExtScreen(), 1);
    QVERIFY(m_window->extendedScreen());
    writeFile(status, R"({"extScreen": "1"})");
    QCOMPARE(m_window->readExtScreen(), 0);
    writeFile(status, "broken");
    QCOMPARE(m_window->readExtScreen(), 0);
}

void TestPlayerWindow::templateBuildsScaledZones()
{
    QVERIFY2(startPlayer(), "port 12223 is taken");
    const QSize screen = m_window->screenSize();
    QVERIFY(screen.isValid());
    // Designed at twice the screen: every rectangle halves.
    const QSize design = screen * 2;
    m_window->sltLoadTemplate(QVariant::fromValue(content("t1.xml", design,
        {area("top", QRect(0, 0, 400, 200), 1), area("bottom", QRect(200, 400, 600, 300), 0)})));
    QCOMPARE(m_window->currentTemplate(), QString("t1.xml"));
    QVERIFY(!m_window->findChild<QGroupBox *>("statusBox")->isVisible());
    QVERIFY(m_window->findChild<QLabel *>("labelBackground")->isVisible());
    QCOMPARE(m_window->allZones().size(), 2);
    ZoneWindow *top = m_window->zonesByName().value("top");
    ZoneWindow *bottom = m_window->zonesByName().value("bottom");
    QVERIFY(top && bottom);
    QCOMPARE(top->zoneRect(), QRect(0, 0, 200, 100));
    QCOMPARE(bottom->zoneRect(), QRect(100, 200, 300, 150));
    QCOMPARE(top->geometry(), top->zoneRect());
    // Stacking keys: Zindex 1 at position 0 is 100, Zindex 0 at position 1 is 1.
    QCOMPARE(m_window->zonesByStacking().keys(), (QList<int> {1, 100}));
    QCOMPARE(m_window->zonesByStacking().value(100), top);

    // A zone moved by the system is put back where the layout placed it.
    bottom->setGeometry(0, 0, 10, 10);
    m_window->relocateZone(QVariant::fromValue(bottom));
    QCOMPARE(bottom->geometry(), QRect(100, 200, 300, 150));

    // A template without a design size is shown as designed for the screen.
    m_window->sltLoadTemplate(
        QVariant::fromValue(content("t0.xml", QSize(0, 0), {area("z", QRect(10, 20, 30, 40), 0)})));
    QCOMPARE(m_window->zonesByName().value("z")->zoneRect(), QRect(10, 20, 30, 40));
}

void TestPlayerWindow::sameTemplateKeepsZonesButTakesContents()
{
    QVERIFY2(startPlayer(), "port 12223 is taken");
    const TP_CONTENT t
        = content("t1.xml", m_window->screenSize(), {area("main", QRect(0, 0, 100, 100), 0)});
    m_window->sltLoadTemplate(QVariant::fromValue(t));
    QPointer<ZoneWindow> zone = m_window->zonesByName().value("main");
    ZONE_MTL mtl;
    mtl.name = "x.png";
    mtl.type = "pic";
    mtl.kind = ContentXml::MtlKind::Picture;
    mtl.len = 5;
    mtl.etimes = 1;
    TP_ZONE_CTRL controls;
    ZONE_CTRL main;
    main.name = "main";
    main.mtls = {mtl};
    ZONE_CTRL orphan;
    orphan.name = "nowhere";
    orphan.mtls = {mtl};
    controls.zones = {main, orphan};
    m_window->sltTemplateZoneCtrl(QVariant::fromValue(controls), 2);
    QCOMPARE(zone->zoneName(), QString("main"));
    QCOMPARE(zone->cycle().playType(), 2);

    m_window->sltLoadTemplate(QVariant::fromValue(t));
    QVERIFY(zone); // not rebuilt
    QCOMPARE(m_window->allZones().size(), 1);
    m_window->sltTemplateZoneCtrl(QVariant::fromValue(controls), 0);
    QCOMPARE(zone->cycle().playType(), 0);
}

void TestPlayerWindow::everyZoneGoesAtTheNextTemplate()
{
    QVERIFY2(startPlayer(), "port 12223 is taken");
    // Two areas with the same title: both windows exist, and both must go.
    m_window->sltLoadTemplate(QVariant::fromValue(content("dup.xml", m_window->screenSize(),
        {area("same", QRect(0, 0, 50, 50), 0), area("same", QRect(60, 0, 50, 50), 0)})));
    QCOMPARE(m_window->allZones().size(), 2);
    QCOMPARE(m_window->zonesByName().size(), 1);
    QPointer<ZoneWindow> first = m_window->allZones().at(0);
    QPointer<ZoneWindow> second = m_window->allZones().at(1);
    m_window->sltLoadTemplate(QVariant::fromValue(
        content("next.xml", m_window->screenSize(), {area("other", QRect(0, 0, 50, 50), 0)})));
    QVERIFY(!first);
    QVERIFY(!second);
    QCOMPARE(m_window->allZones().size(), 1);
}

void TestPlayerWindow::volumeCommandReachesZones()
{
    QVERIFY2(startPlayer(), "port 12223 is taken");
    m_window->sltLoadTemplate(QVariant::fromValue(content("t.xml", m_window->screenSize(),
        {area("a", QRect(0, 0, 50, 50), 0), area("b", QRect(60, 0, 50, 50), 0)})));
    const QByteArray answer
        = localRequest(12223, "POST /notify?cmd=VOLUME&param= 0.8 HTTP/1.1\r\n\r\n");
    QVERIFY(answer.startsWith("HTTP/1.1 200"));
    QTRY_COMPARE(m_window->zonesByName().value("a")->volume(), 0.8);
    QCOMPARE(m_window->zonesByName().value("b")->volume(), 0.8);
    // Lower case is no command.
    localRequest(12223, "POST /notify?cmd=volume&param=0.1 HTTP/1.1\r\n\r\n");
    QCOMPARE(m_window->zonesByName().value("a")->volume(), 0.8);
}

void TestPlayerWindow::exitRecordsCutPlays()
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(m_env->dataRoot() + "/data/mtl/x.png"));
    Clock::setFixedMs(QDateTime(QDate(2024, 3, 15), QTime(12, 0, 0)).toMSecsSinceEpoch());
    auto resetClock = qScopeGuard([] { Clock::reset(); });
    QVERIFY2(startPlayer(), "port 12223 is taken");
    m_window->sltLoadTemplate(QVariant::fromValue(
        content("t.xml", m_window->screenSize(), {area("main", QRect(0, 0, 100, 100), 0)})));
    ZONE_MTL mtl;
    mtl.name = "x.png";
    mtl.type = "pic";
    mtl.kind = ContentXml::MtlKind::Picture;
    mtl.len = 5;
    mtl.etimes = 3; // one slot of 15 s
    TP_ZONE_CTRL controls;
    controls.zones = {ZONE_CTRL {"main", {mtl}}};
    m_window->sltTemplateZoneCtrl(QVariant::fromValue(controls), 0);
    m_window->zonesByName().value("main")->checkPlayZoneMtls();

    // EXIT 12.5 s into the slot: two plays of 5 s were under way, as when the
    // template changes.
    Clock::advanceMs(12500);
    m_player->exit();
    QVERIFY(m_window->allZones().isEmpty());
    const QString log = QString::fromUtf8(readFile(m_player->playLog()->messageFilePath()));
    QVERIFY2(
        log.contains("VALUES('x.png', '2024-03-15 12:00:02', 0, 2, 5, 'pic')"), qPrintable(log));
}

QTEST_MAIN(TestPlayerWindow)
#include "test_playerwindow.moc"
