#include "clock.h"
#include "httppeer.h"
#include "settings/servicesettings.h"
#include "testenv.h"
#include "upkeep/logfile.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

// Packing, upload and cleanup of the log files, with the real zip program.
class TestLogFile : public QObject
{
    Q_OBJECT
    ServiceSettings m_settings;

private slots:
    void init();
    void cleanup();
    void todaysLogsAreUploaded();
    void allLogsAreUploaded();
    void refusedUploadKeepsArchive();
    void nothingToPackFails();
    void linksAreNotFollowed();
    void cleanupKeepsTheCutoffDay();

private:
    QString logs() const { return m_env->dataRoot() + "/logs"; }
    QStringList archiveNames(const QByteArray &upload) const;
    // What unzip prints of every member of the uploaded archive.
    QByteArray archiveText(const QByteArray &upload) const;

    std::unique_ptr<TestEnv> m_env;
};

void TestLogFile::init()
{
    // The test home's path holds a blank: folders and copies must not split it.
    m_env = std::make_unique<TestEnv>();
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 8), QTime(9, 0)).toMSecsSinceEpoch());
    QDir().mkpath(logs());
    m_settings.terminalId = "001A2B3C4D5E100";
    writeFile(logs() + "/lumalink.2026-12-08.0.log", "service today\r\n");
    writeFile(logs() + "/lumaview.2026-12-08.0.log", "player today\r\n");
    writeFile(logs() + "/lumalink.2026-12-07.0.log", "service yesterday\r\n");
    writeFile(logs() + "/notes.txt", "not a log");
}

void TestLogFile::cleanup()
{
    Clock::reset();
    m_settings.reset();
    m_env.reset();
}

QStringList TestLogFile::archiveNames(const QByteArray &upload) const
{
    // The multipart body holds the archive between its part headers and the
    // closing boundary; write it out and let unzip list it.
    const int start = upload.indexOf("PK\x03\x04");
    const int end = upload.lastIndexOf("\r\n--");
    if (start < 0 || end < start)
        return {};
    const QString path = m_env->home() + "/received.zip";
    writeFile(path, upload.mid(start, end - start));
    QProcess unzip;
    unzip.start("unzip", {"-Z1", path});
    unzip.waitForFinished(10000);
    QStringList names
        = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

void TestLogFile::todaysLogsAreUploaded()
{
    HttpPeer server;
    m_settings.logUrl = server.url(QString());
    QCOMPARE(LogFile::processTerminalLog(
                 *m_settings.runner, 201, m_settings.terminalId, m_settings.logUrl),
        int(LogFile::UPLOADED));
    QVERIFY(server.request.startsWith("POST /logfile/upload HTTP/1.1\r\n"));
    QVERIFY(server.request.contains("name=\"uploadFile\";filename=\"001A2B3C4D5E100.zip\";"));
    QCOMPARE(archiveNames(server.request),
        (QStringList {"lumalink.2026-12-08.0.log", "lumaview.2026-12-08.0.log"}));
    // Working folder and archive are gone; the logs themselves stay.
    QCOMPARE(QDir(logs()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList {"lumalink.2026-12-07.0.log", "lumalink.2026-12-08.0.log",
            "lumaview.2026-12-08.0.log", "notes.txt"}));
}

void TestLogFile::allLogsAreUploaded()
{
    HttpPeer server;
    m_settings.logUrl = server.url(QString());
    QCOMPARE(LogFile::processTerminalLog(
                 *m_settings.runner, 202, m_settings.terminalId, m_settings.logUrl),
        int(LogFile::UPLOADED));
    QCOMPARE(archiveNames(server.request),
        (QStringList {"lumalink.2026-12-07.0.log", "lumalink.2026-12-08.0.log",
            "lumaview.2026-12-08.0.log", "notes.txt"}));
    QVERIFY(!QFile::exists(logs() + "/001A2B3C4D5E100.zip"));
}

void TestLogFile::refusedUploadKeepsArchive()
{
    HttpPeer server;
    server.body = "{\"code\":1}";
    m_settings.logUrl = server.url(QString());
    QCOMPARE(LogFile::processTerminalLog(
                 *m_settings.runner, 201, m_settings.terminalId, m_settings.logUrl),
        int(LogFile::FAILED));
    QVERIFY(QFile::exists(logs() + "/001A2B3C4D5E100.zip"));
    const QString log = QString::fromUtf8(readFile(logs() + "/lumalink.2026-12-08.0.log"));
    QVERIFY(log.contains("[ LOGFILE ] - [ WARN ]  Send logfile to " + server.url("/logfile/upload")
        + " fail: {\"code\":1}"));

    // Without a configured log server the upload fails too, and says where it went.
    m_settings.logUrl = QString();
    QCOMPARE(LogFile::processTerminalLog(
                 *m_settings.runner, 202, m_settings.terminalId, m_settings.logUrl),
        int(LogFile::FAILED));
    QVERIFY(QString::fromUtf8(readFile(logs() + "/lumalink.2026-12-08.0.log"))
                .contains("Send logfile to /logfile/upload fail: "));
}

void TestLogFile::nothingToPackFails()
{
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 9), QTime(9, 0)).toMSecsSinceEpoch());
    HttpPeer server;
    m_settings.logUrl = server.url(QString());
    QCOMPARE(LogFile::processTerminalLog(
                 *m_settings.runner, 201, m_settings.terminalId, m_settings.logUrl),
        int(LogFile::FAILED));
    QVERIFY(server.request.isEmpty()); // no upload was tried
    QVERIFY(!QDir(logs() + "/2026-12-09").exists());
}

QByteArray TestLogFile::archiveText(const QByteArray &upload) const
{
    archiveNames(upload); // writes received.zip
    QProcess unzip;
    unzip.start("unzip", {"-p", m_env->home() + "/received.zip"});
    unzip.waitForFinished(10000);
    return unzip.readAllStandardOutput();
}

void TestLogFile::linksAreNotFollowed()
{
    writeFile(m_env->home() + "/secret.txt", "TOP SECRET");
    QVERIFY(QFile::link(m_env->home() + "/secret.txt", logs() + "/lumalink.2026-12-08.1.log"));
    for (int command : {201, 202}) {
        HttpPeer server;
        m_settings.logUrl = server.url(QString());
        QCOMPARE(LogFile::processTerminalLog(
                     *m_settings.runner, command, m_settings.terminalId, m_settings.logUrl),
            int(LogFile::UPLOADED));
        QVERIFY(archiveNames(server.request).contains("lumalink.2026-12-08.1.log"));
        const QByteArray text = archiveText(server.request);
        QVERIFY(text.contains("service today"));
        QVERIFY2(!text.contains("TOP SECRET"), text.constData());
    }
}

void TestLogFile::cleanupKeepsTheCutoffDay()
{
    writeFile(logs() + "/lumalink.2026-11-30.0.log", "x");
    writeFile(logs() + "/lumaview.2026-11-30.0.log", "x");
    writeFile(logs() + "/001A2B3C4D5E100.zip", "x");
    LogFile::clearLogFileBefore("2026-11-30");
    QVERIFY(QFile::exists(logs() + "/lumalink.2026-11-30.0.log"));
    LogFile::clearLogFileBefore("2026-12-01");
    QVERIFY(!QFile::exists(logs() + "/lumalink.2026-11-30.0.log"));
    QVERIFY(!QFile::exists(logs() + "/lumaview.2026-11-30.0.log"));
    QVERIFY(QFile::exists(logs() + "/lumalink.2026-12-07.0.log"));
    QVERIFY(QFile::exists(logs() + "/001A2B3C4D5E100.zip"));
    QVERIFY(QFile::exists(logs() + "/notes.txt"));
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "test_logfile.moc"
