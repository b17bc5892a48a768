#include "signageserver.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The Debian package as a technician gets it: built with CPack, its files,
// dependencies and maintainer script checked, unpacked into a scratch root,
// and the unpacked programs run against the simulator from there: the
// service from its autostart folder, the player started by its watchdog.
class TestPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileList();
    void control_data();
    void control();
    void maintainerScripts_data();
    void maintainerScripts();
    void debianChecks();
    void autostartEntry();
    void sessionStart_data();
    void sessionStart();
    void userUnit();
    void installedProgramsPlay();

private:
    static QString run(const QString &program, const QStringList &args, int *exitCode = nullptr,
        const QString &workingDir = QString());
    QString installed(const QString &name) const
    {
        return m_root.path() + QStringLiteral(LUMA_INSTALL_PATH) + QLatin1Char('/') + name;
    }

    QTemporaryDir m_out;
    QTemporaryDir m_root;
    QString m_deb;
};

QString TestPackage::run(
    const QString &program, const QStringList &args, int *exitCode, const QString &workingDir)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, args);
    if (!process.waitForFinished(240000))
        stopProcess(process);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

void TestPackage::initTestCase()
{
    QVERIFY(m_out.isValid() && m_root.isValid());
    int code = -1;
    QElapsedTimer packing;
    packing.start();
    const QString log = run(QStringLiteral(LUMA_CPACK_COMMAND),
        {"-G", "DEB", "--config", QStringLiteral(LUMA_CPACK_CONFIG), "-B", m_out.path()}, &code);
    QVERIFY2(code == 0, qPrintable(log));
    qInfo("package made in %lld ms", packing.elapsed());
    const QStringList debs = QDir(m_out.path()).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_out.path() + QLatin1Char('/') + debs.first();
    QVERIFY(debs.first().startsWith("com.qerbix.lumaview_1.1.23081003_"));
    run("dpkg", {"-x", m_deb, m_root.path()}, &code);
    QCOMPARE(code, 0);
}

void TestPackage::fileList()
{
    int code = -1;
    const QStringList lines
        = run("dpkg-deb", {"-c", m_deb}, &code).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(code, 0);
    QStringList files;
    for (const QString &line : lines) {
        const QStringList columns = line.simplified().split(QLatin1Char(' '));
        if (!line.startsWith(QLatin1Char('d')))
            files << columns.first() + QLatin1Char(' ') + columns.last();
    }
    files.sort();
    const QString dir = QStringLiteral("./opt/apps/com.qerbix.lumaview/files/");
    QCOMPARE(files,
        QStringList({"-r--r----- ./etc/sudoers.d/lumaview",
            "-rw-r--r-- ./etc/xdg/autostart/com.qerbix.lumaview.lumalink.desktop",
            "-rw-r--r-- ./usr/lib/systemd/user/lumalink.service",
            "-rw-r--r-- ./usr/share/doc/com.qerbix.lumaview/changelog.gz",
            "-rw-r--r-- ./usr/share/doc/com.qerbix.lumaview/copyright",
            "-rw-r--r-- ./usr/share/lintian/overrides/com.qerbix.lumaview",
            "-rwxr-xr-x " + dir + "lumalink", "-rwxr-xr-x " + dir + "lumalink-session",
            "-rwxr-xr-x " + dir + "lumaview",
            "-rwxr-xr-x ./usr/libexec/lumaview/lumaview-wakealarm"}));
    // Every file belongs to root; nothing of the build machine leaks in.
    for (const QString &line : lines)
        QVERIFY2(line.contains(" root/root "), qPrintable(line));
    // The programs are built for the machine this test was built for (this
    // test runs under emulation in a cross build), and stripped.
    const auto machine = [](const QString &path) {
        const QByteArray head = readFile(path).left(20);
        return head.startsWith("\177ELF") ? int(quint8(head.at(18)) | quint8(head.at(19)) << 8)
                                          : -1;
    };
    const int own = machine(QCoreApplication::applicationFilePath());
    QVERIFY(own > 0);
    for (const char *program : {"lumalink", "lumaview"}) {
        QCOMPARE(machine(installed(QLatin1String(program))), own);
        QVERIFY(!run("readelf", {"-S", installed(QLatin1String(program))}).contains(".debug_info"));
    }
}

void TestPackage::control_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    // The architecture the programs were built for (arm64 in a cross build).
    const QString arch = QStringLiteral(LUMA_DEB_ARCH);
    QTest::newRow("name") << "Package"
                          << "com.qerbix.lumaview";
    QTest::newRow("version") << "Version"
                             << "1.1.23081003";
    QTest::newRow("architecture") << "Architecture" << arch;
    // Linked libraries (found by dpkg-shlibdeps) and what is loaded or run at
    // run time: the SQLite driver, the media plugins, the commands.
    for (const char *dep :
        {"libqt5core5a", "libqt5widgets5", "libqt5network5", "libqt5xml5", "libqt5sql5",
            "libqt5multimedia5", "libqt5multimediawidgets5", "libqt5webkit5", "libpoppler-qt5-1",
            "libqt5sql5-sqlite", "libqt5multimedia5-plugins", "gstreamer1.0-plugins-base",
            "gstreamer1.0-plugins-good", "gstreamer1.0-libav", "zip", "sudo", "iproute2"})
        QTest::addRow("depends %s", dep) << "Depends" << dep;
}

void TestPackage::control()
{
    QFETCH(QString, field);
    QFETCH(QString, expected);
    const QString value = run("dpkg-deb", {"-f", m_deb, field}).trimmed();
    if (field != QLatin1String("Depends")) {
        QCOMPARE(value, expected);
        return;
    }
    QStringList names;
    for (const QString &alternatives : value.split(QLatin1Char(','))) {
        for (const QString &dep : alternatives.split(QLatin1Char('|')))
            names << dep.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    QVERIFY2(names.contains(expected), qPrintable(value));
}

void TestPackage::maintainerScripts_data()
{
    // How a stand-in getent answers for the lumaview group, and whether the
    // script then makes it.
    QTest::addColumn<QByteArray>("getent");
    QTest::addColumn<bool>("made");
    QTest::newRow("new group") << QByteArray("exit 2\n") << true;
    QTest::newRow("group exists") << QByteArray("echo lumaview:x:990:\n") << false;
}

void TestPackage::maintainerScripts()
{
    QFETCH(QByteArray, getent);
    QFETCH(bool, made);
    QTemporaryDir control;
    int code = -1;
    run("dpkg-deb", {"-e", m_deb, control.path()}, &code);
    QCOMPARE(code, 0);
    const QStringList scripts
        = QDir(control.path()).entryList({"preinst", "postinst", "prerm", "postrm"}, QDir::Files);
    QCOMPARE(scripts, QStringList {"postinst"});
    // The files in /etc are the administrator's once installed.
    QCOMPARE(QString::fromUtf8(readFile(control.path() + "/conffiles")).split(QLatin1Char('\n')),
        QStringList({"/etc/sudoers.d/lumaview",
            "/etc/xdg/autostart/com.qerbix.lumaview.lumalink.desktop", ""}));
    const QString path = control.path() + "/postinst";
    QVERIFY(QFileInfo(path).isExecutable());
    const QString text = QString::fromUtf8(readFile(path));
    // Run as root by dpkg: it must not start either program nor any service.
    QStringList code_lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(QLatin1Char('#')) && !trimmed.startsWith("echo "))
            code_lines << trimmed;
    }
    const QString commands = code_lines.join(QLatin1Char('\n'));
    for (const char *word : {"lumalink", "files/lumaview", "systemctl", "service ", "su ",
             "runuser", "sudo", "nohup", "setsid", "start-stop-daemon", "&"})
        QVERIFY2(!commands.contains(QLatin1String(word)), word);

    // Run it as dpkg would, with stand-ins in PATH: it makes the group once.
    TestEnv env;
    QVERIFY(env.addShim("getent", getent) && env.addShim("groupadd"));
    QProcess postinst;
    postinst.setProcessEnvironment(env.processEnvironment());
    postinst.start("sh", {path, "configure", ""});
    QVERIFY(postinst.waitForFinished(10000));
    QCOMPARE(postinst.exitCode(), 0);
    QCOMPARE(env.readShimLog(),
        QString("getent group lumaview\n") + (made ? "groupadd --system lumaview\n" : ""));
    QVERIFY(!QDir(env.dataRoot()).exists());
}

void TestPackage::debianChecks()
{
    // Debian's own checks: lintian finds no error or warning (the /opt path
    // carries an override that says why), and visudo accepts the sudoers rule
    // (from sudo's package unpacked by scripts/test.sh where sudo is not
    // installed: the tests must never run the real one).
    int code = -1;
    QString said
        = run("lintian", {"--allow-root", "--no-cfg", "--fail-on", "error,warning", m_deb}, &code);
    QVERIFY2(code == 0, qPrintable(said));
    QString visudo = QStandardPaths::findExecutable("visudo", {"/usr/sbin", "/sbin"});
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    if (visudo.isEmpty()) {
        const QString unpacked = QStringLiteral(LUMA_VISUDO_ROOT);
        visudo = unpacked + "/usr/sbin/visudo";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LD_LIBRARY_PATH", unpacked + "/usr/libexec/sudo");
        check.setProcessEnvironment(environment);
    }
    QVERIFY2(QFileInfo(visudo).isExecutable(),
        "no visudo: scripts/test.sh unpacks it into " LUMA_VISUDO_ROOT);
    check.start(visudo, {"-c", "-f", m_root.path() + "/etc/sudoers.d/lumaview"});
    QVERIFY(check.waitForFinished(30000));
    said = QString::fromUtf8(check.readAll());
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0, qPrintable(said));
    QVERIFY2(said.contains("parsed OK"), qPrintable(said));
}

void TestPackage::autostartEntry()
{
    const QString entry = QString::fromUtf8(
        readFile(m_root.path() + "/etc/xdg/autostart/com.qerbix.lumaview.lumalink.desktop"));
    QStringList lines = entry.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QString("[Desktop Entry]"));
    for (const char *line :
        {"Type=Application", "Exec=/opt/apps/com.qerbix.lumaview/files/lumalink-session",
            "Path=/opt/apps/com.qerbix.lumaview/files", "Terminal=false"})
        QVERIFY2(lines.contains(QLatin1String(line)), line);
    // What Exec names is in the package, and the player is next to it, where
    // the watchdog looks for it beside its own program.
    QVERIFY(QFileInfo(installed("lumalink")).isExecutable());
    QVERIFY(QFileInfo(installed("lumaview")).isExecutable());
}

void TestPackage::sessionStart_data()
{
    // How a stand-in systemctl answers: show-environment (is there a user
    // manager), cat (does it know the unit), start.
    QTest::addColumn<QString>("answers");
    QTest::addColumn<bool>("underSystemd");
    QTest::newRow("no user manager") << "show-environment) exit 1 ;;" << false;
    QTest::newRow("unit unknown") << "cat) exit 1 ;;" << false;
    QTest::newRow("start refused") << "start) exit 1 ;;" << false;
    QTest::newRow("user manager") << "" << true;
}

void TestPackage::sessionStart()
{
    QFETCH(QString, answers);
    QFETCH(bool, underSystemd);
    TestEnv env;
    QVERIFY(env.addShim("systemctl", "case \"$2\" in " + answers.toUtf8() + " esac\nexit 0\n"));
    QProcessEnvironment environment = env.processEnvironment();
    environment.insert("DISPLAY", ":7");
    environment.remove("WAYLAND_DISPLAY");
    QProcess session;
    session.setProcessEnvironment(environment);
    session.setWorkingDirectory(env.home());
    // Asked for its version, the service answers and ends, which shows
    // whether the script ran it.
    session.start(installed("lumalink-session"), {"--version"});
    QVERIFY(session.waitForFinished(30000));
    QCOMPARE(session.exitCode(), 0);
    const QString shown = QString::fromUtf8(session.readAllStandardOutput());
    const QString calls = env.readShimLog();
    QCOMPARE(shown, underSystemd ? QString() : QString("lumalink 1.1.23081003\n"));
    QCOMPARE(calls.contains("systemctl --user start lumalink.service\n"),
        underSystemd || answers.startsWith("start"));
    if (underSystemd) {
        // The manager gets this session's display, and only what is set.
        QVERIFY2(
            calls.contains("systemctl --user import-environment DISPLAY\n"), qPrintable(calls));
        QVERIFY2(!calls.contains("WAYLAND_DISPLAY"), qPrintable(calls));
    }
}

void TestPackage::userUnit()
{
    const QString unitPath = m_root.path() + "/usr/lib/systemd/user/lumalink.service";
    const QString unit = QString::fromUtf8(readFile(unitPath));
    const QStringList lines = unit.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const char *line : {"ExecStart=/opt/apps/com.qerbix.lumaview/files/lumalink",
             "WorkingDirectory=/opt/apps/com.qerbix.lumaview/files", "Restart=on-failure",
             "StartLimitIntervalSec=600", "StartLimitBurst=10"})
        QVERIFY2(lines.contains(QLatin1String(line)), line);

    // systemd's own check, with the paths pointing into the unpacked root
    // (the check wants the program it would start to be there).
    QTemporaryDir units;
    QTemporaryDir runtime;
    QVERIFY(units.isValid() && runtime.isValid());
    QString local = unit;
    local.replace("=/opt/", "=" + m_root.path() + "/opt/");
    QVERIFY(writeFile(units.path() + "/lumalink.service", local.toUtf8()));
    QProcess verify;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    verify.setProcessEnvironment(environment);
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start("systemd-analyze", {"verify", "--user", units.path() + "/lumalink.service"});
    QVERIFY2(verify.waitForFinished(60000), "systemd-analyze did not end");
    const QString said = QString::fromUtf8(verify.readAll());
    QVERIFY2(
        verify.exitStatus() == QProcess::NormalExit && verify.exitCode() == 0, qPrintable(said));
    QVERIFY2(said.trimmed().isEmpty(), qPrintable(said));
}

void TestPackage::installedProgramsPlay()
{
    TestEnv env;
    SignageServer sim;
    sim.setContentDir(QStringLiteral(LUMA_SAMPLE_CONTENT));
    QVERIFY(sim.listen(QHostAddress::LocalHost, 0));
    QVERIFY(sim.listenHttp(QHostAddress::LocalHost, 0));
    const QString root = env.dataRoot();
    QVERIFY(writeFile(root + "/data/status.json",
        QString(R"({"connHost":"127.0.0.1:%1","password":"secret"})").arg(sim.port()).toUtf8()));

    // Started the way the autostart entry starts it.
    int code = -1;
    QCOMPARE(run(installed("lumalink"), {"--version"}, &code), QString("lumalink 1.1.23081003\n"));
    QProcess service;
    service.setProcessEnvironment(env.processEnvironment());
    service.setWorkingDirectory(m_root.path() + QStringLiteral(LUMA_INSTALL_PATH));
    service.start(installed("lumalink"), QStringList());
    QVERIFY(service.waitForStarted(5000));
    auto stopAll = qScopeGuard([&] {
        if (QTest::currentTestFailed()) {
            // What the service said, for a failure seen only on another machine.
            qInfo("service %s", service.state() == QProcess::Running ? "running" : "ended");
            const QDir logs(root + "/logs");
            for (const QString &name : logs.entryList(QDir::Files))
                qInfo().noquote() << "==" << name << "\n"
                                  << QString::fromUtf8(readFile(logs.filePath(name)).right(4000));
        }
        stopProcess(service);
        for (qint64 pid : processesOf(installed("lumaview"), env.home()))
            stopPid(pid);
    });

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root + "/data/day-play.xml"), 90000);
    const QStringList media
        = QDir(QStringLiteral(LUMA_SAMPLE_CONTENT) + "/files").entryList(QDir::Files);
    for (const QString &name : media)
        QVERIFY2(QFile::exists(root + "/data/mtl/" + name), qPrintable(name));

    // The watchdog finds no player and starts the one next to the service.
    QTRY_COMPARE_WITH_TIMEOUT(processesOf(installed("lumaview"), env.home()).size(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(localRequest(12223,
                                 "POST /notify?cmd=STATUS&param=4&timestamp=1&signature=x "
                                 "HTTP/1.1\r\nHost: localhost\r\n\r\n")
                                 .endsWith("{\"code\":0}"),
        15000);

    // The player plays the content and its plays reach the service's database.
    auto plays = [&] {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "package-plays");
        db.setDatabaseName(root + "/data/playdata.db");
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        int count = 0;
        if (db.open()) {
            QSqlQuery query("SELECT COUNT(*) FROM play_detail", db);
            if (query.next())
                count = query.value(0).toInt();
        }
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("package-plays");
        return count;
    };
    QTRY_VERIFY_WITH_TIMEOUT(plays() > 0, 60000);
}

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
