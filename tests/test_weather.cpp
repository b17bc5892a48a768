#include "clock.h"
#include "clocktext.h"
#include "dailylog.h"
#include "materials/weatherview.h"
#include "testenv.h"
#include "weather/weatherclient.h"
#include "weather/weathercycle.h"
#include "weather/weatherdata.h"
#include "weather/weatherlook.h"
#include "weather/weatherwidget.h"
#include "zones/zonewindow.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextCodec>
#include <QtTest>

using ContentXml::WEATHER_DATA;
using ContentXml::WEATHER_RESP;
using ContentXml::ZONE_MTL;

namespace {

QByteArray report(int code, const QString &temperature, const QString &wind)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><weather c=\"x\" dt=\"t\">"
                          "<city name=\"n\" prov=\"p\" code=\"101\"><foreacast ut=\"u\">"
                          "<day wsId=\"%1\" wsId2=\"0\" wind=\"%3\" temperature=\"%2\"/>"
                          "</foreacast></city></weather>")
        .arg(code)
        .arg(temperature, wind)
        .toUtf8();
}

// A weather server on 127.0.0.1: answers each POST from its table of cities,
// or holds the answers until release().
class FakeWeatherServer : public QObject
{
    Q_OBJECT
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
    };
    QTcpServer server;
    QHash<QString, Answer> table;
    QStringList asked; // cities in the order their requests arrived
    QList<QByteArray> contentTypes;
    bool hold = false;

    FakeWeatherServer()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    void release()
    {
        const auto waiting = m_held;
        m_held.clear();
        for (const auto &held : waiting) {
            if (held.first)
                answer(held.first, held.second);
        }
    }

signals:
    void requestArrived(const QString &city);

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &in = m_in[socket];
        in += socket->readAll();
        const int end = in.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = in.left(end);
        const int length = QRegularExpression(
            QStringLiteral("Content-Length: *(\\d+)"), QRegularExpression::CaseInsensitiveOption)
                               .match(QString::fromLatin1(head))
                               .captured(1)
                               .toInt();
        if (in.size() < end + 4 + length)
            return;
        const QByteArray body = in.mid(end + 4, length);
        in.remove(0, end + 4 + length);
        const QString text = QTextCodec::codecForName("UTF-16LE")->toUnicode(body);
        const QString city
            = QRegularExpression(QStringLiteral("c=\"([^\"]*)\"")).match(text).captured(1);
        contentTypes << QRegularExpression(
            QStringLiteral("Content-Type: *([^\r]*)"), QRegularExpression::CaseInsensitiveOption)
                            .match(QString::fromLatin1(head))
                            .captured(1)
                            .toLatin1();
        asked << city;
        if (hold)
            m_held.append({QPointer<QTcpSocket>(socket), city});
        else
            answer(socket, city);
        emit requestArrived(city);
    }
    void answer(QTcpSocket *socket, const QString &city)
    {
        const Answer a = table.value(city, Answer {404, "no such city"});
        socket->write("HTTP/1.1 " + QByteArray::number(a.status)
            + " X\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(a.body.size())
            + "\r\n\r\n" + a.body);
    }

    QHash<QTcpSocket *, QByteArray> m_in;
    QList<QPair<QPointer<QTcpSocket>, QString>> m_held;
};

ZONE_MTL weatherMtl(const QStringList &cities, int it, int refresh)
{
    ZONE_MTL m;
    m.type = QStringLiteral("weather");
    m.kind = ContentXml::MtlKind::Weather;
    m.len = 10;
    m.etimes = 1;
    m.cn = cities;
    m.it = it;
    m.refreshInterval = refresh;
    return m;
}

// 2024-03-01 08:00:00 local time.
qint64 morning()
{
    return QDateTime(QDate(2024, 3, 1), QTime(8, 0)).toMSecsSinceEpoch();
}

} // namespace

// The weather panel: reply format, words and colours, the city cycle and its
// cache against a local weather server, and requests outliving their panel.
class TestWeather : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parsesReply_data();
    void parsesReply();
    void titles_data();
    void titles();
    void statusColours_data();
    void statusColours();
    void temperatures_data();
    void temperatures();
    void iconByCodeAndHour_data();
    void iconByCodeAndHour();
    void everyIconIsAResource();
    void requestIsUtf16Xml();
    void cycleKeepsAnswersUntilExpiry();

    void panelCyclesCitiesAndCaches();
    void panelShowsCodeColoursAndIcon();
    void failedRequestKeepsPanel_data();
    void failedRequestKeepsPanel();
    void lateAnswerDoesNotReplaceCityOnTurn();
    void oneRequestPerCityAtATime();
    void panelDeletedWhileRequestInFlight();
    void zoneShowsPanelCentred();
    void panelTextsStayInsideZone_data();
    void panelTextsStayInsideZone();
    void zoneDeletedWhileRequestInFlight();

private:
    QLabel *label(WeatherWidget &w, const char *name) { return w.findChild<QLabel *>(name); }
    QStringList logLines() const;

    std::unique_ptr<TestEnv> m_env;
};

void TestWeather::init()
{
    m_env = std::make_unique<TestEnv>();
    QDir().mkpath(m_env->dataRoot() + "/logs");
    DailyLog::setProgramName("lumaview");
    Clock::setFixedMs(morning());
}

void TestWeather::cleanup()
{
    Clock::reset();
    m_env.reset();
}

QStringList TestWeather::logLines() const
{
    const QString text = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    return text.split("\r\n", Qt::SkipEmptyParts);
}

void TestWeather::parsesReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("c");
    QTest::addColumn<int>("wsId");
    QTest::addColumn<QString>("temperature");
    QTest::addColumn<QString>("wind");

    const QString full = "<weather c=\"北京\" dt=\"2024\"><city name=\"北京\" prov=\"北京\" "
                         "code=\"1\"><foreacast ut=\"u\"><day wsId=\"101\" wsId2=\"107\" "
                         "wind=\"东北风3级\" wind2=\"w2\" temperature=\"20/10℃\" liveToday=\"l\" "
                         "date=\"d\"/></foreacast></city></weather>";
    QTest::newRow("utf-8 with declaration")
        << ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + full.toUtf8()) << true << "北京" << 101
        << "20/10℃"
        << "东北风3级";
    QTest::newRow("utf-16 with byte-order mark")
        << QTextCodec::codecForName("UTF-16LE")->fromUnicode(full) << true << "北京" << 101
        << "20/10℃"
        << "东北风3级";
    QTest::newRow("day without attributes")
        << QByteArray("<weather c=\"a\"><city><foreacast><day/></foreacast></city></weather>")
        << true << "a" << 0 << ""
        << "";
    QTest::newRow("no day") << QByteArray("<weather c=\"a\"><city><foreacast/></city></weather>")
                            << false << "a" << -1 << "-"
                            << "-";
    QTest::newRow("only the first child counts")
        << QByteArray("<weather c=\"a\"><town/><city><foreacast><day wsId=\"3\"/></foreacast>"
                      "</city></weather>")
        << false << "a" << -1 << "-"
        << "-";
    QTest::newRow("wrong root") << QByteArray("<html><body>busy</body></html>") << false << "-"
                                << -1 << "-"
                                << "-";
    QTest::newRow("not xml") << QByteArray("no such city") << false << "-" << -1 << "-"
                             << "-";
    QTest::newRow("empty") << QByteArray() << false << "-" << -1 << "-"
                           << "-";
}

void TestWeather::parsesReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, c);
    QFETCH(int, wsId);
    QFETCH(QString, temperature);
    QFETCH(QString, wind);

    // Values the parser does not reach stay as they were.
    WEATHER_RESP resp;
    resp.c = "-";
    resp.city.day.wsId = -1;
    resp.city.day.temperature = "-";
    resp.city.day.wind = "-";
    QCOMPARE(ContentXml::xml_weatherResponse(bytes, resp), ok);
    QCOMPARE(resp.c, c);
    QCOMPARE(resp.city.day.wsId, wsId);
    QCOMPARE(resp.city.day.temperature, temperature);
    QCOMPARE(resp.city.day.wind, wind);
    if (QTest::currentDataTag() == QLatin1String("utf-8 with declaration")) {
        QCOMPARE(resp.dt, QString("2024"));
        QCOMPARE(resp.city.name, QString("北京"));
        QCOMPARE(resp.city.prov, QString("北京"));
        QCOMPARE(resp.city.code, QString("1"));
        QCOMPARE(resp.city.ut, QString("u"));
        QCOMPARE(resp.city.day.wsId2, 107);
        QCOMPARE(resp.city.day.wind2, QString("w2"));
        QCOMPARE(resp.city.day.liveToday, QString("l"));
        QCOMPARE(resp.city.day.date, QString("d"));
    }
}

void TestWeather::titles_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("title");
    QTest::newRow("0") << 0 << "晴";
    QTest::newRow("101") << 101 << "多云";
    QTest::newRow("107") << 107 << "小雨";
    QTest::newRow("35") << 35 << "冰雹";
    QTest::newRow("129") << 129 << "浮尘";
    QTest::newRow("200") << 200 << "晴";
    QTest::newRow("36") << 36 << "";
    QTest::newRow("136") << 136 << "";
    QTest::newRow("99") << 99 << "";
    QTest::newRow("-1") << -1 << "";
}

void TestWeather::titles()
{
    QFETCH(int, code);
    QFETCH(QString, title);
    QCOMPARE(WeatherWidget::getWeatherStatusTitle(code), title);
}

void TestWeather::statusColours_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("color");
    const QString sunny = "#f47920", cloudy = "#33a3dc", rain = "#145b7d", other = "#130c0e";
    QTest::newRow("100") << 100 << sunny;
    QTest::newRow("101") << 101 << cloudy;
    QTest::newRow("2") << 2 << cloudy;
    QTest::newRow("-3") << -3 << cloudy;
    QTest::newRow("103") << 103 << rain;
    QTest::newRow("112") << 112 << rain;
    QTest::newRow("113") << 113 << other;
    QTest::newRow("118") << 118 << other;
    QTest::newRow("119") << 119 << rain;
    QTest::newRow("120") << 120 << other;
    QTest::newRow("121") << 121 << rain;
    QTest::newRow("125") << 125 << rain;
    QTest::newRow("126") << 126 << other;
    QTest::newRow("199") << 199 << other;
}

void TestWeather::statusColours()
{
    QFETCH(int, code);
    QFETCH(QString, color);
    QCOMPARE(WeatherLook::statusColor(code), color);
}

void TestWeather::temperatures_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("color");
    QTest::newRow("mild") << "20/10℃"
                          << "20╱10℃"
                          << "#009ad6";
    QTest::newRow("hot") << "35/28℃"
                         << "35╱28℃"
                         << "#ef4136";
    QTest::newRow("very hot, low first") << "28/39℃"
                                         << "28╱39℃"
                                         << "#d71345";
    QTest::newRow("warm") << "31/20"
                          << "31╱20℃"
                          << "#f47920";
    QTest::newRow("single") << "5℃"
                            << "5℃"
                            << "#102b6a";
    QTest::newRow("freezing") << "3/-2℃"
                              << "3╱-2℃"
                              << "#11264f";
    QTest::newRow("cool") << "12/9℃"
                          << "12╱9℃"
                          << "#102b6a";
    QTest::newRow("degrees on both") << "10℃/20℃"
                                     << "10╱20℃"
                                     << "#009ad6";
    QTest::newRow("empty") << ""
                           << "℃"
                           << "#11264f";
}

void TestWeather::temperatures()
{
    QFETCH(QString, server);
    QFETCH(QString, text);
    QFETCH(QString, color);
    const WeatherLook::Temperature t = WeatherLook::temperature(server);
    QCOMPARE(t.text, text);
    QCOMPARE(t.color, color);
}

void TestWeather::iconByCodeAndHour_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("hour");
    QTest::addColumn<QString>("resource");
    QTest::newRow("cloudy at 08") << 101 << 8 << ":/images/101d.png";
    QTest::newRow("cloudy at 20") << 101 << 20 << ":/images/101n.png";
    QTest::newRow("clear at 07") << 100 << 7 << ":/images/100d.png";
    QTest::newRow("clear at 17") << 100 << 17 << ":/images/100d.png";
    QTest::newRow("clear at 18") << 100 << 18 << ":/images/100n.png";
    QTest::newRow("clear at 06") << 100 << 6 << ":/images/100n.png";
    QTest::newRow("overcast has one picture") << 102 << 3 << ":/images/102.png";
    QTest::newRow("light rain") << 107 << 8 << ":/images/107.png";
}

void TestWeather::iconByCodeAndHour()
{
    QFETCH(int, code);
    QFETCH(int, hour);
    QFETCH(QString, resource);
    QCOMPARE(WeatherLook::iconResource(code, hour), resource);
}

void TestWeather::everyIconIsAResource()
{
    WeatherWidget panel; // registers the icons
    for (int code = 100; code <= 135; ++code) {
        for (int hour : {8, 20}) {
            const QString path = WeatherLook::iconResource(code, hour);
            const QImage image(path);
            QVERIFY2(!image.isNull(), qPrintable(path));
            QVERIFY2(image.width() <= 71 && image.height() <= 71, qPrintable(path));
        }
    }
    QVERIFY(!QImage(":/images/133.png").isNull()); // the form's design picture
}

void TestWeather::requestIsUtf16Xml()
{
    QCOMPARE(WeatherLook::requestUrl("10.0.0.3:2100"), QString("http://10.0.0.3:2100/getweather"));
    const QByteArray body = WeatherLook::requestBody("北京", "2024-03-01 08:00:00");
    QVERIFY(body.startsWith(QByteArray("\xff\xfe<\0x\0", 6))); // the codec writes a byte-order mark
    QCOMPARE(QTextCodec::codecForName("UTF-16LE")->toUnicode(body.mid(2)),
        QString("<xml><p v=\"1152\"/><w g=\"1\" c=\"北京\" dt=\"2024-03-01 08:00:00\"/></xml>"));
    const QString odd
        = QTextCodec::codecForName("UTF-16LE")->toUnicode(WeatherLook::requestBody("A\"&B", "t"));
    QVERIFY2(odd.contains("c=\"A&quot;&amp;B\""), qPrintable(odd));
}

void TestWeather::cycleKeepsAnswersUntilExpiry()
{
    WeatherCycle cycle;
    QVERIFY(!cycle.due(0)); // no cities: nothing happens
    cycle.start({"A", "B"}, 60, 3600);
    const qint64 t0 = morning();
    QCOMPARE(cycle.due(t0).value_or("-"), QString("A"));
    QVERIFY(!cycle.due(t0 + 59999));
    QVERIFY(!cycle.cached("A", t0));
    WEATHER_DATA a;
    a.city = "A";
    cycle.store("A", a, t0 + 500);
    QCOMPARE(cycle.expiryOf("A"), t0 + 500 + 3600 * 1000);
    QCOMPARE(cycle.due(t0 + 60000).value_or("-"), QString("B"));
    QCOMPARE(cycle.due(t0 + 120000).value_or("-"), QString("A"));
    QVERIFY(cycle.cached("A", t0 + 120000));
    QVERIFY(cycle.cached("A", t0 + 240000)); // showing it did not use it up
    QVERIFY(cycle.cached("A", t0 + 500 + 3600 * 1000 - 1));
    QVERIFY(!cycle.cached("A", t0 + 500 + 3600 * 1000));

    // A new material starts again at its first city; kept answers stay.
    cycle.start({"B", "A"}, 10, 3600);
    QCOMPARE(cycle.currentCity(), QString());
    QCOMPARE(cycle.due(t0 + 130000).value_or("-"), QString("B"));
    QVERIFY(cycle.cached("A", t0 + 130000));
}

void TestWeather::panelCyclesCitiesAndCaches()
{
    FakeWeatherServer server;
    server.table["A"] = {200, report(101, "20/10℃", "东风2级")};
    server.table["B"] = {200, report(107, "18/12℃", "北风3级")};
    WeatherWidget panel;
    panel.initWeather(weatherMtl({"A", "B"}, 60, 3600), server.host());
    QVERIFY(panel.isTicking());
    QVERIFY(panel.isHidden()); // the zone shows it
    QCOMPARE(label(panel, "labelCity")->text(), QString());

    const qint64 t0 = Clock::nowMs();
    panel.checkWeather();
    QVERIFY(label(panel, "labelCity")->text().isEmpty()); // the answer comes later
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("A"));
    QCOMPARE(server.asked, QStringList {"A"});
    QCOMPARE(server.contentTypes.value(0), QByteArray("application/octet-stream"));

    Clock::setFixedMs(t0 + 30000);
    panel.checkWeather(); // A's turn lasts 60 s
    Clock::setFixedMs(t0 + 60000);
    panel.checkWeather();
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("B"));
    QCOMPARE(label(panel, "labelWind")->text(), QString("北风3级"));
    QCOMPARE(server.asked, (QStringList {"A", "B"}));

    // Both answers are valid for an hour: each later turn shows its city at once.
    for (int turn = 2; turn < 8; ++turn) {
        Clock::setFixedMs(t0 + turn * 60000);
        panel.checkWeather();
        QCOMPARE(label(panel, "labelCity")->text(), QString(turn % 2 ? "B" : "A"));
    }
    QTest::qWait(50);
    QCOMPARE(server.asked, (QStringList {"A", "B"}));

    // After its answer expires, A is asked for again.
    Clock::setFixedMs(t0 + 3600 * 1000 + 60000);
    server.table["A"] = {200, report(100, "30/20℃", "无风")};
    panel.checkWeather();
    QTRY_COMPARE(server.asked.size(), 3);
    QCOMPARE(server.asked.last(), QString("A"));
    QTRY_COMPARE(label(panel, "labelWind")->text(), QString("无风"));
}

void TestWeather::panelShowsCodeColoursAndIcon()
{
    FakeWeatherServer server;
    server.table["北京"] = {200, report(101, "20/10℃", "东北风3级")};
    server.table["上海"] = {200, report(107, "35/28℃", "南风1级")};
    WeatherWidget panel;
    panel.initWeather(weatherMtl({"北京", "上海"}, 60, 86400), server.host());
    panel.checkWeather();
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("北京"));
    QCOMPARE(label(panel, "labelTemp")->text(), QString("20╱10℃"));
    QCOMPARE(label(panel, "labelTemp")->styleSheet(), QString("color:#009ad6"));
    QCOMPARE(label(panel, "labelStatus")->text(), QString("多云"));
    QCOMPARE(label(panel, "labelStatus")->styleSheet(), QString("color:#33a3dc"));
    QCOMPARE(label(panel, "labelWind")->text(), QString("东北风3级"));
    QCOMPARE(label(panel, "labelPic")->styleSheet(),
        QString("background-image:url(:/images/101d.png);background-repeat:no-repeat"));

    // At night the kept answer is shown with the night picture.
    Clock::setFixedMs(QDateTime(QDate(2024, 3, 1), QTime(20, 0)).toMSecsSinceEpoch());
    panel.checkWeather();
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("上海"));
    QCOMPARE(label(panel, "labelTemp")->styleSheet(), QString("color:#ef4136"));
    QCOMPARE(label(panel, "labelStatus")->text(), QString("小雨"));
    QCOMPARE(label(panel, "labelStatus")->styleSheet(), QString("color:#145b7d"));
    QCOMPARE(label(panel, "labelPic")->styleSheet(),
        QString("background-image:url(:/images/107.png);background-repeat:no-repeat"));
    Clock::setFixedMs(QDateTime(QDate(2024, 3, 1), QTime(20, 1)).toMSecsSinceEpoch());
    panel.checkWeather();
    QCOMPARE(label(panel, "labelCity")->text(), QString("北京"));
    QCOMPARE(label(panel, "labelPic")->styleSheet(),
        QString("background-image:url(:/images/101n.png);background-repeat:no-repeat"));
}

void TestWeather::failedRequestKeepsPanel_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("hold");
    QTest::addColumn<QString>("logged");
    QTest::newRow("server error") << 500 << QByteArray("oops") << false
                                  << "request weather from %1 error ....code: 500 401";
    QTest::newRow("not found") << 404 << QByteArray("no") << false
                               << "request weather from %1 error ....code: 404 203";
    QTest::newRow("no answer in time")
        << 200 << QByteArray() << true << "request weather from %1 error ....code: 0 5";
    QTest::newRow("not a weather document") << 200 << QByteArray("<html>busy</html>") << false
                                            << "weather from %1 for B is not a weather report";
    QTest::newRow("weather without a day")
        << 200 << QByteArray("<weather c=\"B\"><city name=\"B\"/></weather>") << false
        << "weather from %1 for B is not a weather report";
}

void TestWeather::failedRequestKeepsPanel()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, hold);
    QFETCH(QString, logged);

    FakeWeatherServer server;
    server.table["A"] = {200, report(100, "25/15℃", "东风1级")};
    server.table["B"] = {status, body};
    WeatherWidget panel;
    panel.client()->setTimeoutMs(300);
    panel.initWeather(weatherMtl({"A", "B"}, 60, 3600), server.host());
    panel.checkWeather();
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("A"));

    server.hold = hold;
    Clock::advanceMs(60000);
    QSignalSpy ended(panel.client(), &WeatherClient::finished);
    panel.checkWeather();
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.at(0).at(1).toBool(), false);
    // The panel keeps what it showed, colours included.
    QCOMPARE(label(panel, "labelCity")->text(), QString("A"));
    QCOMPARE(label(panel, "labelTemp")->text(), QString("25╱15℃"));
    QCOMPARE(label(panel, "labelStatus")->text(), QString("晴"));
    QCOMPARE(label(panel, "labelStatus")->styleSheet(), QString("color:#f47920"));
    QVERIFY(!panel.cycle().cached("B", Clock::nowMs()));

    const QString url = QString("http://%1/getweather").arg(server.host());
    const QStringList lines = logLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("[ WEATHERWIDGET ] - [ WARN ]"), qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(logged.arg(url)), qPrintable(lines.first()));

    // The next turn of B asks again.
    server.hold = false;
    server.table["B"] = {200, report(102, "15/5℃", "西风2级")};
    Clock::advanceMs(60000);
    panel.checkWeather(); // A from its kept answer
    Clock::advanceMs(60000);
    panel.checkWeather();
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("B"));
    QCOMPARE(label(panel, "labelStatus")->text(), QString("阴"));
}

void TestWeather::lateAnswerDoesNotReplaceCityOnTurn()
{
    FakeWeatherServer server;
    server.table["A"] = {200, report(100, "25/15℃", "东风1级")};
    server.table["B"] = {200, report(107, "18/12℃", "北风3级")};
    server.hold = true;
    WeatherWidget panel;
    panel.initWeather(weatherMtl({"A", "B"}, 5, 3600), server.host());
    QSignalSpy arrived(&server, &FakeWeatherServer::requestArrived);
    panel.checkWeather();
    QVERIFY(arrived.wait(5000));
    Clock::advanceMs(5000);
    panel.checkWeather();
    QTRY_COMPARE(arrived.size(), 2);

    // Both answers arrive during B's turn: only B is shown, A is kept.
    QSignalSpy ended(panel.client(), &WeatherClient::finished);
    server.release();
    QTRY_COMPARE(ended.size(), 2);
    QCOMPARE(label(panel, "labelCity")->text(), QString("B"));
    QVERIFY(panel.cycle().cached("A", Clock::nowMs()));
    Clock::advanceMs(5000);
    panel.checkWeather();
    QCOMPARE(label(panel, "labelCity")->text(), QString("A"));
    QCOMPARE(server.asked, (QStringList {"A", "B"}));
}

void TestWeather::oneRequestPerCityAtATime()
{
    // One city turning every tick while its server is slow: one request under way.
    FakeWeatherServer server;
    server.table["A"] = {200, report(100, "25/15℃", "东风1级")};
    server.hold = true;
    WeatherWidget panel;
    panel.initWeather(weatherMtl({"A"}, 1, 3600), server.host());
    QSignalSpy arrived(&server, &FakeWeatherServer::requestArrived);
    for (int i = 0; i < 5; ++i) {
        panel.checkWeather();
        Clock::advanceMs(1000);
        QTest::qWait(20);
    }
    QCOMPARE(panel.client()->pendingCount(), 1);
    QTRY_COMPARE(arrived.size(), 1);
    server.release();
    QTRY_COMPARE(label(panel, "labelCity")->text(), QString("A"));
    QCOMPARE(panel.client()->pendingCount(), 0);
    QCOMPARE(server.asked, QStringList {"A"});
}

void TestWeather::panelDeletedWhileRequestInFlight()
{
    FakeWeatherServer server;
    server.table["A"] = {200, report(100, "25/15℃", "东风1级")};
    server.hold = true;
    QSignalSpy arrived(&server, &FakeWeatherServer::requestArrived);

    auto *zone = new QWidget;
    auto *panel = new WeatherWidget(zone);
    QPointer<WeatherClient> client = panel->client();
    panel->initWeather(weatherMtl({"A"}, 60, 3600), server.host());
    panel->checkWeather();
    QVERIFY(arrived.wait(5000));
    QCOMPARE(client->pendingCount(), 1);

    // The template changes: the zone goes with its panel while the request waits.
    delete zone;
    QVERIFY(client.isNull());
    server.release();
    QTest::qWait(200);
    QVERIFY(logLines().isEmpty()); // the dropped request is neither shown nor reported
}

// A zone whose list holds a weather material, pointed at the server.
static std::unique_ptr<ZoneWindow> weatherZone(
    const QString &host, const QList<ZONE_MTL> &mtls, QSize size = QSize(800, 300))
{
    auto zone = std::make_unique<ZoneWindow>(nullptr);
    zone->initParam(host, 0.5, 0, 0, size.width(), size.height());
    zone->setGeometry(zone->zoneRect());
    zone->show();
    ContentXml::ZONE_CTRL ctrl;
    ctrl.name = "main";
    ctrl.mtls = mtls;
    zone->setZoneCtrl(ctrl, nullptr, 0);
    return zone;
}

void TestWeather::zoneShowsPanelCentred()
{
    FakeWeatherServer server;
    server.table["北京"] = {200, report(101, "20/10℃", "东北风3级")};
    ZONE_MTL other;
    other.type = "text";
    other.kind = ContentXml::MtlKind::Text;
    other.caption = "hello";
    other.color = "#FFFFFF";
    other.bgcolor = "#1B2631";
    other.len = 10;
    other.etimes = 1;
    auto zone = weatherZone(server.host(), {weatherMtl({"北京"}, 60, 3600), other});
    zone->checkPlayZoneMtls();
    auto *view = static_cast<WeatherView *>(zone->view(ContentXml::MtlKind::Weather));
    QVERIFY(view && view->panel());
    WeatherWidget *panel = view->panel();
    QCOMPARE(panel->parentWidget(), zone.get());
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->geometry(), QRect((800 - 472) / 2, (300 - 86) / 2, 472, 86));
    QCOMPARE(panel->server(), server.host());
    QVERIFY(panel->isTicking());
    panel->checkWeather();
    QTRY_COMPARE(label(*panel, "labelCity")->text(), QString("北京"));

    // The next material hides the panel; it keeps its cycle going.
    Clock::advanceMs(10000);
    zone->checkPlayZoneMtls();
    QCOMPARE(zone->currentType(), QString("text"));
    QVERIFY(!panel->isVisible());
    QVERIFY(zone->styleSheet().contains("#1B2631"));
    QVERIFY(panel->isTicking());

    // Back to the weather: the same panel, started again at its first city.
    Clock::advanceMs(10000);
    zone->checkPlayZoneMtls();
    QCOMPARE(view->panel(), panel);
    QVERIFY(panel->isVisible());
    QCOMPARE(zone->styleSheet(), QString()); // not the text's dark ground
    QCOMPARE(label(*panel, "labelCity")->text(), QString());
    panel->checkWeather(); // the kept answer, without asking again
    QCOMPARE(label(*panel, "labelCity")->text(), QString("北京"));
    QCOMPARE(server.asked, QStringList {"北京"});
}

void TestWeather::panelTextsStayInsideZone_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("scaled");
    // The demo's weather zone (640 x 560 of a 1920 x 1080 design) on its
    // 1280 x 720 screen and on a 1920 x 1080 one, and zones smaller than the
    // panel in either direction.
    QTest::newRow("demo 1280x720") << QSize(427, 373) << true;
    QTest::newRow("demo 1920x1080") << QSize(640, 560) << false;
    QTest::newRow("narrow") << QSize(250, 300) << true;
    QTest::newRow("low") << QSize(700, 60) << true;
}

void TestWeather::panelTextsStayInsideZone()
{
    QFETCH(QSize, size);
    QFETCH(bool, scaled);
    auto zone = weatherZone(QString(), {weatherMtl({"乌鲁木齐"}, 60, 3600)}, size);
    zone->checkPlayZoneMtls();
    auto *view = static_cast<WeatherView *>(zone->view(ContentXml::MtlKind::Weather));
    QVERIFY(view && view->panel());
    WeatherWidget *panel = view->panel();
    panel->hide();
    const QImage empty = zone->grab().toImage();
    panel->show();
    panel->showWeatherData({"乌鲁木齐", "20/10℃", 101, "多云", "东北风3级"});

    QCOMPARE(panel->scale() < 1.0, scaled);
    if (!scaled)
        QCOMPARE(panel->size(), QSize(472, 86));
    const int m = WeatherWidget::MARGIN;
    QVERIFY(QRect(QPoint(0, 0), size).adjusted(m, m, -m, -m).contains(panel->geometry()));
    // Every text fits its label at the panel's scale.
    for (QLabel *text : panel->findChildren<QLabel *>()) {
        if (!text->text().isEmpty())
            QVERIFY2(text->fontMetrics().horizontalAdvance(text->text()) <= text->width(),
                qPrintable(text->objectName()));
    }
    // By pixels: something was drawn, and nothing within the margin of the
    // zone's edges changed.
    const QImage shown = zone->grab().toImage();
    QCOMPARE(shown.size(), empty.size());
    QRect drawn;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != empty.pixel(x, y))
                drawn |= QRect(x, y, 1, 1);
    QVERIFY(drawn.width() > panel->width() / 2);
    QVERIFY2(QRect(QPoint(0, 0), size).adjusted(m, m, -m, -m).contains(drawn),
        qPrintable(QStringLiteral("drawn %1,%2 %3x%4")
                       .arg(drawn.x())
                       .arg(drawn.y())
                       .arg(drawn.width())
                       .arg(drawn.height())));
}

void TestWeather::zoneDeletedWhileRequestInFlight()
{
    FakeWeatherServer server;
    server.table["北京"] = {200, report(101, "20/10℃", "东北风3级")};
    server.hold = true;
    QSignalSpy arrived(&server, &FakeWeatherServer::requestArrived);
    auto zone = weatherZone(server.host(), {weatherMtl({"北京"}, 60, 3600)});
    zone->checkPlayZoneMtls();
    auto *view = static_cast<WeatherView *>(zone->view(ContentXml::MtlKind::Weather));
    QPointer<WeatherWidget> panel = view->panel();
    panel->checkWeather();
    QVERIFY(arrived.wait(5000));

    zone->saveLastPlayDetail();
    zone.reset(); // the template changed while the answer was on its way
    QVERIFY(panel.isNull());
    server.release();
    QTest::qWait(200);
    QVERIFY(logLines().isEmpty());
}

QTEST_MAIN(TestWeather)
#include "test_weather.moc"
