#include "contentwriter.h"
#include "httpfileserver.h"
#include "signageserver.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The whole terminal on a virtual screen: the simulator (in this process),
// the real service and the real player, from an empty home to the content on
// screen, a new playbill, a killed player, a killed service, and the plays
// arriving at the statistics server. The steps run in order and share the
// running programs.
class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void firstTemplateOnScreen();
    void scheduleChangeRollsOutNewPlaybill();
    void watchdogStartsKilledPlayerAgain();
    void serviceKilledAndRestartedKeepsEveryPlay();
    void playsArriveAfterTheHourlyTotals();

private:
    struct Plays
    {
        int times = 0;
        QSet<QString> names;
        QSet<QString> statements; // of the player's files: every line is one play
    };
    static void writeContent(const QString &dir, const QString &list, const QString &zone,
        const QColor &colour, QString *picture);
    // Share of sample points of the screen showing colour (within a tolerance).
    static double screenShare(const QColor &colour);
    void startService(bool nextDay);
    qint64 playerPid() const;
    QString describePlayers() const;
    Plays storedPlays() const;
    Plays pendingPlays() const;

    TestEnv m_env;
    QTemporaryDir m_scratch;
    SignageServer m_sim;
    QProcess m_service;
    QString m_appDir;
    QString m_redPicture;
    QString m_bluePicture;
    int m_playsBeforeRestart = 0;
    bool m_failed = false;
    QElapsedTimer m_sinceRestart;
};

namespace {
const QColor RED(208, 24, 24);
const QColor BLUE(24, 48, 200);

QString playerBinary()
{
    return QFileInfo(QStringLiteral(LUMAVIEW_BIN)).canonicalFilePath();
}
} // namespace

void TestEndToEnd::writeContent(const QString &dir, const QString &list, const QString &zone,
    const QColor &colour, QString *picture)
{
    ContentWriter out(dir);
    QImage image(320, 180, QImage::Format_RGB32);
    image.fill(colour);
    *picture = out.addImage(image);
    const QString tpl = out.addTemplate(QSize(1920, 1080), QStringLiteral("#000000"),
        {ContentWriter::Area {QStringLiteral("full"), QRect(0, 0, 1920, 1080)}});
    // A 3 s picture without transition: a play every 3 s, the colour at once.
    out.writeZone(zone, QStringLiteral("full"), {ContentWriter::picture(*picture, 3, 0)});
    out.writeList(list, {{tpl, 30}});
    out.writeDayPlay(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Day>\n")
        + ContentWriter::dayEntry(QStringLiteral("TPL"), list, QStringLiteral("0"),
            QStringLiteral("86399"), {{zone, QStringLiteral("full")}}, 30)
        + QStringLiteral("</Day>\n"));
    QVERIFY2(out.ok(), qPrintable(out.error()));
}

double TestEndToEnd::screenShare(const QColor &colour)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 0;
    const QImage shot = screen->grabWindow(0).toImage();
    if (shot.isNull())
        return 0;
    int hits = 0;
    int total = 0;
    for (int y = 1; y < 10; ++y) {
        for (int x = 1; x < 10; ++x) {
            const QColor c = shot.pixelColor(shot.width() * x / 10, shot.height() * y / 10);
            ++total;
            if (qAbs(c.red() - colour.red()) < 24 && qAbs(c.green() - colour.green()) < 24
                && qAbs(c.blue() - colour.blue()) < 24)
                ++hits;
        }
    }
    return double(hits) / total;
}

void TestEndToEnd::startService(bool nextDay)
{
    QProcessEnvironment environment = m_env.processEnvironment();
    // The service and the player it starts draw on the virtual screen.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("DISPLAY"));
    if (nextDay) {
        // Plays are added up per hour once their day is over: the service
        // lives a day ahead, the player and the simulator keep today.
        const QStringList libs = QDir(QStringLiteral("/usr/lib"))
                                     .entryList({QStringLiteral("*-linux-gnu*")}, QDir::Dirs);
        bool found = false;
        for (const QString &dir : libs)
            found = found
                || QFile::exists(
                    QStringLiteral("/usr/lib/%1/faketime/libfaketimeMT.so.1").arg(dir));
        QVERIFY2(found, "libfaketime is missing (Debian package faketime)");
        // "$LIB" lets the loader take the library of the service's own
        // architecture (an arm64 build runs here under qemu-user), and what
        // is preloaded already stays.
        const QString faketime = QStringLiteral("/usr/$LIB/faketime/libfaketimeMT.so.1");
        const QString preload = environment.value(QStringLiteral("LD_PRELOAD"));
        environment.insert(QStringLiteral("LD_PRELOAD"),
            preload.isEmpty() ? faketime : preload + QLatin1Char(':') + faketime);
        environment.insert(QStringLiteral("FAKETIME"), QStringLiteral("+1d"));
        environment.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        // A sanitizer runtime insists on being loaded first.
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            environment.value(QStringLiteral("ASAN_OPTIONS"))
                + QStringLiteral(":verify_asan_link_order=0"));
    }
    m_service.setProcessEnvironment(environment);
    // The installed layout: the watchdog starts the player found next to the
    // service's program.
    m_service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_service.setStandardOutputFile(QProcess::nullDevice());
    m_service.start(m_appDir + "/lumalink", QStringList());
    QVERIFY(m_service.waitForStarted(5000));
}

qint64 TestEndToEnd::playerPid() const
{
    const QList<qint64> pids = processesOf(playerBinary(), m_env.home());
    return pids.size() == 1 ? pids.first() : -1;
}

QString TestEndToEnd::describePlayers() const
{
    // Which players run, with the state and start of each (fields 3 and 22 of
    // their stat line), for a failure message.
    QStringList found;
    for (const qint64 pid : processesOf(playerBinary(), m_env.home())) {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        found << QStringLiteral("%1 %2 started at tick %3")
                     .arg(pid)
                     .arg(QString::fromLatin1(fields.value(0)))
                     .arg(QString::fromLatin1(fields.value(19)));
    }
    return QStringLiteral("players: ")
        + (found.isEmpty() ? QStringLiteral("none") : found.join(", "));
}

TestEndToEnd::Plays TestEndToEnd::storedPlays() const
{
    Plays plays;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "e2e");
        db.setDatabaseName(m_env.dataRoot() + "/data/playdata.db");
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=3000"));
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT name, times FROM play_detail"), db);
            while (query.next()) {
                plays.names.insert(query.value(0).toString());
                plays.times += query.value(1).toInt();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e"));
    return plays;
}

TestEndToEnd::Plays TestEndToEnd::pendingPlays() const
{
    // The player's message file, and the part its sender is working through.
    static const QRegularExpression insert(QStringLiteral(
        "INSERT INTO play_detail.*VALUES\\('((?:[^']|'')*)', '[^']*', \\d+, (\\d+),"));
    Plays plays;
    for (const char *file : {"/data/storageMsg.txt", "/data/storageMsg.temp"}) {
        const QString text = QString::fromUtf8(readFile(m_env.dataRoot() + file));
        auto it = insert.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            plays.names.insert(m.captured(1));
            plays.times += m.captured(2).toInt();
            plays.statements.insert(m.captured(0));
        }
    }
    return plays;
}

void TestEndToEnd::initTestCase()
{
    QVERIFY(m_env.isValid() && m_scratch.isValid());
    QVERIFY(QGuiApplication::primaryScreen());
    writeContent(m_scratch.path() + "/red", "tl1.l", "z1.z", RED, &m_redPicture);
    writeContent(m_scratch.path() + "/blue", "tl2.l", "z2.z", BLUE, &m_bluePicture);
    m_appDir = m_scratch.path() + "/app";
    QVERIFY(QDir().mkpath(m_appDir));
    QVERIFY(QFile::copy(QStringLiteral(LUMALINK_BIN), m_appDir + "/lumalink"));
    QVERIFY(QFile::link(playerBinary(), m_appDir + "/lumaview"));

    m_sim.setContentDir(m_scratch.path() + "/red");
    QVERIFY(m_sim.listen(QHostAddress::LocalHost, 0));
    QVERIFY(m_sim.listenHttp(QHostAddress::LocalHost, 0));
    // From an empty home: only what an installer types in the first window.
    QVERIFY(!QDir(m_env.dataRoot()).exists());
    QVERIFY(writeFile(m_env.dataRoot() + "/data/status.json",
        QString(R"({"connHost":"127.0.0.1:%1","password":"secret"})").arg(m_sim.port()).toUtf8()));
}

void TestEndToEnd::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
}

void TestEndToEnd::cleanupTestCase()
{
    stopProcess(m_service);
    for (qint64 pid : processesOf(playerBinary(), m_env.home()))
        stopPid(pid);
    if (!m_failed)
        return;
    // What the programs said, for a failure seen only on another machine.
    const QDir logs(m_env.dataRoot() + "/logs");
    for (const QString &name : logs.entryList(QDir::Files)) {
        const QStringList lines
            = QString::fromUtf8(readFile(logs.filePath(name))).split(QLatin1Char('\n'));
        qInfo().noquote() << "==" << name << "(last 60 lines)\n"
                          << lines.mid(qMax(0, lines.size() - 60)).join(QLatin1Char('\n'));
    }
}

void TestEndToEnd::firstTemplateOnScreen()
{
    startService(false);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_env.dataRoot() + "/data/day-play.xml"), 60000);
    QVERIFY(QFile::exists(m_env.dataRoot() + "/data/mtl/" + m_redPicture));
    // Nobody starts the player but the service's watchdog.
    QTRY_VERIFY_WITH_TIMEOUT(playerPid() > 0, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(screenShare(RED) > 0.9, 30000);
}

void TestEndToEnd::scheduleChangeRollsOutNewPlaybill()
{
    m_sim.setContentDir(m_scratch.path() + "/blue");
    m_sim.scheduleChanged();
    QTRY_VERIFY_WITH_TIMEOUT(screenShare(BLUE) > 0.9, 60000);
    QVERIFY(QFile::exists(m_env.dataRoot() + "/data/zone/z2.z"));
    bool fetched = false;
    for (const HttpFileServer::Request &request : m_sim.http()->requests())
        fetched = fetched || (request.name == m_bluePicture && request.status == 200);
    QVERIFY(fetched);
}

void TestEndToEnd::watchdogStartsKilledPlayerAgain()
{
    const qint64 before = playerPid();
    QVERIFY(before > 0);
    QElapsedTimer sinceKill;
    sinceKill.start();
    QCOMPARE(::kill(static_cast<pid_t>(before), SIGKILL), 0);
    // The watchdog probes every 10 to 12 s.
    QTRY_VERIFY2_WITH_TIMEOUT(
        playerPid() > 0 && playerPid() != before, qPrintable(describePlayers()), 45000);
    qInfo("player started again %lld ms after it was killed", sinceKill.elapsed());
    // The new player reads the stored playbill and shows it at once.
    QTRY_VERIFY_WITH_TIMEOUT(screenShare(BLUE) > 0.9, 30000);
}

void TestEndToEnd::serviceKilledAndRestartedKeepsEveryPlay()
{
    // Plays of both playbills have reached the service.
    QTRY_VERIFY_WITH_TIMEOUT(storedPlays().names.contains(m_bluePicture), 40000);
    QVERIFY(storedPlays().names.contains(m_redPicture));

    m_service.kill(); // no chance to tidy up
    QVERIFY(m_service.waitForFinished(5000));
    const int stored = storedPlays().times;
    // The player keeps playing and keeps its plays while the service is away.
    QTRY_VERIFY_WITH_TIMEOUT(pendingPlays().times >= 2, 30000);
    const int pending = pendingPlays().times;
    m_playsBeforeRestart = stored + pending;

    const QSet<QString> held = pendingPlays().statements;

    startService(true);
    m_sinceRestart.start();
    // Every play the player held reaches the restarted service. (The files
    // are seldom empty: a new play joins them every 3 s.)
    QTRY_VERIFY_WITH_TIMEOUT(!pendingPlays().statements.intersects(held), 30000);
    qInfo("held plays delivered %lld ms after the restart", m_sinceRestart.elapsed());
    QVERIFY(playerPid() > 0);
}

void TestEndToEnd::playsArriveAfterTheHourlyTotals()
{
    // A minute after its start the service adds up the past day's plays per
    // hour and uploads them.
    QTRY_VERIFY_WITH_TIMEOUT(!m_sim.http()->acceptedStatisticsRows().isEmpty(), 120000);
    qInfo("statistics uploaded %lld ms after the restart", m_sinceRestart.elapsed());
    const QList<HttpFileServer::Post> posts = m_sim.http()->statistics();
    QVERIFY(!posts.isEmpty());
    for (const HttpFileServer::Post &post : posts) {
        QVERIFY2(post.report.error.isEmpty(), qPrintable(post.report.error));
        QVERIFY(post.report.signatureOk);
        QVERIFY(post.accepted);
    }
    int total = 0;
    QSet<QString> names;
    const QRegularExpression hour(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d$"));
    for (const StatReport::Row &row : m_sim.http()->acceptedStatisticsRows()) {
        QVERIFY2(hour.match(row.timeSegment).hasMatch(), qPrintable(row.timeSegment));
        total += row.total;
        names.insert(row.mtl);
    }
    // Every play made before the restart is counted, those the dead service
    // had stored and those the player held meanwhile.
    QVERIFY2(total >= m_playsBeforeRestart,
        qPrintable(QStringLiteral("%1 uploaded, %2 made").arg(total).arg(m_playsBeforeRestart)));
    QVERIFY(names.contains(m_redPicture));
    QVERIFY(names.contains(m_bluePicture));
}

// The test draws on its own virtual screen: an Xvfb server it starts before
// the application and stops at the end.
int main(int argc, char *argv[])
{
    QProcess xvfb;
    QString display;
    for (int n = 150; n < 250 && display.isEmpty(); ++n) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))
            || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            continue;
        xvfb.start(QStringLiteral("Xvfb"),
            {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("640x480x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted(5000)) {
            std::fprintf(stderr, "Xvfb cannot be started (Debian package xvfb)\n");
            return 1;
        }
        for (int i = 0; i < 50 && xvfb.state() == QProcess::Running; ++i) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                display = QStringLiteral(":%1").arg(n);
                break;
            }
            QThread::msleep(100);
        }
        if (display.isEmpty())
            stopProcess(xvfb);
    }
    if (display.isEmpty()) {
        std::fprintf(stderr, "no free X display for Xvfb\n");
        return 1;
    }
    qputenv("DISPLAY", display.toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        TestEndToEnd test;
        QTEST_SET_MAIN_SOURCE_PATH
        result = QTest::qExec(&test, argc, argv);
    }
    stopProcess(xvfb);
    return result;
}

#include "test_endtoend.moc"
