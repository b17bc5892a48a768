#include "clock.h"
#include "clocktext.h"
#include "dailylog.h"
#include "httpfileserver.h"
#include "signageserver.h"
#include "simcontrol.h"
#include "testenv.h"
#include "weather/weatherclient.h"
#include "weather/weatherdata.h"
#include "weather/weatherlook.h"
#include "weather/weatherwidget.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTextCodec>
#include <QtTest>

using ContentXml::WEATHER_RESP;

namespace {
struct Answer
{
    int status = 0;
    QByteArray body;
};
} // namespace

// The simulator's weather server: what it answers, its faults and control
// commands, and the player's weather panel against it.
class TestSimWeather : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readsRequests_data();
    void readsRequests();
    void answersFromItsTable_data();
    void answersFromItsTable();
    void slowAndFailingByCommand();
    void commandsChangeTheTable();
    void panelShowsSimulatorWeather();

private:
    Answer post(const QByteArray &body);
    QString host() const { return QString("127.0.0.1:%1").arg(m_server->http()->port()); }

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<SignageServer> m_server;
    std::unique_ptr<SimControl> m_control;
    QNetworkAccessManager m_manager;
};

void TestSimWeather::init()
{
    m_env = std::make_unique<TestEnv>();
    QDir().mkpath(m_env->dataRoot() + "/logs");
    DailyLog::setProgramName("lumaview");
    m_server = std::make_unique<SignageServer>();
    QVERIFY(m_server->listenHttp(QHostAddress::LocalHost, 0));
    m_control = std::make_unique<SimControl>(m_server.get());
    m_manager.setProxy(QNetworkProxy::NoProxy);
}

void TestSimWeather::cleanup()
{
    m_control.reset();
    m_server.reset();
    m_env.reset();
}

Answer TestSimWeather::post(const QByteArray &body)
{
    QNetworkRequest request(QUrl(WeatherLook::requestUrl(host())));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
    QNetworkReply *reply = m_manager.post(request, body);
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!done.wait(10000))
        return {};
    reply->deleteLater();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

void TestSimWeather::readsRequests_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("city");
    const QString xml
        = "<xml><p v=\"1152\"/><w g=\"1\" c=\"北京\" dt=\"2024-03-01 08:00:00\"/></xml>";
    QTextCodec *utf16 = QTextCodec::codecForName("UTF-16LE");
    QTest::newRow("as the player sends it")
        << WeatherLook::requestBody("北京", "2024-03-01 08:00:00") << true << "北京";
    QTest::newRow("utf-16 without byte-order mark")
        << utf16->fromUnicode(xml).mid(2) << true << "北京";
    QTest::newRow("utf-8 by hand") << xml.toUtf8() << true << "北京";
    QTest::newRow("escaped name") << WeatherLook::requestBody("A&B", "t") << true << "A&B";
    QTest::newRow("no city") << QByteArray("<xml><w g=\"1\"/></xml>") << false << "";
    QTest::newRow("other root") << QByteArray("<w c=\"x\"/>") << false << "";
    QTest::newRow("not xml") << QByteArray("hello") << false << "";
}

void TestSimWeather::readsRequests()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QString, city);
    QString parsed;
    QCOMPARE(WeatherService::parseRequest(body, &parsed), ok);
    QCOMPARE(parsed, city);
}

void TestSimWeather::answersFromItsTable_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("report");
    QTest::addColumn<int>("wsId");
    QTest::addColumn<QString>("temperature");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("known city") << WeatherLook::requestBody("北京", "2024-03-01 08:00:00") << 200
                                << true << 101 << "20/10℃"
                                << "report";
    QTest::newRow("snowy city") << WeatherLook::requestBody("乌鲁木齐", "2024-03-01 08:00:00")
                                << 200 << true << 114 << "3/-2℃"
                                << "report";
    QTest::newRow("unknown city") << WeatherLook::requestBody("Atlantis", "t") << 200 << false << 0
                                  << ""
                                  << "unknown city";
    QTest::newRow("unreadable") << QByteArray("hello") << 400 << false << 0 << ""
                                << "unreadable";
}

void TestSimWeather::answersFromItsTable()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(bool, report);
    QFETCH(int, wsId);
    QFETCH(QString, temperature);
    QFETCH(QString, outcome);

    const Answer a = post(body);
    QCOMPARE(a.status, status);
    WEATHER_RESP resp;
    QCOMPARE(ContentXml::xml_weatherResponse(a.body, resp), report);
    QCOMPARE(resp.city.day.wsId, wsId);
    QCOMPARE(resp.city.day.temperature, temperature);
    if (report) {
        QString city;
        QVERIFY(WeatherService::parseRequest(body, &city));
        QCOMPARE(resp.c, city);
        QCOMPARE(resp.dt, QString("2024-03-01 08:00:00"));
        QCOMPARE(resp.city.name, city);
        QVERIFY(!resp.city.day.wind.isEmpty());
    } else if (status == 200) {
        QCOMPARE(resp.c, QString("Atlantis")); // a weather root without a city
    }
    const auto asked = m_server->http()->weather().asked();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().status, status);
    QCOMPARE(asked.first().outcome, outcome);
    QCOMPARE(m_server->http()->requests().last().target, QString("/getweather"));
}

void TestSimWeather::slowAndFailingByCommand()
{
    const QByteArray body = WeatherLook::requestBody("上海", "t");
    QCOMPARE(m_control->execute("weather fail 2"), QString("ok"));
    QCOMPARE(m_control->execute("weather slow 400"), QString("ok"));
    QVERIFY(m_control->execute("faults").contains("weather fail 2"));
    QVERIFY(m_control->execute("faults").contains("weather slow 400"));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(post(body).status, 500);
    QVERIFY(clock.elapsed() >= 400); // never sooner than told
    QCOMPARE(post(body).status, 500);
    QCOMPARE(m_control->execute("weather slow 0"), QString("ok"));
    const Answer good = post(body);
    QCOMPARE(good.status, 200);
    WEATHER_RESP resp;
    QVERIFY(ContentXml::xml_weatherResponse(good.body, resp));

    QCOMPARE(m_control->execute("weather bad"), QString("ok"));
    const Answer bad = post(body);
    QCOMPARE(bad.status, 200);
    QVERIFY(!ContentXml::xml_weatherResponse(bad.body, resp));
    QCOMPARE(post(body).status, 200);

    QCOMPARE(m_control->execute("weather fail all"), QString("ok"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(post(body).status, 500);
    QCOMPARE(m_control->execute("faults clear"), QString("ok"));
    QCOMPARE(m_control->execute("faults"), QString("ok"));
    QCOMPARE(post(body).status, 200);

    for (const QString wrong : {"weather slow", "weather slow -1", "weather fail x",
             "weather bad 1 2", "weather city X", "weather frobnicate"})
        QVERIFY2(m_control->execute(wrong).startsWith("error:"), qPrintable(wrong));
}

void TestSimWeather::commandsChangeTheTable()
{
    QCOMPARE(m_control->execute("weather city 拉萨 100 15/2℃ 微风"), QString("ok"));
    const Answer a = post(WeatherLook::requestBody("拉萨", "t"));
    WEATHER_RESP resp;
    QVERIFY(ContentXml::xml_weatherResponse(a.body, resp));
    QCOMPARE(resp.city.day.wsId, 100);
    QCOMPARE(resp.city.day.temperature, QString("15/2℃"));
    QCOMPARE(resp.city.day.wind, QString("微风"));

    // Changing a known city keeps what the command does not name.
    QCOMPARE(m_control->execute("weather city 北京 104 30/22℃"), QString("ok"));
    QVERIFY(
        ContentXml::xml_weatherResponse(post(WeatherLook::requestBody("北京", "t")).body, resp));
    QCOMPARE(resp.city.day.wsId, 104);
    QCOMPARE(resp.city.day.wind, QString("东北风3级"));

    const QString listing = m_control->execute("weather");
    QVERIFY2(listing.contains("city 拉萨 100 15/2℃ 微风"), qPrintable(listing));
    QVERIFY2(listing.contains("asked "), qPrintable(listing));
    QVERIFY(listing.endsWith("ok"));
}

void TestSimWeather::panelShowsSimulatorWeather()
{
    Clock::setFixedMs(QDateTime(QDate(2024, 3, 1), QTime(10, 0)).toMSecsSinceEpoch());
    ContentXml::ZONE_MTL mtl;
    mtl.type = "weather";
    mtl.cn = {"广州", "Atlantis", "北京"};
    mtl.it = 60;
    mtl.refreshInterval = 3600;
    WeatherWidget panel;
    panel.client()->setTimeoutMs(300);
    panel.initWeather(mtl, host());
    auto text = [&](const char *name) { return panel.findChild<QLabel *>(name)->text(); };
    auto style = [&](const char *name) { return panel.findChild<QLabel *>(name)->styleSheet(); };

    panel.checkWeather();
    QTRY_COMPARE(text("labelCity"), QString("广州"));
    QCOMPARE(text("labelTemp"), QString("33╱25℃"));
    QCOMPARE(style("labelTemp"), QString("color:#f47920"));
    QCOMPARE(text("labelStatus"), QString("晴"));
    QCOMPARE(style("labelStatus"), QString("color:#f47920"));
    QVERIFY(style("labelPic").contains(":/images/100d.png"));

    // A city the server does not know: the panel stays, one warning.
    QSignalSpy ended(panel.client(), &WeatherClient::finished);
    Clock::advanceMs(60000);
    panel.checkWeather();
    QVERIFY(ended.wait(5000));
    QCOMPARE(text("labelCity"), QString("广州"));

    // A server slower than the limit: the request is given up, the panel stays.
    QCOMPARE(m_control->execute("weather slow 2000"), QString("ok"));
    Clock::advanceMs(60000);
    panel.checkWeather();
    QVERIFY(ended.wait(5000));
    QCOMPARE(text("labelCity"), QString("广州"));
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY2(log.contains("for Atlantis is not a weather report"), qPrintable(log));
    QVERIFY2(
        log.contains(
            QString("request weather from http://%1/getweather error ....code: 0 5").arg(host())),
        qPrintable(log));
    Clock::reset();
}

QTEST_MAIN(TestSimWeather)
#include "test_simweather.moc"
