#include "testenv.h"

#include <QProcess>
#include <QtTest>

// --help and --version of both programs, answered without a display and
// without touching the data folder; unknown options are refused.
class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
    void unknownOptionIsRefused_data();
    void unknownOptionIsRefused();
};

namespace {
struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runProgram(const TestEnv &env, const QString &program, const QStringList &args, bool display)
{
    QProcessEnvironment environment = env.processEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!display)
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    Run run;
    if (!process.waitForFinished(15000)) {
        stopProcess(process);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
} // namespace

void TestCommandLine::answers_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("option");
    for (const auto &p : {qMakePair(QStringLiteral(LUMALINK_BIN), QStringLiteral("lumalink")),
             qMakePair(QStringLiteral(LUMAVIEW_BIN), QStringLiteral("lumaview"))}) {
        for (const char *option : {"--help", "-h", "--version", "-v"})
            QTest::addRow("%s %s", qPrintable(p.second), option) << p.first << p.second << option;
    }
}

void TestCommandLine::answers()
{
    QFETCH(QString, program);
    QFETCH(QString, name);
    QFETCH(QString, option);
    TestEnv env;
    // No display and no platform set: help must not need one.
    const Run run = runProgram(env, program, {option}, false);
    QCOMPARE(run.exitCode, 0);
    if (option.contains(QLatin1Char('v'))) {
        QCOMPARE(run.out, name + QStringLiteral(" 1.1.23081003\n"));
    } else {
        QVERIFY2(run.out.contains(QStringLiteral("Data folder: ") + env.dataRoot() + "/data\n"),
            qPrintable(run.out));
        QVERIFY(run.out.contains(QStringLiteral("Log folder:  ") + env.dataRoot() + "/logs "));
        QVERIFY(run.out.contains(name + QStringLiteral(".<yyyy-MM-dd>.0.log")));
        QVERIFY(run.out.contains(QStringLiteral("12222 (lumalink")));
        QVERIFY(run.out.contains(QStringLiteral("12223 (lumaview")));
        QVERIFY(run.out.contains(QStringLiteral("--version")));
    }
    // Asking for information leaves no trace in the data folder.
    QVERIFY(!QDir(env.dataRoot()).exists());
}

void TestCommandLine::unknownOptionIsRefused_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("lumalink") << QStringLiteral(LUMALINK_BIN);
    QTest::newRow("lumaview") << QStringLiteral(LUMAVIEW_BIN);
}

void TestCommandLine::unknownOptionIsRefused()
{
    QFETCH(QString, program);
    TestEnv env;
    const Run run = runProgram(env, program, {QStringLiteral("--no-such-option")}, true);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("no-such-option")), qPrintable(run.err));
    // Refused before anything starts: no folders, no log, no port.
    QVERIFY(!QDir(env.dataRoot()).exists());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
