#include "clocktext.h"
#include "content/downloadthread.h"
#include "content/downloadtracker.h"
#include "content/mediadownload.h"
#include "content/mediamarks.h"
#include "dailylog.h"
#include "httpfileserver.h"
#include "httppeer.h"
#include "lebytes.h"
#include "net/httpclient.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <mutex>

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

    void presentFileIsCheckedBeforeUse();
    void damagedFilesAreRemovedAtStart();
    void downloadVerifiesMd5InName();
    void transferRecoversFromServerFaults_data();
    void transferRecoversFromServerFaults();
    void unusableCompanionIsFetchedAgain_data();
    void unusableCompanionIsFetchedAgain();
    void downloadRefusesUnsafeNames_data();
    void downloadRefusesUnsafeNames();

    void progressPercent();
    void reportXml();
    void reportDiskFigures();
    void reportEscapesNames();

    void handOverOneFileAtATime();
    void downloadThreadRetriesAndAnnounces();
    void retryPausesDouble();
    void downloadThreadPausesLongerAfterEachFailure();
    void downloadThreadGivesUpContentThatNeverMatches();
    void restartForgetsTheFileInFlight_data();
    void restartForgetsTheFileInFlight();
    void emptyBatchIsSwitchedIn();

private:
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<HttpFileServer> m_http;
    std::shared_ptr<MediaMarks> m_marks;
    QString mtl(const QString &name) const { return m_env->dataRoot() + "/data/mtl/" + name; }
    QString served(const QString &name) const { return m_env->dataRoot() + "/served/" + name; }
    QString url(const QString &name) const
    {
        return QString("http://127.0.0.1:%1/data/mtl/%2").arg(m_http->port()).arg(name);
    }
    // The names the file server was asked for, in order.
    QStringList requested() const
    {
        QStringList names;
        for (const HttpFileServer::Request &request : m_http->requests())
            names << request.name;
        return names;
    }
};

static QString md5(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// The companion the server keeps next to a file: its digest in hexadecimal,
// 16 bytes of nothing, its size as a little-endian 64-bit number.
static QByteArray companion(const QByteArray &bytes)
{
    return md5(bytes).toLatin1() + QByteArray(16, '\0')
        + LeBytes::of(static_cast<unsigned long long>(bytes.size()));
}

namespace {
// The URLs a download thread announces, collected on the test's own thread:
// the signal comes from the download thread and is queued to this object.
class Announced : public QObject
{
public:
    explicit Announced(DownloadThread &thread)
    {
        connect(&thread, &DownloadThread::sigDownloaded, this,
            [this](const QString &url) { urls << url; });
    }
    QStringList urls;
};
} // namespace

void TestDownload::init()
{
    m_env = std::make_unique<TestEnv>();
    for (const char *dir : {"logs", "data/mtl"})
        QDir().mkpath(m_env->dataRoot() + "/" + dir);
    QDir().mkpath(served(QString()));
    m_http = std::make_unique<HttpFileServer>();
    m_http->setFilesDir(served(QString()));
    QVERIFY(m_http->listen());
    m_marks = DownloadThread::standardMarks();
}

void TestDownload::cleanup()
{
    m_marks.reset();
    m_http.reset();
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
    // An answer trickling in over 7 s: a plain post gives up after 5 s (its
    // text stays empty: the whole answer never arrived), an upload waits as
    // long as bytes keep moving.
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
    QCOMPARE(HttpClient::post(slowPost.url("/mtllog/add"), QString(), "x"), QString());
}

void TestDownload::presentFileIsCheckedBeforeUse()
{
    const QByteArray good = "picture bytes";
    const QString name = md5(good) + ".jpg";
    writeFile(mtl(name), good);
    writeFile(served(name), good);
    // Read once, then trusted by its mark without asking the server.
    QVERIFY(MediaDownload::fetch(url(name), *m_marks));
    QCOMPARE(m_marks->check(name), MediaMarks::Check::Marked);
    QVERIFY(requested().isEmpty());

    // Cut short by a power cut: it no longer fits its mark, is read, fails,
    // and is fetched again.
    writeFile(mtl(name), good.left(5));
    QVERIFY(MediaDownload::fetch(url(name), *m_marks));
    QCOMPARE(readFile(mtl(name)), good);
    QCOMPARE(requested(), (QStringList {name + ".md5", name}));
    QCOMPARE(m_marks->check(name), MediaMarks::Check::Marked);
    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains("[ MEDIA_CHECK ] - [ ERROR ]  " + name + " does not match"));
}

void TestDownload::damagedFilesAreRemovedAtStart()
{
    const QString marked = md5("marked") + ".png";
    const QString unmarked = md5("unmarked") + ".png";
    const QString damaged = md5("whole") + ".mp4";
    writeFile(mtl(marked), "marked");
    writeFile(mtl(unmarked), "unmarked");
    writeFile(mtl(damaged), "who");
    m_marks->markVerified(marked);
    const QStringList names {marked, unmarked, damaged, "absent.png", "../escape.png"};
    MediaMarks::Report report = m_marks->checkAndRemoveDamaged(names);
    QCOMPARE(report.marked, 1);
    QCOMPARE(report.hashed, 1);
    QCOMPARE(report.damaged, 1);
    QVERIFY(!QFile::exists(mtl(damaged)));

    // At the next start, a fresh reader trusts both marks.
    report = DownloadThread::standardMarks()->checkAndRemoveDamaged(names);
    QCOMPARE(report.marked, 2);
    QCOMPARE(report.hashed, 0);

    // Marks that do not parse are set aside, never trusted: all is read again.
    const QString marksPath = m_env->dataRoot() + "/data/mtl.marks";
    QVERIFY(writeFile(marksPath, "6\tnot a time\t1\t" + marked.toUtf8() + "\n"));
    report = DownloadThread::standardMarks()->checkAndRemoveDamaged(names);
    QCOMPARE(report.hashed, 2);
    QCOMPARE(QDir(m_env->dataRoot() + "/data").entryList({"mtl.marks.bad-*"}).size(), 1);
    // A line a power cut left half written is dropped, the rest kept.
    QFile marks(marksPath);
    QVERIFY(marks.open(QIODevice::Append));
    marks.write("12\t34");
    marks.close();
    report = DownloadThread::standardMarks()->checkAndRemoveDamaged(names);
    QCOMPARE(report.marked, 2);
    QVERIFY(readFile(marksPath).endsWith('\n'));
}

void TestDownload::downloadVerifiesMd5InName()
{
    const QByteArray good = "picture bytes";
    const QString goodName = md5(good) + ".jpg";
    writeFile(served(goodName), good);
    QVERIFY(MediaDownload::fetch(url(goodName), *m_marks));
    QCOMPARE(readFile(mtl(goodName)), good);
    QVERIFY(!QFile::exists(mtl(goodName + ".tmp")));
    QVERIFY(MediaDownload::companionUsable(mtl(goodName + ".md5")));
    QCOMPARE(requested(), (QStringList {goodName + ".md5", goodName}));

    // Upper-case digest in the name still matches.
    const QByteArray other = "another";
    const QString upper = md5(other).toUpper() + ".JPG";
    writeFile(served(upper), other);
    QVERIFY(MediaDownload::fetch(url(upper), *m_marks));

    // Content that does not match its name is deleted again.
    const QString liar = md5("expected") + ".png";
    writeFile(served(liar), "something else");
    bool wrongDigest = false;
    QVERIFY(!MediaDownload::fetch(url(liar), *m_marks, {}, &wrongDigest));
    QVERIFY(wrongDigest);
    QVERIFY(!QFile::exists(mtl(liar)));

    // A failed transfer leaves its partial file until the next attempt; the
    // companion the server did not give is not kept, so each attempt asks again.
    QVERIFY(!MediaDownload::fetch(url("missing.png"), *m_marks, {}, &wrongDigest));
    QVERIFY(!wrongDigest);
    QVERIFY(QFile::exists(mtl("missing.png.tmp")));
    QVERIFY(!QFile::exists(mtl("missing.png.md5")));
    m_http->clearHistory();
    QVERIFY(!MediaDownload::fetch(url("missing.png"), *m_marks));
    QCOMPARE(requested(), (QStringList {"missing.png.md5", "missing.png"}));

    const QString log = QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    QVERIFY(log.contains("[ DownloadFile ] - [ INFO ]  Downloaded file: " + goodName + "\r\n"));
    QVERIFY(log.contains("Downloaded file: " + liar + " with wrong md5: " + md5("something else")));
    QVERIFY(log.contains("[ DownloadFile ] - [ WARN ]  Download file failed: missing.png"));
}

void TestDownload::transferRecoversFromServerFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<int>("gets");
    QTest::newRow("a 500, then the file") << "fail" << true << 2;
    QTest::newRow("broken off halfway, continued") << "cut" << true << 2;
    QTest::newRow("silent halfway, tried again") << "stall" << true << 2;
    QTest::newRow("a flipped byte") << "corrupt" << false << 1;
}

void TestDownload::transferRecoversFromServerFaults()
{
    QFETCH(QString, fault);
    QFETCH(bool, kept);
    QFETCH(int, gets);
    const QByteArray bytes(300000, 'v');
    const QString name = md5(bytes) + ".mp4";
    writeFile(served(name), bytes);
    if (fault == "fail")
        m_http->fail(name);
    else if (fault == "corrupt")
        m_http->corrupt(name);
    else
        m_http->stall(name);
    if (fault == "cut")
        QTimer::singleShot(200, m_http.get(), [this, name] { m_http->unstall(name, false); });
    if (fault == "stall") // the first try gives up after 1 s of silence
        QTimer::singleShot(1500, m_http.get(), [this, name] { m_http->unstall(name, false); });
    bool wrongDigest = false;
    QCOMPARE(MediaDownload::fetch(url(name), *m_marks, {}, &wrongDigest, 1), kept);
    QCOMPARE(wrongDigest, !kept);
    // At least: a connection closed early may be asked again once more.
    QVERIFY2(requested().count(name) >= gets, qPrintable(requested().join(' ')));
    if (kept)
        QCOMPARE(readFile(mtl(name)), bytes);
    if (fault != "fail" && gets == 2) // continued, not sent again whole
        QVERIFY(m_http->requests().last().bytesSent < bytes.size());
}

void TestDownload::unusableCompanionIsFetchedAgain_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("fetched");
    const QByteArray good = companion("media bytes");
    QTest::newRow("empty, left by a 404") << QByteArray() << true;
    QTest::newRow("an error page") << QByteArray("<html>404 Not Found</html>") << true;
    QTest::newRow("too short") << good.left(20) << true;
    QTest::newRow("a digest") << good << false;
}

void TestDownload::unusableCompanionIsFetchedAgain()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, fetched);
    const QByteArray bytes = "media bytes";
    const QString name = md5(bytes) + ".png";
    writeFile(mtl(name + ".md5"), stored);
    writeFile(served(name), bytes);
    QVERIFY(MediaDownload::fetch(url(name), *m_marks));
    QCOMPARE(requested().contains(name + ".md5"), fetched);
    QVERIFY(MediaDownload::companionUsable(mtl(name + ".md5")));
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
    QCOMPARE(MediaDownload::localFileName(url), QString());
    QVERIFY(!MediaDownload::fetch(url, *m_marks));
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
    companion += LeBytes::of(120ULL);
    writeFile(mtl("part.jpg.md5"), companion);
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/part.jpg"), QString("25"));
    writeFile(mtl("part.jpg.md5"), companion.left(55)); // short companion
    QCOMPARE(DownloadTracker::getDownloadPercent("data/mtl/part.jpg"), QString("0"));
    companion = QByteArray(48, 'h') + LeBytes::of(9ULL);
    writeFile(mtl("part.jpg.md5"), companion);
    writeFile(mtl("part.jpg.tmp"), QByteArray(10, 'x'));
    QCOMPARE(DownloadTracker::getDownloadPercent("part.jpg"), QString("111"));
}

void TestDownload::reportXml()
{
    DownloadTracker tracker;
    tracker.downloadFiles = {"data/mtl/a.jpg", "data/mtl/b.jpg"};
    writeFile(mtl("a.jpg.tmp"), QByteArray(30, 'x'));
    writeFile(mtl("a.jpg.md5"), QByteArray(48, 'h') + LeBytes::of(120ULL));
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
    // The disk probe writes whole percentages; 1 % used is not a full disk.
    tracker.getDownloadXml(xml, "1000\n1");
    QVERIFY(xml.contains("systemSize=\"1000\" systemAvailSize=\"990\""));
    tracker.getDownloadXml(xml, "1000\n1.0");
    QVERIFY(xml.contains("systemSize=\"1000\" systemAvailSize=\"0\""));
    tracker.getDownloadXml(xml, "8796093022208\n0");
    QVERIFY(xml.contains("systemSize=\"8796093022208\" systemAvailSize=\"8796093022208\""));
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
    const Announced announced(thread);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(!announced.urls.isEmpty(), 5000);
    QCOMPARE(announced.urls.first(), QString("http://H:80/data/mtl/a"));
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
    thread.setRetryPauses(20, 40);
    std::mutex mutex;
    QStringList attempts;
    thread.setDownloader([&](const QString &url) {
        std::lock_guard<std::mutex> lock(mutex);
        attempts << url;
        return attempts.count(url) >= 3; // fails twice, then arrives
    });
    const Announced announced(thread);
    thread.start();
    thread.newDownload("http://h/a");
    thread.newDownload("http://h/data/mtl/"); // refused for good, never fetched
    thread.newDownload("http://h/b");
    QTRY_COMPARE_WITH_TIMEOUT(announced.urls.size(), 3, 15000);
    QCOMPARE(announced.urls, (QStringList {"http://h/a", "http://h/data/mtl/", "http://h/b"}));
    std::lock_guard<std::mutex> lock(mutex);
    QCOMPARE(attempts,
        (QStringList {
            "http://h/a", "http://h/a", "http://h/a", "http://h/b", "http://h/b", "http://h/b"}));
    QVERIFY(thread.allDownloaded());
}

void TestDownload::retryPausesDouble()
{
    QList<int> pauses;
    for (int failures = 1; failures <= 12; ++failures)
        pauses << DownloadThread::retryPauseMs(failures);
    QCOMPARE(pauses,
        (QList<int> {
            1000, 2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000, 300000}));
}

void TestDownload::downloadThreadGivesUpContentThatNeverMatches()
{
    DownloadThread thread;
    thread.setRetryPauses(5, 10);
    std::atomic<int> liarAttempts {0};
    thread.setDownloaderWithOutcome([&](const QString &url) {
        if (!url.endsWith("/liar"))
            return DownloadThread::Outcome::Done;
        ++liarAttempts;
        return DownloadThread::Outcome::WrongDigest;
    });
    QStringList done;
    QObject receiver;
    connect(
        &thread, &DownloadThread::sigDownloaded, &receiver,
        [&](const QString &url) { done << url; }, Qt::QueuedConnection);
    thread.start();
    // Given up after a few tries, so the file after it (and the playbill) follows.
    thread.newDownload("http://h/liar");
    thread.newDownload("http://h/fine");
    QTRY_COMPARE(done, (QStringList {"http://h/liar", "http://h/fine"}));
    QCOMPARE(liarAttempts.load(), DownloadThread::MAX_DIGEST_FAILURES);
    // A new playbill tries it again as often.
    thread.cancelAll();
    thread.newDownload("http://h/liar");
    QTRY_COMPARE(done.size(), 3);
    QCOMPARE(liarAttempts.load(), 2 * DownloadThread::MAX_DIGEST_FAILURES);
    thread.stop();
}

void TestDownload::downloadThreadPausesLongerAfterEachFailure()
{
    DownloadThread thread;
    thread.setRetryPauses(40, 320);
    std::mutex mutex;
    QList<qint64> attempts; // ms since the start
    QElapsedTimer clock;
    clock.start();
    thread.setDownloader([&](const QString &url) {
        std::lock_guard<std::mutex> lock(mutex);
        attempts << clock.elapsed();
        return !url.endsWith("/gone");
    });
    // Collected on this thread, in the order the download thread reported them.
    QList<int> pauses;
    QStringList done;
    QObject receiver;
    connect(
        &thread, &DownloadThread::sigRetryLater, &receiver,
        [&](const QString &, int pause) { pauses << pause; }, Qt::QueuedConnection);
    connect(
        &thread, &DownloadThread::sigDownloaded, &receiver,
        [&](const QString &url) { done << url; }, Qt::QueuedConnection);
    thread.start();
    thread.newDownload("http://h/gone");
    QTRY_VERIFY_WITH_TIMEOUT(pauses.size() >= 6, 10000);
    QCOMPARE(pauses.mid(0, 6), (QList<int> {40, 80, 160, 320, 320, 320}));
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Never asked again before its pause is over.
        for (int i = 1; i < 6; ++i)
            QVERIFY2(attempts[i] - attempts[i - 1] >= pauses[i - 1] - 5,
                qPrintable(
                    QString("attempt %1 after %2 ms").arg(i).arg(attempts[i] - attempts[i - 1])));
    }

    // A new playbill: what was handed over is forgotten and the pause starts over.
    thread.cancelAll();
    QVERIFY(thread.allDownloaded());
    int before = pauses.size();
    thread.newDownload("http://h/gone");
    QTRY_VERIFY(pauses.size() >= before + 2);
    QCOMPARE(pauses.mid(before, 2), (QList<int> {40, 80}));
    // retryNow ends a pause at once and starts it over too.
    QTRY_VERIFY(pauses.last() == 320);
    before = pauses.size();
    thread.retryNow();
    QTRY_VERIFY(pauses.size() > before);
    QCOMPARE(pauses.at(before), 40);

    thread.cancelAll();
    thread.newDownload("http://h/b");
    QTRY_COMPARE(done, QStringList {"http://h/b"});
}

namespace {
// A transfer of "a" that stalls until it is released or cancelled; every other
// file arrives at once.
struct StallingTransfer
{
    std::mutex mutex;
    bool released = false;
    QStringList fetched;
    QStringList cancelled;

    bool fetch(DownloadThread &thread, const QString &url)
    {
        const QString name = url.mid(url.lastIndexOf('/') + 1);
        {
            std::lock_guard<std::mutex> lock(mutex);
            fetched << name;
        }
        if (name != "a")
            return true;
        while (!thread.cancelRequested()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (released)
                    return true;
            }
            QThread::msleep(5);
        }
        std::lock_guard<std::mutex> lock(mutex);
        cancelled << name;
        return false;
    }
    QStringList fetchedNames()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return fetched;
    }
    QStringList cancelledNames()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return cancelled;
    }
};

// Hand-over steps, as the session's timer makes them, until the playbill is switched.
bool stepUntilSwitched(DownloadTracker &tracker, DownloadThread &thread)
{
    for (int i = 0; i < 1000; ++i) {
        if (tracker.step(thread, "H", 80) == DownloadTracker::Step::Switched)
            return true;
        QThread::msleep(5);
    }
    return false;
}
} // namespace

void TestDownload::restartForgetsTheFileInFlight_data()
{
    QTest::addColumn<QList<QString>>("batch");
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QStringList>("cancelled");
    QTest::newRow("other files") << QList<QString> {"data/mtl/b", "data/mtl/c"}
                                 << QStringList {"a", "b", "c"} << QStringList {"a"};
    QTest::newRow("same file first")
        << QList<QString> {"data/mtl/a", "data/mtl/b"} << QStringList {"a", "b"} << QStringList {};
    QTest::newRow("no files") << QList<QString> {} << QStringList {"a"} << QStringList {"a"};
}

void TestDownload::restartForgetsTheFileInFlight()
{
    QFETCH(QList<QString>, batch);
    QFETCH(QStringList, fetched);
    QFETCH(QStringList, cancelled);
    const QString playbill = m_env->dataRoot() + "/data/day-play.xml";
    writeFile(playbill, "old");
    DownloadThread thread;
    StallingTransfer transfer;
    thread.setDownloader([&](const QString &url) { return transfer.fetch(thread, url); });
    thread.start();
    DownloadTracker tracker;
    tracker.restart();
    tracker.downloadFiles = {"data/mtl/a"};
    QCOMPARE(tracker.step(thread, "H", 80), DownloadTracker::Step::HandedOver);
    QTRY_COMPARE(transfer.fetchedNames(), QStringList {"a"});

    // A new schedule while a is on its way.
    writeFile(playbill + ".tmp", "new");
    tracker.restart();
    QVERIFY(tracker.currentDownload.isEmpty());
    tracker.downloadFiles = batch;
    if (batch.value(0) == "data/mtl/a") {
        QCOMPARE(tracker.step(thread, "H", 80), DownloadTracker::Step::HandedOver);
        std::lock_guard<std::mutex> lock(transfer.mutex);
        transfer.released = true;
    }
    QVERIFY(stepUntilSwitched(tracker, thread));
    // Every file of the new batch was fetched and nothing else counted.
    QCOMPARE(tracker.doneFiles, batch);
    QCOMPARE(readFile(playbill), QByteArray("new"));
    QCOMPARE(transfer.fetchedNames(), fetched);
    QTRY_COMPARE(transfer.cancelledNames(), cancelled);

    // The batch after that starts with its own first file, fetched.
    writeFile(playbill + ".tmp", "next");
    tracker.restart();
    tracker.downloadFiles = {"data/mtl/d"};
    QVERIFY(stepUntilSwitched(tracker, thread));
    QCOMPARE(tracker.doneFiles, QList<QString> {"data/mtl/d"});
    QCOMPARE(transfer.fetchedNames(), fetched + QStringList {"d"});
    QCOMPARE(readFile(playbill), QByteArray("next"));
}

void TestDownload::emptyBatchIsSwitchedIn()
{
    const QString playbill = m_env->dataRoot() + "/data/day-play.xml";
    writeFile(playbill, "old");
    writeFile(playbill + ".tmp", "<Day/>");
    DownloadThread thread; // not started: nothing is to be fetched
    DownloadTracker tracker;
    QCOMPARE(tracker.step(thread, "H", 80), DownloadTracker::Step::Idle);
    tracker.restart();
    // Not while lists and zones may still come; then once.
    QCOMPARE(tracker.step(thread, "H", 80, true), DownloadTracker::Step::Idle);
    QCOMPARE(tracker.step(thread, "H", 80), DownloadTracker::Step::Switched);
    QCOMPARE(readFile(playbill), QByteArray("<Day/>"));
    QCOMPARE(tracker.step(thread, "H", 80), DownloadTracker::Step::Idle);
}

QTEST_GUILESS_MAIN(TestDownload)
#include "test_download.moc"
