#include "commandrunner.h"
#include "downloadthread.h"
#include "downloadtracker.h"
#include "fakerunner.h"
#include "httpclient.h"
#include "httppeer.h"
#include "miscfunc.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDomDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// Stands in for wget: "-O path ... url" writes the bytes served for url's last
// piece into path, or fails like wget when nothing is served.
class FakeWget : public CommandRunner
{
public:
    QMap<QString, QByteArray> served; // last URL piece -> bytes
    QStringList urls;

    CommandResult run(
        const QString &program, const QStringList &args, const QByteArray &, int, int) override
    {
        CommandResult result;
        result.started = result.finished = true;
        result.exitCode = 1;
        if (program != "wget")
            return result;
        const QString out = args.value(args.indexOf("-O") + 1);
        const QString url = args.last();
        urls << url;
        QFile file(out);
        file.open(QIODevice::WriteOnly); // wget creates the output even when it fails
        const QString piece = url.split('/').last();
        if (served.contains(piece)) {
            file.write(served.value(piece));
            result.exitCode = 0;
        }
        return result;
    }
    bool startDetached(const QString &, const QStringList &) override { return false; }
};

class TestDownload : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void succeedPostResult_data();
    void succeedPostResult();
    void postHeaders();
    void uploadKeepsGoingWhileItMoves();

    void downloadPresentFileRunsNothing();
    void downloadVerifiesMd5InName();
    void downloadRefusesUnsafeNames_data();
    void downloadRefusesUnsafeNames();

    void progressPercent();
    void reportXml();
    void reportDiskFigures();
    void reportEscapesNames();

    void handOverOneFileAtATime();
    void downloadThreadRetriesAndAnnounces();

private:
    std::unique_ptr<TestEnv> m_env;
    std::shared_ptr<FakeWget> m_wget;
    std::shared_ptr<CommandRunner> m_previous;
    QString mtl(const QString &name) const { return m_env->dataRoot() + "/data/mtl/" + name; }
};

static QString md5(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

void TestDownload::init()
{
    m_env = std::make_unique<TestEnv>();
    for (const char *dir : {"logs", "data/mtl"})
        QDir().mkpath(m_env->dataRoot() + "/" + dir);
    m_wget = std::make_shared<FakeWget>();
    m_previous = CommandRunner::install(m_wget);
}

void TestDownload::cleanup()
{
    CommandRunner::install(m_previous);
    m_env.reset();
}

void TestDownload::succeedPostResult_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("ok");
    QTest::newRow("status 200") << R"({"status":200})" << true;
    QTest::newRow("status text") << R"({"status":"200"})" << false;
    QTest::newRow("status 500") << R"({"status":500,"code":0})" << false;
    QTest::newRow("status wins") << R"({"status":200,"code":1})" << true;
    QTest::newRow("code 0") << R"({"code":0})" << true;
    QTest::newRow("code 1") << R"({"code":1})" << false;
    QTest::newRow("code text") << R"({"code":"x"})" << true; // a text counts as 0
    QTest::newRow("empty object") << "{}" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("not json") << "OK" << false;
}

void TestDownload::succeedPostResult()
{
    QFETCH(QString, reply);
    QFETCH(bool, ok);
    QCOMPARE(HttpClient::succeedPostResult(reply), ok);
}

void TestDownload::postHeaders()
{
    HttpPeer peer;
    QCOMPARE(HttpClient::post(peer.url("/mtllog/add"), QString(), "a=1"), QString("{\"code\":0}"));
    QVERIFY(peer.request.startsWith("POST /mtllog/add HTTP/1.1\r\n"));
    QCOMPARE(peer.headerValue("Content-Type"), QByteArray("application/x-www-form-urlencoded"));

    HttpPeer json;
    json.body = QByteArray("{\"status\":200}\0trailing", 23);
    QJsonObject object;
    object["terminalId"] = "T";
    object["count"] = 2;
    QCOMPARE(HttpClient::post(json.url("/x"), object), QString("{\"status\":200}"));
    QCOMPARE(json.headerValue("Content-Type"), QByteArray("application/json"));
    QVERIFY(json.request.endsWith("{\"count\":2,\"terminalId\":\"T\"}"));

    HttpPeer upload;
    writeFile(m_env->home() + "/T1.zip", "PK-archive-bytes");
    QCOMPARE(HttpClient::postFile(
                 upload.url("/logfile/upload"), "uploadFile", m_env->home() + "/T1.zip"),
        QString("{\"code\":0}"));
    QVERIFY(upload.headerValue("Content-Type").startsWith("multipart/form-data; boundary="));
    QVERIFY(upload.request.contains("Content-Type: multipart/form-data\r\n"));
    QVERIFY(upload.request.contains(
        "Content-Disposition: form-data; name=\"uploadFile\";filename=\"T1.zip\";\r\n"));
    QVERIFY(upload.request.contains("\r\n\r\nPK-archive-bytes\r\n"));

    // Nobody listening: empty text.
    const quint16 port = peer.server.serverPort();
    peer.server.close();
    QCOMPARE(HttpClient::post(QString("http://127.0.0.1:%1/").arg(port), QString(), ""), QString());
}

void TestDownload::uploadKeepsGoingWhileItMoves()
{
    // An answer trickling in over 7 s: a plain post gives up after 5 s, an
    // upload waits as long as bytes keep moving.
    HttpPeer slow;
    slow.body = "{\"code\":0}...."; // 14 bytes, one every 500 ms
    slow.pieceMs = 500;
    writeFile(m_env->home() + "/a.zip", "zip");
    QCOMPARE(
        HttpClient::postFile(slow.url("/logfile/upload"), "uploadFile", m_env->home() + "/a.zip"),
        QString("{\"code\":0}...."));

    HttpPeer slowPost;
    slowPost.body = slow.body;
    slowPost.pieceMs = 500;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(HttpClient::post(slowPost.url("/mtllog/add"), QString(), "x"), QString());
    QVERIFY(timer.elapsed() < 6500);
}

void TestDownload::downloadPresentFileRunsNothing()
{
    writeFile(mtl("present.jpg"), "x");
    QVERIFY(HttpClient::downloadFile("http://h:1/data/mtl/present.jpg"));
    QVERIFY(m_wget->urls.isEmpty());
}

void TestDownload::downloadVerifiesMd5InName()
{
    const QByteArray good = "picture bytes";
    const QString goodName = md5(good) + ".jpg";
    m_wget->served[goodName] = good;
    m_wget->served[goodName + ".md5"] = QByteArray(56, 'm');
    QVERIFY(HttpClient::downloadFile("http://h:1/data/mtl/" + goodName));
    QCOMPARE(readFile(mtl(goodName)), good);
    QVERIFY(!QFile::exists(mtl(goodName + ".tmp")));
    QVERIFY(QFile::exists(mtl(goodName + ".md5")));
    QCOMPARE(m_wget->urls,
        (QStringList {
            "http://h:1/data/mtl/" + goodName + ".md5", "http://h:1/data/mtl/" + goodName}));

    // Upper-case digest in the name still matches.
    const QByteArray other = "another";
    const QString upper = md5(other).toUpper() + ".JPG";
    m_wget->served[upper] = other;
    QVERIFY(HttpClient::downloadFile("http://h:1/data/mtl/" + upper));

    // Content that does not match its name is deleted again.
    const QString liar = md5("expected") + ".png";
    m_wget->served[liar] = "something else";
    QVERIFY(!HttpClient::downloadFile("http://h:1/data/mtl/" + liar));
    QVERIFY(!QFile::exists(mtl(liar)));

    // A failed transfer leaves its partial file until the next attempt.
    QVERIFY(!HttpClient::downloadFile("http://h:1/data/mtl/missing.png"));
    QVERIFY(QFile::exists(mtl("missing.png.tmp")));
    m_wget->urls.clear();
    QVERIFY(!HttpClient::downloadFile("http://h:1/data/mtl/missing.png"));
    QCOMPARE(m_wget->urls.size(), 1); // the companion is not fetched twice

    const QString log = QString::fromUtf8(readFile(MiscFunc::logFilePath(MiscFunc::getDate())));
    QVERIFY(log.contains("[ DownloadFile ] - [ INFO ]  Downloaded file: " + goodName + "\r\n"));
    QVERIFY(log.contains("Downloaded file: " + liar + " with wrong md5: " + md5("something else")));
    QVERIFY(log.contains("[ DownloadFile ] - [ WARN ]  Download file failed: missing.png"));
}

void TestDownload::downloadRefusesUnsafeNames_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("trailing slash") << "http://h:1/data/mtl/";
    QTest::newRow("dot") << "http://h:1/data/mtl/.";
    QTest::newRow("dotdot") << "http://h:1/data/mtl/..";
    QTest::newRow("backslash") << "http://h:1/data/mtl/..\\..\\x";
}

void TestDownload::downloadRefusesUnsafeNames()
{
    QFETCH(QString, url);
    QCOMPARE(HttpClient::localFileName(url), QString());
    QVERIFY(!HttpClient::downloadFile(url));
    QVERIFY(m_wget->urls.isEmpty());
    QCOMPARE(QDir(m_env->dataRoot() + "/data").entryList(QDir::Files), QStringList());
}

void TestDownload::progressPercent()
{
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/none.jpg"), QString("0"));
    writeFile(mtl("done.jpg"), "x");
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/done.jpg"), QString("100"));

    writeFile(mtl("part.jpg.tmp"), QByteArray(30, 'x'));
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/part.jpg"), QString("0")); // no .md5
    QByteArray companion(48, 'h');
    companion += MiscFunc::getLowerArray(120ULL);
    writeFile(mtl("part.jpg.md5"), companion);
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/part.jpg"), QString("25"));
    writeFile(mtl("part.jpg.md5"), companion.left(55)); // short companion
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/part.jpg"), QString("0"));
    companion = QByteArray(48, 'h') + MiscFunc::getLowerArray(9ULL);
    writeFile(mtl("part.jpg.md5"), companion);
    writeFile(mtl("part.jpg.tmp"), QByteArray(10, 'x'));
    QCOMPARE(DownloadTracker::getDownloadPercent("part.jpg"), QString("111"));
}

void TestDownload::reportXml()
{
    DownloadTracker tracker;
    tracker.downloadFiles = {"data/mtl/a.jpg", "data/mtl/b.jpg"};
    writeFile(mtl("a.jpg.tmp"), QByteArray(30, 'x'));
    writeFile(mtl("a.jpg.md5"), QByteArray(48, 'h') + MiscFunc::getLowerArray(120ULL));
    QByteArray xml;
    tracker.getDownloadXml(xml, "32G\n25");
    QCOMPARE(xml,
        QByteArray("<?xml version=\"1.0\" encoding=\"GBK\"?><DownloadList>\n"
                   "<file name=\"data/mtl/a.jpg\" percentage=\"25\" downloadstatus=\"2\"/>\n"
                   "<file name=\"data/mtl/b.jpg\" percentage=\"0\" downloadstatus=\"1\"/>\n"
                   "<download downloadcount=\"2\" downloadedCount=\"0\"/>\n"
                   "<space sdcardSize=\"0\" sdcardAvailSize=\"0\" "
                   "systemSize=\"32000000000\" systemAvailSize=\"24000000000\"/>\n"
                   "</DownloadList>"));

    tracker.doneFiles = {"data/mtl/a.jpg"};
    tracker.downloadFiles = {"data/mtl/b.jpg"};
    tracker.getDownloadXml(xml, "1000\n0.5");
    QVERIFY(xml.contains("<file name=\"data/mtl/a.jpg\" percentage=\"100\"/>\n"
                         "<download downloadcount=\"2\" downloadedCount=\"1\"/>\n"));
    QVERIFY(xml.contains("systemSize=\"1000\" systemAvailSize=\"500\""));

    // After the last file: no file elements, counts 0 and 0.
    tracker.downloadFiles.clear();
    tracker.getDownloadXml(xml, "1000\n10");
    QVERIFY(!xml.contains("<file"));
    QVERIFY(xml.contains("<download downloadcount=\"0\" downloadedCount=\"0\"/>"));
    QVERIFY(xml.endsWith("</DownloadList>"));
}

void TestDownload::reportDiskFigures()
{
    DownloadTracker tracker;
    QByteArray xml;
    tracker.getDownloadXml(xml, "\n");
    QVERIFY(xml.contains("systemSize=\"1\" systemAvailSize=\"1\""));
    tracker.getDownloadXml(xml); // this machine's disk
    QVERIFY(xml.contains("systemSize=\""));
}

void TestDownload::reportEscapesNames()
{
    DownloadTracker tracker;
    const QList<QString> waiting {"data/mtl/Tom & Jerry.png", "data/mtl/<b>.jpg"};
    tracker.downloadFiles = waiting;
    tracker.doneFiles = {"data/mtl/say \"hi\".mp4"};
    QByteArray xml;
    tracker.getDownloadXml(xml, "1000\n10");
    // The report reads back as XML with every name as it was.
    QDomDocument doc;
    QString error;
    QVERIFY2(doc.setContent(xml, &error), qPrintable(error));
    QStringList names;
    for (QDomElement file = doc.documentElement().firstChildElement("file"); !file.isNull();
         file = file.nextSiblingElement("file"))
        names << file.attribute("name");
    QCOMPARE(names,
        (QStringList {"data/mtl/Tom & Jerry.png", "data/mtl/<b>.jpg", "data/mtl/say \"hi\".mp4"}));
}

void TestDownload::handOverOneFileAtATime()
{
    writeFile(m_env->dataRoot() + "/data/day-play.xml", "old");
    writeFile(m_env->dataRoot() + "/data/day-play.xml.tmp", "new");
    DownloadThread thread; // not started: the test plays the transfer
    DownloadTracker tracker;
    tracker.downloadFiles = {"data/mtl/a", "data/mtl/b"};
    using Step = DownloadTracker::Step;

    QCOMPARE(tracker.step(thread, "H", 80), Step::HandedOver);
    QCOMPARE(tracker.currentDownload, QString("http://H:80/data/mtl/a"));
    QVERIFY(!thread.allDownloaded());
    QCOMPARE(tracker.step(thread, "H", 80), Step::Waiting);
    QCOMPARE(tracker.step(thread, "H", 80), Step::Waiting);

    // The transfer of a ends: it moves to the done list, then b is handed over.
    thread.setDownloader([](const QString &) { return true; });
    QSignalSpy spy(&thread, &DownloadThread::sigDownloaded);
    thread.start();
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.first().first().toString(), QString("http://H:80/data/mtl/a"));
    QCOMPARE(tracker.step(thread, "H", 80), Step::Completed);
    QCOMPARE(tracker.doneFiles, QList<QString> {"data/mtl/a"});
    QCOMPARE(readFile(m_env->dataRoot() + "/data/day-play.xml"), QByteArray("old"));
    QCOMPARE(tracker.step(thread, "H", 80), Step::HandedOver);
    QCOMPARE(tracker.currentDownload, QString("http://H:80/data/mtl/b"));
    QTRY_VERIFY(thread.allDownloaded());
    QCOMPARE(tracker.step(thread, "H", 80), Step::Completed);

    // Not while the session still collects lists and zones; then, once.
    QCOMPARE(tracker.step(thread, "H", 80, true), Step::Idle);
    QCOMPARE(readFile(m_env->dataRoot() + "/data/day-play.xml"), QByteArray("old"));
    QCOMPARE(tracker.step(thread, "H", 80), Step::Switched);
    QCOMPARE(readFile(m_env->dataRoot() + "/data/day-play.xml"), QByteArray("new"));
    QVERIFY(!QFile::exists(m_env->dataRoot() + "/data/day-play.xml.tmp"));
    QCOMPARE(tracker.step(thread, "H", 80), Step::Idle);

    // An entry that cannot name a file is dropped, not handed over.
    tracker.downloadFiles = {"data/mtl/", "data/mtl/c"};
    QCOMPARE(tracker.step(thread, "H", 80), Step::Skipped);
    QCOMPARE(tracker.step(thread, "H", 80), Step::HandedOver);
    QCOMPARE(tracker.currentDownload, QString("http://H:80/data/mtl/c"));
}

void TestDownload::downloadThreadRetriesAndAnnounces()
{
    DownloadThread thread;
    QMutex mutex;
    QStringList attempts;
    thread.setDownloader([&](const QString &url) {
        QMutexLocker lock(&mutex);
        attempts << url;
        return attempts.count(url) >= 3; // fails twice, then arrives
    });
    QSignalSpy spy(&thread, &DownloadThread::sigDownloaded);
    thread.start();
    thread.newDownload("http://h/a");
    thread.newDownload("http://h/data/mtl/"); // refused for good, never fetched
    thread.newDownload("http://h/b");
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 15000);
    QCOMPARE(spy.at(0).first().toString(), QString("http://h/a"));
    QCOMPARE(spy.at(1).first().toString(), QString("http://h/data/mtl/"));
    QCOMPARE(spy.at(2).first().toString(), QString("http://h/b"));
    QMutexLocker lock(&mutex);
    QCOMPARE(attempts,
        (QStringList {
            "http://h/a", "http://h/a", "http://h/a", "http://h/b", "http://h/b", "http://h/b"}));
    QVERIFY(thread.allDownloaded());
}

QTEST_GUILESS_MAIN(TestDownload)
#include "test_download.moc"
