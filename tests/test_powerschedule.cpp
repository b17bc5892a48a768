#include "clock.h"
#include "commandrunner.h"
#include "fakerunner.h"
#include "power/powerschedule.h"
#include "settings/servicesettings.h"
#include "simwire.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>

// The power schedule with the clock moved and every privileged command
// recorded by a stand-in runner; the schedule file lives in a private home.
class TestPowerSchedule : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void offEntryDue_data();
    void offEntryDue();
    void wakeAlarm_data();
    void wakeAlarm();
    void alarmProgrammedOncePerEntry();
    void alarmIsOneNumberForTheHelper();
    void checkRunsAboutEveryTenSeconds();
    void alarmComesBeforeShutdown();
    void nextRepeatTime_data();
    void nextRepeatTime();

    void loadingAndReloading();
    void serverScheduleReplacesTheFileWhole();
    void shutdownScheduleText_data();
    void shutdownScheduleText();
    void immediateActions();

private:
    static qint64 at(const QString &dateTime);
    QList<FakeRunner::Call> sudoCalls(const QString &command) const;
    // Seconds of every wake alarm programmed, in order.
    QList<qint64> alarms() const;
    int shutdowns() const { return sudoCalls("shutdown").size(); }

    std::unique_ptr<TestEnv> m_env;
    std::shared_ptr<FakeRunner> m_runner;
    std::unique_ptr<ServiceSettings> m_settings;
    std::unique_ptr<PowerSchedule> m_power;
};

qint64 TestPowerSchedule::at(const QString &dateTime)
{
    const QDateTime value = QDateTime::fromString(dateTime, "yyyy-MM-dd HH:mm:ss");
    Q_ASSERT(value.isValid());
    return value.toMSecsSinceEpoch();
}

void TestPowerSchedule::init()
{
    m_env = std::make_unique<TestEnv>();
    QDir().mkpath(m_env->dataRoot() + "/data");
    QDir().mkpath(m_env->dataRoot() + "/logs");
    m_runner = std::make_shared<FakeRunner>();
    m_settings = std::make_unique<ServiceSettings>();
    m_settings->runner = m_runner;
    m_settings->sudoPassword = "s3cret";
    m_power = std::make_unique<PowerSchedule>(*m_settings);
}

void TestPowerSchedule::cleanup()
{
    m_power.reset();
    m_settings.reset();
    m_env.reset();
    Clock::reset();
}

QList<FakeRunner::Call> TestPowerSchedule::sudoCalls(const QString &command) const
{
    QList<FakeRunner::Call> calls;
    for (const FakeRunner::Call &call : m_runner->calls()) {
        // Privileged commands only through sudo, the password on its input.
        if (call.program != "sudo")
            continue;
        if (call.args.value(0) != "-S" || call.input != "s3cret\n")
            qFatal("privileged command without the password on standard input");
        if (call.args.value(1) == command)
            calls.append(call);
    }
    return calls;
}

QList<qint64> TestPowerSchedule::alarms() const
{
    QList<qint64> seconds;
    for (const FakeRunner::Call &call : sudoCalls(PowerSchedule::WAKE_ALARM_HELPER)) {
        bool number = false;
        seconds << call.args.value(2).toLongLong(&number);
        if (call.args.size() != 3 || !number)
            qFatal("the wake alarm helper takes one number");
    }
    return seconds;
}

void TestPowerSchedule::offEntryDue_data()
{
    QTest::addColumn<QString>("entry"); // attributes r and t of an off entry
    QTest::addColumn<QString>("now");
    QTest::addColumn<bool>("due");
    // 2026-12-07 is a Monday.
    const QString once = R"(r="0" t="2026-12-07 22:00:00")";
    QTest::newRow("once, 5 s early") << once << "2026-12-07 21:59:55" << false;
    QTest::newRow("once, on time") << once << "2026-12-07 22:00:00" << true;
    QTest::newRow("once, 29 s late") << once << "2026-12-07 22:00:29" << true;
    QTest::newRow("once, 30 s late") << once << "2026-12-07 22:00:30" << false;
    QTest::newRow("once, other day") << once << "2026-12-08 22:00:05" << false;
    const QString lateOnce = R"(r="0" t="2026-12-07 23:59:50")";
    QTest::newRow("once, across midnight") << lateOnce << "2026-12-08 00:00:05" << true;
    QTest::newRow("once, across midnight, late") << lateOnce << "2026-12-08 00:00:20" << false;
    QTest::newRow("once, a day after midnight") << lateOnce << "2026-12-09 00:00:05" << false;

    const QString daily = R"(r="1" t="2026-12-01 22:00:00")";
    QTest::newRow("daily") << daily << "2026-12-07 22:00:10" << true;
    QTest::newRow("daily, first day") << daily << "2026-12-01 22:00:10" << true;
    QTest::newRow("daily, before its first day") << daily << "2026-11-30 22:00:10" << false;
    QTest::newRow("daily, time of day only") << R"(r="1" t="22:00:00")"
                                             << "2026-12-07 22:00:10" << true;
    QTest::newRow("daily, across midnight") << R"(r="1" t="2026-12-01 23:59:50")"
                                            << "2026-12-08 00:00:05" << true;
    QTest::newRow("daily, first day tomorrow, across midnight")
        << R"(r="1" t="2026-12-08 23:59:50")"
        << "2026-12-08 00:00:05" << false;

    const QString weekly = R"(r="2" t="2026-11-30 22:00:00")"; // a Monday
    QTest::newRow("weekly, its weekday") << weekly << "2026-12-07 22:00:05" << true;
    QTest::newRow("weekly, other weekday") << weekly << "2026-12-08 22:00:05" << false;
    QTest::newRow("weekly, across midnight") << R"(r="2" t="2026-11-30 23:59:50")"
                                             << "2026-12-08 00:00:05" << true;
    QTest::newRow("weekly, across midnight into its day") << R"(r="2" t="2026-11-30 23:59:50")"
                                                          << "2026-12-07 00:00:05" << false;

    const QString monthly = R"(r="3" t="2026-01-07 22:00:00")";
    QTest::newRow("monthly, its day") << monthly << "2026-12-07 22:00:05" << true;
    QTest::newRow("monthly, other day") << monthly << "2026-12-08 22:00:05" << false;
    QTest::newRow("monthly, across midnight") << R"(r="3" t="2026-01-07 23:59:59")"
                                              << "2026-12-08 00:00:28" << true;

    const QString yearly = R"(r="4" t="2020-12-07 22:00:00")";
    QTest::newRow("yearly, its day") << yearly << "2026-12-07 22:00:05" << true;
    QTest::newRow("yearly, same day other month") << R"(r="4" t="2020-11-07 22:00:00")"
                                                  << "2026-12-07 22:00:05" << false;
    QTest::newRow("yearly, across midnight") << R"(r="4" t="2020-12-31 23:59:50")"
                                             << "2027-01-01 00:00:05" << true;

    QTest::newRow("unknown repeat") << R"(r="9" t="2026-12-07 22:00:00")"
                                    << "2026-12-07 22:00:05" << false;
    QTest::newRow("unreadable time") << R"(r="1" t="2026-12-01 xx")"
                                     << "2026-12-07 22:00:05" << false;
}

void TestPowerSchedule::offEntryDue()
{
    QFETCH(QString, entry);
    QFETCH(QString, now);
    QFETCH(bool, due);
    Clock::setFixedMs(at(now));
    QVERIFY(m_power->rebuildFromXml(QString("<R><D s=\"1\" %1/></R>").arg(entry).toUtf8()));
    m_power->checkPowerSchedule();
    QCOMPARE(shutdowns(), due ? 1 : 0);
    if (due)
        QCOMPARE(sudoCalls("shutdown").first().args, (QStringList {"-S", "shutdown", "-h", "now"}));
    // An off entry never programs the wake alarm.
    QVERIFY(alarms().isEmpty());
}

void TestPowerSchedule::wakeAlarm_data()
{
    QTest::addColumn<QString>("entries"); // children of R
    QTest::addColumn<QString>("now");
    QTest::addColumn<qint64>("seconds"); // -1: none programmed
    const QString daily7 = R"(<A s="0" r="1" t="2026-12-01 07:00:00"/>)";
    QTest::newRow("daily, later today") << daily7 << "2026-12-09 06:00:00" << qint64(3600);
    QTest::newRow("daily, tomorrow") << daily7 << "2026-12-09 08:00:00" << qint64(23 * 3600);
    QTest::newRow("daily, time of day only") << R"(<A s="0" r="1" t="07:00:00"/>)"
                                             << "2026-12-09 06:30:00" << qint64(1800);
    QTest::newRow("daily, from a later first day")
        << R"(<A s="0" r="1" t="2026-12-20 07:00:00"/>)"
        << "2026-12-09 06:00:00" << qint64(11 * 86400 + 3600);
    // 2026-12-09 is a Wednesday; the entry's date a Monday.
    QTest::newRow("weekly, next week") << R"(<A s="0" r="2" t="2026-11-30 07:00:00"/>)"
                                       << "2026-12-09 10:00:00" << qint64(4 * 86400 + 21 * 3600);
    QTest::newRow("monthly, next month") << R"(<A s="0" r="3" t="2026-01-05 07:00:00"/>)"
                                         << "2026-12-09 10:00:00" << qint64(26 * 86400 + 21 * 3600);
    QTest::newRow("yearly, a leap day between")
        << R"(<A s="0" r="4" t="2020-03-01 07:00:00"/>)"
        << "2027-03-01 10:00:00" << qint64(365 * 86400 + 21 * 3600);
    QTest::newRow("once, tomorrow") << R"(<A s="0" r="0" t="2026-12-10 07:00:00"/>)"
                                    << "2026-12-09 10:00:00" << qint64(21 * 3600);
    QTest::newRow("once, yesterday") << R"(<A s="0" r="0" t="2026-12-08 07:00:00"/>)"
                                     << "2026-12-09 10:00:00" << qint64(-1);
    QTest::newRow("once, earlier today") << R"(<A s="0" r="0" t="2026-12-09 07:00:00"/>)"
                                         << "2026-12-09 10:00:00" << qint64(-1);
    QTest::newRow("earliest later today")
        << R"(<A s="0" r="1" t="2026-12-01 15:00:00"/><A s="0" r="0" t="2026-12-09 12:00:00"/>)"
        << "2026-12-09 10:00:00" << qint64(2 * 3600);
    QTest::newRow("later today before another day")
        << R"(<A s="0" r="0" t="2026-12-10 06:00:00"/><A s="0" r="1" t="2026-12-01 23:00:00"/>)"
        << "2026-12-09 10:00:00" << qint64(13 * 3600);
    QTest::newRow("earliest next day")
        << R"(<A s="0" r="0" t="2026-12-12 06:00:00"/><A s="0" r="2" t="2026-12-03 06:30:00"/>)"
        << "2026-12-09 10:00:00" << qint64(20 * 3600 + 30 * 60);
    QTest::newRow("off entries only") << R"(<D s="1" r="1" t="2026-12-01 22:00:00"/>)"
                                      << "2026-12-09 10:00:00" << qint64(-1);
}

void TestPowerSchedule::wakeAlarm()
{
    QFETCH(QString, entries);
    QFETCH(QString, now);
    QFETCH(qint64, seconds);
    Clock::setFixedMs(at(now));
    QVERIFY(m_power->rebuildFromXml(("<R>" + entries + "</R>").toUtf8()));
    m_power->checkPowerSchedule();
    QCOMPARE(alarms(), seconds < 0 ? QList<qint64>() : QList<qint64> {seconds});
    QCOMPARE(shutdowns(), 0);
}

void TestPowerSchedule::alarmProgrammedOncePerEntry()
{
    const QByteArray xml = R"(<R><A s="0" r="1" t="2026-12-01 07:00:00"/></R>)";
    QVERIFY(m_power->rebuildFromXml(xml));
    Clock::setFixedMs(at("2026-12-09 06:00:00"));
    m_power->checkPowerSchedule();
    Clock::advanceMs(11000);
    m_power->checkPowerSchedule();
    QCOMPARE(alarms(), QList<qint64> {3600});

    // Once its time has passed, the same entry wakes the machine tomorrow.
    Clock::setFixedMs(at("2026-12-09 08:00:00"));
    m_power->checkPowerSchedule();
    m_power->checkPowerSchedule();
    QCOMPARE(alarms().size(), 2);
    QCOMPARE(alarms().last(), qint64(23 * 3600));

    // Tomorrow morning that is the alarm already set.
    Clock::setFixedMs(at("2026-12-10 06:00:00"));
    m_power->checkPowerSchedule();
    QCOMPARE(alarms().size(), 2);

    // A schedule from the server holds new entries: programmed again.
    QVERIFY(m_power->rebuildFromXml(xml));
    m_power->checkPowerSchedule();
    QCOMPARE(alarms(), (QList<qint64> {3600, 23 * 3600, 3600}));
}

void TestPowerSchedule::alarmIsOneNumberForTheHelper()
{
    Clock::setFixedMs(at("2026-12-09 10:00:00"));
    m_power->writeRtcAlarm("12:00:00");
    m_power->writeRtcAlarm("2026-12-09 09:00:00"); // past: wake at once
    m_power->writeRtcAlarm("not a time");
    m_power->writeRtcAlarm("2099-12-09 09:00:00"); // no further than the helper takes
    const auto calls = sudoCalls(PowerSchedule::WAKE_ALARM_HELPER);
    QCOMPARE(calls.size(), 3);
    QCOMPARE(
        calls[0].args, (QStringList {"-S", "/usr/libexec/lumaview/lumaview-wakealarm", "7200"}));
    QCOMPARE(alarms(), (QList<qint64> {7200, 0, PowerSchedule::MAX_WAKE_SECONDS}));
}

void TestPowerSchedule::checkRunsAboutEveryTenSeconds()
{
    // An off entry due for 30 s: the periodic check finds it every ten-odd seconds.
    QVERIFY(m_power->rebuildFromXml(R"(<R><D s="1" r="1" t="22:00:00"/></R>)"));
    Clock::setFixedMs(at("2026-12-09 21:59:58"));
    for (int second = 0; second < 40; ++second) {
        m_power->tick();
        Clock::advanceMs(1000);
    }
    // Checks at 21:59:58, 22:00:09, 22:00:20, 22:00:31: two of them inside the window.
    QCOMPARE(shutdowns(), 2);
}

void TestPowerSchedule::alarmComesBeforeShutdown()
{
    // Off now and on tomorrow morning in the same check: the machine must
    // know when to wake before it goes down.
    QVERIFY(m_power->rebuildFromXml(
        R"(<R><D s="1" r="1" t="22:00:00"/><A s="0" r="1" t="07:00:00"/></R>)"));
    Clock::setFixedMs(at("2026-12-09 22:00:05"));
    m_power->checkPowerSchedule();
    QStringList order;
    for (const FakeRunner::Call &call : m_runner->calls())
        order << call.args.value(1);
    QCOMPARE(order, (QStringList {PowerSchedule::WAKE_ALARM_HELPER, "shutdown"}));
    QCOMPARE(alarms(), QList<qint64> {9 * 3600 - 5});
}

void TestPowerSchedule::nextRepeatTime_data()
{
    QTest::addColumn<int>("repeat");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("next");
    // Today is Wednesday 2026-12-09.
    QTest::newRow("daily") << 1 << "2026-12-01 07:00:00"
                           << "2026-12-10 07:00:00";
    QTest::newRow("daily, not begun") << 1 << "2027-01-01 07:00:00"
                                      << "2027-01-01 07:00:00";
    QTest::newRow("daily, time of day only") << 1 << "07:00:00"
                                             << "2026-12-10 07:00:00";
    QTest::newRow("weekly, same weekday") << 2 << "2026-12-02 07:00:00"
                                          << "2026-12-16 07:00:00";
    QTest::newRow("monthly, day 31") << 3 << "2026-10-31 07:00:00"
                                     << "2026-12-31 07:00:00";
    QTest::newRow("yearly") << 4 << "2001-02-03 07:00:00"
                            << "2027-02-03 07:00:00";
    QTest::newRow("once") << 0 << "2027-01-01 07:00:00"
                          << "2027-01-01 07:00:00";
    QTest::newRow("weekly without a date") << 2 << "07:00:00"
                                           << "07:00:00";
}

void TestPowerSchedule::nextRepeatTime()
{
    QFETCH(int, repeat);
    QFETCH(QString, time);
    QFETCH(QString, next);
    Clock::setFixedMs(at("2026-12-09 10:00:00"));
    PowerSchedule::Entry entry;
    entry.repeat = repeat;
    entry.time = time;
    QCOMPARE(m_power->nextRepeatTime(entry), next);
}

void TestPowerSchedule::loadingAndReloading()
{
    // No file yet: nothing to check.
    m_power->readPowerOnOff();
    QVERIFY(m_power->powerList().isEmpty());
    m_power->checkPowerSchedule();
    QVERIFY(m_runner->calls().isEmpty());

    const QByteArray xml = R"(<R><A s="0" r="1" t="2026-12-01 07:00:00"/><XA s="0" r="0" t="x"/>)"
                           R"(<D s="1" r="2" t="2026-12-07 22:00:00"/><B s="1"/><D s="oops"/></R>)";
    QVERIFY(writeFile(m_power->filePath(), xml));
    m_power->readPowerOnOff();
    // At start-up every tag ending in A or D counts...
    QCOMPARE(m_power->powerList().size(), 4);
    QCOMPARE(m_power->powerList()[1].time, QString("x"));
    QCOMPARE(m_power->powerList()[2].onOff, 1);
    QCOMPARE(m_power->powerList()[2].repeat, 2);
    QCOMPARE(m_power->powerList()[3].onOff, 0); // not a number
    // ... a schedule from the server takes exactly A and D.
    QVERIFY(m_power->rebuildFromXml(xml));
    QCOMPARE(m_power->powerList().size(), 3);
    QCOMPARE(m_power->powerList()[1].repeat, 2);

    // Text that does not parse, or another root, leaves the list alone.
    QVERIFY(!m_power->rebuildFromXml("<R><A"));
    QVERIFY(!m_power->rebuildFromXml(R"(<S><A s="0" r="1" t="07:00:00"/></S>)"));
    QCOMPARE(m_power->powerList().size(), 3);

    // An unreadable file empties the list.
    QVERIFY(writeFile(m_power->filePath(), "garbage"));
    m_power->readPowerOnOff();
    QVERIFY(m_power->powerList().isEmpty());
}

void TestPowerSchedule::serverScheduleReplacesTheFileWhole()
{
    const QString path = m_power->filePath();
    QVERIFY(writeFile(path, R"(<R><A s="0" r="1" t="07:00:00"/></R>)"));
    struct stat before
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);

    const QByteArray xml = R"(<R><D s="1" r="1" t="22:00:00"/><A s="0" r="1" t="06:00:00"/></R>)";
    QVERIFY(m_power->writePowerOnOff(xml));
    QCOMPARE(readFile(path), xml);
    QCOMPARE(m_power->powerList().size(), 2);
    // A new file took the old one's place; the old was never rewritten in place.
    struct stat after
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
    QVERIFY(before.st_ino != after.st_ino);
    QVERIFY(QDir(QFileInfo(path).path()).entryList({"poweronoff.xml.*"}, QDir::Files).isEmpty());

    // One that does not parse is not stored; the list stays as it was.
    QVERIFY(!m_power->writePowerOnOff("<R"));
    QCOMPARE(readFile(path), xml);
    QCOMPARE(m_power->powerList().size(), 2);
}

void TestPowerSchedule::shutdownScheduleText_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("text");
    const QByteArray xml = R"(<R><D s="1" r="0" t="2026-12-09 22:00:00"/></R>)";
    QTest::newRow("six parameters")
        << SimWire::encodeFrame(1, 278, 2, {"req-1", "T1", "", "", "", xml + '\0'}) << xml;
    QTest::newRow("no terminating NUL")
        << SimWire::encodeFrame(1, 278, 2, {"a", "b", "c", "d", "e", xml}) << xml;
    QTest::newRow("five parameters")
        << SimWire::encodeFrame(1, 278, 2, {"a", "b", "c", "d", "e"}) << QByteArray();
    QTest::newRow("no parameters") << SimWire::encodeFrame(1, 278, 2) << QByteArray();
    QByteArray lying = SimWire::encodeFrame(1, 278, 2, {"a", "b", "c", "d", "e", xml});
    lying[22] = '\xF0'; // first size 0xFFFFFFF0
    lying[23] = lying[24] = lying[25] = '\xFF';
    QTest::newRow("size past the end") << lying << QByteArray();
}

void TestPowerSchedule::shutdownScheduleText()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, text);
    QCOMPARE(PowerActions::shutdownScheduleText(frame), text);
}

void TestPowerSchedule::immediateActions()
{
    m_power->shutdown();
    m_power->reboot();
    const auto calls = sudoCalls("shutdown");
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].args, (QStringList {"-S", "shutdown", "-h", "now"}));
    QCOMPARE(calls[1].args, (QStringList {"-S", "shutdown", "-r", "now"}));
}

QTEST_GUILESS_MAIN(TestPowerSchedule)
#include "test_powerschedule.moc"
