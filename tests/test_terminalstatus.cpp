#include "clock.h"
#include "clocktext.h"
#include "dailylog.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "statusfile.h"
#include "testenv.h"
#include "upkeep/startguard.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestTerminalStatus : public QObject
{
    Q_OBJECT
    ServiceSettings m_settings;

private slots:
    void init() { m_settings.reset(); }
    void terminalIdFromMac_data();
    void terminalIdFromMac();
    void connHostSplit();
    void firstStartCreatesDocumentedFile();
    void restartKeepsSettingsAndUnknownKeys();
    void longFileIsReadWhole();
    void utf8PasswordSurvivesRestarts();
    void sessionLoadDefaults();
    void sessionLoadValues();
    void writersKeepOtherKeys();
    void writersDoNothingWithoutFile();
    void startGuardSetsAsideAfterShortRuns_data();
    void startGuardSetsAsideAfterShortRuns();
    void emptyServerAddressLeavesHostsAlone();
    void rewriteNeverLeavesPartialFile();
    void damagedFileIsSetAside_data();
    void damagedFileIsSetAside();
};

void TestTerminalStatus::terminalIdFromMac_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("id");
    QTest::newRow("documented") << "00-1A-2B-3C-4D-5E"
                                << "001A2B3C4D5E100";
    QTest::newRow("other") << "B8-27-EB-12-34-56"
                           << "B827EB12345628B";
    QTest::newRow("empty") << ""
                           << "";
}

void TestTerminalStatus::terminalIdFromMac()
{
    QFETCH(QString, mac);
    QFETCH(QString, id);
    QCOMPARE(TerminalStatus::deriveTerminalId(mac), id);
}

void TestTerminalStatus::connHostSplit()
{
    QString ip;
    QString port;
    QVERIFY(TerminalStatus::splitConnHost("10.1.2.3:8800", ip, port));
    QCOMPARE(ip, QString("10.1.2.3"));
    QCOMPARE(port, QString("8800"));
    QVERIFY(TerminalStatus::splitConnHost("host:", ip, port));
    QCOMPARE(port, QString());
    QVERIFY(!TerminalStatus::splitConnHost(":1234", ip, port));
    QVERIFY(!TerminalStatus::splitConnHost(":", ip, port));
    QVERIFY(!TerminalStatus::splitConnHost("nohost", ip, port));
}

void TestTerminalStatus::firstStartCreatesDocumentedFile()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data");
    TerminalStatus status(QString(), m_settings);
    status.loadAtStartup([] { return QString("00-1A-2B-3C-4D-5E"); });

    const QJsonObject object = StatusFile::read(status.path());
    QJsonObject expected;
    expected["terminalId"] = "001A2B3C4D5E100";
    expected["mac"] = "00-1A-2B-3C-4D-5E";
    expected["connHost"] = ":";
    expected["password"] = "";
    expected["status"] = 5;
    expected["rtdaHost"] = ":2100";
    expected["volume"] = "0.1";
    QCOMPARE(object, expected);
    QCOMPARE(m_settings.terminalId.get(), QString("001A2B3C4D5E100"));
    // Indented, keys in alphabetical order.
    QVERIFY(readFile(status.path()).startsWith("{\n    \"connHost\": \":\",\n    \"mac\""));
}

void TestTerminalStatus::restartKeepsSettingsAndUnknownKeys()
{
    TestEnv env;
    TerminalStatus status(QString(), m_settings);
    writeFile(status.path(),
        R"({"connHost":"srv.example:9000","terminalId":"T1","mac":"AA-BB",)"
        R"("password":"pw","status":4,"volume":0.7,"clearType":2,)"
        R"("syncTime":1765000000000})");
    status.loadAtStartup([] { return QString("00-00-00-00-00-01"); });
    QCOMPARE(m_settings.connIp.get(), QString("srv.example"));
    QCOMPARE(m_settings.connPort.get(), QString("9000"));
    QCOMPARE(m_settings.terminalId.get(), QString("T1"));
    QCOMPARE(m_settings.mac.get(), QString("AA-BB"));
    const QJsonObject object = StatusFile::read(status.path());
    QCOMPARE(object["status"].toInt(), 4);
    QCOMPARE(object["volume"].toDouble(), 0.7);
    QCOMPARE(object["clearType"].toInt(), 2);
    QCOMPARE(object["syncTime"].toDouble(), 1765000000000.0);
    QCOMPARE(object["connHost"].toString(), QString("srv.example:9000"));
}

void TestTerminalStatus::longFileIsReadWhole()
{
    // Longer than any small fixed buffer: the address and password must survive a restart.
    TestEnv env;
    TerminalStatus status(QString(), m_settings);
    const QString host = QString(200, 'h') + ".example.org";
    QJsonObject object;
    object["connHost"] = host + ":7000";
    object["password"] = QString(120, 'p');
    object["terminalId"] = "ID";
    object["mac"] = "AA";
    object["rtdaHost"] = host + ":2100";
    writeFile(status.path(), QJsonDocument(object).toJson());
    QVERIFY(readFile(status.path()).size() > 600);
    status.loadAtStartup({});
    QCOMPARE(m_settings.connIp.get(), host);
    QCOMPARE(StatusFile::read(status.path())["password"].toString(), QString(120, 'p'));
}

void TestTerminalStatus::utf8PasswordSurvivesRestarts()
{
    TestEnv env;
    TerminalStatus status(QString(), m_settings);
    QDir().mkpath(env.dataRoot() + "/data");
    status.loadAtStartup([] { return QString("00-1A-2B-3C-4D-5E"); });
    const QString password = QString::fromUtf8("密码pässwörd");
    m_settings.sudoPassword = password;
    m_settings.connIp = "1.2.3.4";
    m_settings.connPort = "80";
    QVERIFY(status.saveTerminalInfo());
    for (int restart = 0; restart < 3; ++restart) {
        m_settings.reset();
        status.loadAtStartup({});
        QCOMPARE(m_settings.sudoPassword.get(), password);
    }
    m_settings.reset();
    status.reloadForSession();
    QCOMPARE(m_settings.sudoPassword.get(), password);
}

void TestTerminalStatus::sessionLoadDefaults()
{
    TestEnv env;
    TerminalStatus status(QString(), m_settings);
    writeFile(status.path(), "{\"connHost\":\":1234\",\"volume\":\"0.1\"}");
    m_settings.sudoPassword = "changed";
    const SessionSettings settings = status.reloadForSession();
    QCOMPARE(settings.status, 5);
    QCOMPARE(settings.volume, 0.1);
    QCOMPARE(settings.clearType, 5);
    QCOMPARE(settings.lastSyncMs, 0);
    QCOMPARE(m_settings.sudoPassword.get(), QString()); // none built in: sudo -n
    QCOMPARE(m_settings.connIp.get(), QString()); // ":1234" is ignored
    QCOMPARE(status.getClearType(), 5);

    writeFile(status.path(), "not json");
    QCOMPARE(status.reloadForSession().volume, 0.1);
}

void TestTerminalStatus::sessionLoadValues()
{
    TestEnv env;
    TerminalStatus status(QString(), m_settings);
    writeFile(status.path(),
        R"({"status":6,"connHost":"h:1","terminalId":"X","mac":"M",)"
        R"("volume":0.35,"clearType":1,"password":"p","syncTime":1765432100123})");
    const SessionSettings settings = status.reloadForSession();
    QCOMPARE(settings.status, 6);
    QCOMPARE(settings.volume, 0.35);
    QCOMPARE(settings.clearType, 1);
    QCOMPARE(settings.lastSyncMs, Q_INT64_C(1765432100123));
    QCOMPARE(m_settings.connIp.get(), QString("h"));
    QCOMPARE(m_settings.connPort.get(), QString("1"));
    QCOMPARE(m_settings.terminalId.get(), QString("X"));
    QCOMPARE(status.getClearType(), 1);
}

void TestTerminalStatus::writersKeepOtherKeys()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data");
    TerminalStatus status(QString(), m_settings);
    status.loadAtStartup([] { return QString("00-1A-2B-3C-4D-5E"); });

    QVERIFY(status.writeTerminalStatus("NEWID", 4));
    QCOMPARE(m_settings.terminalId.get(), QString("NEWID"));
    QVERIFY(status.writeSyncTime(1765432100123));
    QVERIFY(status.writeVolume(0.5));
    QVERIFY(status.writeClearType(3));
    QVERIFY(status.writeServerConfig("10.0.0.9", 8800, "10.0.0.10", 2100));

    const QJsonObject object = StatusFile::read(status.path());
    QCOMPARE(object["terminalId"].toString(), QString("NEWID"));
    QCOMPARE(object["status"].toInt(), 4);
    QCOMPARE(object["volume"].toDouble(), 0.5);
    QVERIFY(object["volume"].isDouble());
    QCOMPARE(object["clearType"].toInt(), 3);
    QCOMPARE(object["connHost"].toString(), QString("10.0.0.9:8800"));
    QCOMPARE(object["rtdaHost"].toString(), QString("10.0.0.10:2100"));
    QCOMPARE(object["mac"].toString(), QString("00-1A-2B-3C-4D-5E"));
    QCOMPARE(object["password"].toString(), QString());
    // The time stamp goes back to the session unchanged, in integer notation.
    QVERIFY(readFile(status.path()).contains("\"syncTime\": 1765432100123"));
    QCOMPARE(status.reloadForSession().lastSyncMs, Q_INT64_C(1765432100123));
}

void TestTerminalStatus::writersDoNothingWithoutFile()
{
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data");
    TerminalStatus status(QString(), m_settings);
    QVERIFY(!status.writeVolume(0.5));
    QVERIFY(!status.writeTerminalStatus("X", 4));
    QVERIFY(!status.writeSyncTime(1));
    QVERIFY(!QFile::exists(status.path()));
    QCOMPARE(m_settings.terminalId.get(), QString("X")); // the in-memory effect still happens
}

void TestTerminalStatus::emptyServerAddressLeavesHostsAlone()
{
    TestEnv env;
    TerminalStatus status(QString(), m_settings);
    writeFile(status.path(), R"({"connHost":"a:1","rtdaHost":"a:2100"})");
    QVERIFY(!status.writeServerConfig("", 8800, "b", 2100));
    const QJsonObject object = StatusFile::read(status.path());
    QCOMPARE(object["connHost"].toString(), QString("a:1"));
    QCOMPARE(object["rtdaHost"].toString(), QString("a:2100"));
}

void TestTerminalStatus::rewriteNeverLeavesPartialFile()
{
    // A reader polling while the service rewrites must always see a whole document.
    TestEnv env;
    QDir().mkpath(env.dataRoot() + "/data");
    TerminalStatus status(QString(), m_settings);
    status.loadAtStartup([] { return QString("00-1A-2B-3C-4D-5E"); });
    std::atomic<bool> done {false};
    std::atomic<int> bad {0};
    QThread *reader = QThread::create([&] {
        while (!done) {
            if (StatusFile::read(status.path())["terminalId"].toString().isEmpty())
                ++bad;
        }
    });
    reader->start();
    for (int i = 0; i < 300; ++i)
        status.writeVolume(i / 300.0);
    done = true;
    reader->wait();
    delete reader;
    QCOMPARE(bad.load(), 0);
    // No temporary files left beside it.
    QCOMPARE(QDir(env.dataRoot() + "/data").entryList(QDir::Files),
        QStringList({"status.json", "status.json.good"}));
}

void TestTerminalStatus::damagedFileIsSetAside_data()
{
    QTest::addColumn<QByteArray>("damaged");
    QTest::addColumn<bool>("goodCopy");
    QTest::addColumn<bool>("atStart"); // else at a session load
    const QByteArray cut = R"({"connHost":"10.0.0.9:9000","terminalId":"T1","pass)";
    QTest::newRow("cut in half, good copy") << cut << true << true;
    QTest::newRow("cut in half, no copy") << cut << false << true;
    QTest::newRow("hand edit, session load")
        << QByteArray("{\"connHost\": 10.0.0.9:9000,}") << true << false;
    QTest::newRow("hand edit, session load, no copy") << QByteArray("[]") << false << false;
    QTest::newRow("empty") << QByteArray() << true << true;
    QTest::newRow("zeros") << QByteArray(300, '\0') << true << true;
}

void TestTerminalStatus::damagedFileIsSetAside()
{
    // A status.json that does not parse is never overwritten: it is moved
    // aside and the last good copy taken; without one the settings in memory
    // (or, at start, the configuration window) take over.
    QFETCH(QByteArray, damaged);
    QFETCH(bool, goodCopy);
    QFETCH(bool, atStart);
    TestEnv env;
    QVERIFY(QDir().mkpath(env.dataRoot() + "/data") && QDir().mkpath(env.dataRoot() + "/logs"));
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 10), QTime(8, 30, 5)).toMSecsSinceEpoch());
    const auto resetClock = qScopeGuard([] { Clock::reset(); });
    TerminalStatus status(QString(), m_settings);
    QVERIFY(writeFile(status.path(),
        R"({"connHost":"10.0.0.9:9000","terminalId":"T1","mac":"AA","password":"pw"})"));
    status.loadAtStartup({});
    if (!goodCopy)
        QVERIFY(QFile::remove(StatusFile::goodCopyPath(status.path())));
    QVERIFY(writeFile(status.path(), damaged));
    if (atStart)
        m_settings.reset();
    QCOMPARE(status.writeVolume(0.3), false); // never written over

    if (atStart)
        status.loadAtStartup([] { return QString("00-1A-2B-3C-4D-5E"); });
    else
        status.reloadForSession();
    const bool kept = goodCopy || !atStart;
    QCOMPARE(readFile(status.path() + ".bad-20261210-083005"), damaged);
    const QJsonObject now = StatusFile::read(status.path());
    QCOMPARE(now["connHost"].toString(), kept ? QString("10.0.0.9:9000") : QString(":"));
    QCOMPARE(m_settings.connIp.get(), kept ? QString("10.0.0.9") : QString());
    QCOMPARE(now["password"].toString(), kept ? QString("pw") : QString());
    QVERIFY(
        readFile(DailyLog::filePath(ClockText::date())).contains("[ STATUS_DAMAGED ] - [ ERROR ]"));
}

void TestTerminalStatus::startGuardSetsAsideAfterShortRuns_data()
{
    QTest::addColumn<QByteArray>("notes"); // starts before this one, seconds before it
    QTest::addColumn<bool>("setAside");
    QTest::newRow("first start") << QByteArray() << false;
    QTest::newRow("two short runs") << QByteArray("-100\n-50\n") << false;
    QTest::newRow("three short runs") << QByteArray("-200\n-100\n-50\n") << true;
    QTest::newRow("three, one too long ago") << QByteArray("-400\n-100\n-50\n") << false;
    QTest::newRow("damaged notes") << QByteArray("\xff\x00garbage\n\n-x\n") << false;
}

void TestTerminalStatus::startGuardSetsAsideAfterShortRuns()
{
    QFETCH(QByteArray, notes);
    QFETCH(bool, setAside);
    TestEnv env;
    const QString data = env.dataRoot() + "/data";
    QVERIFY(QDir().mkpath(data));
    const qint64 now = 1800000000000;
    StartGuard guard {DataLayout()};
    QByteArray absolute;
    for (const QByteArray &line : notes.split('\n')) {
        bool ok = false;
        const qint64 secondsBefore = line.toLongLong(&ok);
        absolute += ok ? QByteArray::number(now + secondsBefore * 1000) + '\n' : line + '\n';
    }
    if (!notes.isEmpty())
        QVERIFY(writeFile(guard.notesPath(), absolute));
    QVERIFY(writeFile(data + "/poweronoff.xml", "<R/>"));
    QVERIFY(writeFile(data + "/day-play.xml.tmp", "<Day/>"));

    const QStringList moved = guard.begin(now);
    QCOMPARE(moved.size(), setAside ? 2 : 0);
    QCOMPARE(QFile::exists(data + "/poweronoff.xml"), !setAside);
    QCOMPARE(QFile::exists(data + "/poweronoff.xml.crashed"), setAside);
    QCOMPARE(QFile::exists(data + "/day-play.xml.tmp.crashed"), setAside);
    // This start is noted until it proves stable.
    QVERIFY(QFile::exists(guard.notesPath()));
    guard.markStable();
    QVERIFY(!QFile::exists(guard.notesPath()));
}

QTEST_GUILESS_MAIN(TestTerminalStatus)
#include "test_terminalstatus.moc"
