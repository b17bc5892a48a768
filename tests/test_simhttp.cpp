#include "httpfileserver.h"
#include "signageserver.h"
#include "simcontrol.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// Expected bytes are computed here from the files themselves (QCryptographicHash,
// QDataStream), not with the server's helpers.
namespace {

QByteArray md5Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray pattern(int size, int seed)
{
    QByteArray data(size, '\0');
    char *out = data.data();
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char(x >> 24);
    }
    return data;
}

struct Response
{
    int status = 0;
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

// A plain socket speaking HTTP by hand, to see exactly what goes over the wire.
class RawClient
{
public:
    bool open(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(5000);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    bool waitFor(const std::function<bool()> &done, int ms = 5000)
    {
        return QTest::qWaitFor(
            [&]() {
                buffer += socket.readAll();
                return done();
            },
            ms);
    }
    // One response; HEAD answers carry no body whatever their Content-Length says.
    Response read(bool head = false)
    {
        Response r;
        if (!waitFor([&]() { return buffer.contains("\r\n\r\n"); }))
            return r;
        const int end = buffer.indexOf("\r\n\r\n");
        QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);
        r.status = lines.takeFirst().split(' ').value(1).toInt();
        for (const QByteArray &line : lines) {
            const int colon = line.indexOf(':');
            r.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const int length = head ? 0 : r.headers.value("content-length").toInt();
        waitFor([&]() { return buffer.size() >= length; });
        r.body = buffer.left(length);
        buffer.remove(0, length);
        return r;
    }
    bool closed(int ms = 5000)
    {
        return waitFor([&]() { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }

    QTcpSocket socket;
    QByteArray buffer;
};

QByteArray getRequest(const QByteArray &path, const QByteArray &extra = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

struct Fetched
{
    int status = 0;
    QByteArray body;
    QByteArray contentType;
    qint64 contentLength = -1;
};

Fetched finished(QNetworkReply *reply)
{
    Fetched f;
    if (!QTest::qWaitFor([&]() { return reply->isFinished(); }, 30000))
        qWarning("no answer to %s", qPrintable(reply->url().toString()));
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.body = reply->readAll();
    f.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (reply->hasRawHeader("Content-Length"))
        f.contentLength = reply->rawHeader("Content-Length").toLongLong();
    reply->deleteLater();
    return f;
}

// A multipart body built the way the terminal's log upload builds it.
QHttpMultiPart *logUpload(const QByteArray &fileName, const QByteArray &data)
{
    auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, "multipart/form-data");
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
        "form-data; name=\"uploadFile\";filename=\"" + fileName + "\";");
    part.setBody(data);
    multi->append(part);
    return multi;
}

QByteArray zipLike(int size)
{
    // Starts like a zip and holds CRLFs and dashes that must not end the part early.
    return "PK\x03\x04" + pattern(size, 7) + "\r\n--\r\n--boundary" + pattern(64, 8);
}

} // namespace

class TestSimHttp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void getServesFiles_data();
    void getServesFiles();
    void errorStatuses_data();
    void errorStatuses();
    void headHasNoBody();
    void companionLayout();
    void connectionReuse_data();
    void connectionReuse();
    void ranges_data();
    void ranges();
    void largeFileArrivesWhole();

    void multipartUpload_data();
    void multipartUpload();
    void uploadInSeveralWrites_data();
    void uploadInSeveralWrites();
    void postReplies_data();
    void postReplies();
    void multipartParsing_data();
    void multipartParsing();
    void statisticsReports_data();
    void statisticsReports();
    void statisticsFailuresAreCounted();

    void corruptAndFail_data();
    void corruptAndFail();
    void stallHoldsTheBody_data();
    void stallHoldsTheBody();
    void delayHoldsEveryAnswer();
    void wgetDownloads_data();
    void wgetDownloads();

    void sampleContentIsDownloadable();
    void controlCommands_data();
    void controlCommands();

private:
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server->port()).arg(path);
    }
    Fetched get(const QString &path, const QByteArray &method = "GET")
    {
        return finished(net->sendCustomRequest(QNetworkRequest(QUrl(url(path))), method));
    }

    QTemporaryDir *dir = nullptr;
    HttpFileServer *server = nullptr;
    QNetworkAccessManager *net = nullptr;
    QByteArray small; // small.bin
};

void TestSimHttp::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    small = pattern(1000, 1);
    QVERIFY(writeFile(dir->filePath("small.bin"), small));
    QVERIFY(writeFile(dir->filePath("a b.txt"), "spaced name\n"));
    QVERIFY(writeFile(dir->filePath("empty.bin"), QByteArray()));
    QVERIFY(writeFile(dir->filePath("own.bin"), "x"));
    QVERIFY(writeFile(dir->filePath("own.bin.md5"), "a companion of its own"));
    server = new HttpFileServer;
    server->setFilesDir(dir->path());
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    net = new QNetworkAccessManager;
    net->setProxy(QNetworkProxy::NoProxy);
}

void TestSimHttp::cleanup()
{
    delete net;
    delete server;
    delete dir;
    net = nullptr;
    server = nullptr;
    dir = nullptr;
}

void TestSimHttp::getServesFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("file");

    QTest::newRow("media path") << "/data/mtl/small.bin"
                                << "small.bin";
    QTest::newRow("bare name") << "/small.bin"
                               << "small.bin";
    QTest::newRow("query ignored") << "/data/mtl/small.bin?t=1"
                                   << "small.bin";
    QTest::newRow("percent-encoded") << "/data/mtl/a%20b.txt"
                                     << "a b.txt";
    QTest::newRow("empty file") << "/data/mtl/empty.bin"
                                << "empty.bin";
    QTest::newRow("stored .md5 wins") << "/data/mtl/own.bin.md5"
                                      << "own.bin.md5";
}

void TestSimHttp::getServesFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, file);
    const QByteArray expected = readFile(dir->filePath(file));
    const Fetched f = get(path);
    QCOMPARE(f.status, 200);
    QCOMPARE(f.body, expected);
    QCOMPARE(f.contentLength, qint64(expected.size()));
    QCOMPARE(f.contentType, QByteArray("application/octet-stream"));
    const HttpFileServer::Request last = server->requests().last();
    QCOMPARE(last.status, 200);
    QCOMPARE(last.bytesSent, qint64(expected.size()));
    QVERIFY(last.complete);
}

void TestSimHttp::errorStatuses_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");

    QTest::newRow("missing") << getRequest("/data/mtl/none.png") << 404;
    QTest::newRow("companion of missing") << getRequest("/data/mtl/none.png.md5") << 404;
    QTest::newRow("encoded slash") << getRequest("/data/..%2F..%2Fetc%2Fpasswd") << 404;
    QTest::newRow("dot dot") << getRequest("/data/mtl/..") << 404;
    QTest::newRow("root") << getRequest("/") << 404;
    QTest::newRow("PUT") << QByteArray("PUT /small.bin HTTP/1.1\r\nContent-Length: 2\r\n\r\nab")
                         << 405;
    QTest::newRow("DELETE") << QByteArray("DELETE /small.bin HTTP/1.1\r\n\r\n") << 405;
    QTest::newRow("POST elsewhere")
        << QByteArray("POST /small.bin HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << 404;
    QTest::newRow("garbage") << QByteArray("HELLO\r\n\r\n") << 400;
    QTest::newRow("header without colon") << getRequest("/small.bin", "Broken\r\n") << 400;
    QTest::newRow("bad length") << getRequest("/small.bin", "Content-Length: 1x\r\n") << 400;
    QTest::newRow("HTTP/2") << QByteArray("GET /small.bin HTTP/2.0\r\n\r\n") << 505;
    QTest::newRow("chunked body") << QByteArray(
        "POST /mtllog/add HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                  << 501;
    QTest::newRow("range outside") << getRequest("/small.bin", "Range: bytes=1000-\r\n") << 416;
}

void TestSimHttp::errorStatuses()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    RawClient client;
    QVERIFY(client.open(server->port()));
    client.send(request);
    const Response r = client.read();
    QCOMPARE(r.status, status);
    if (status == 405)
        QVERIFY(r.headers.value("allow").contains("GET"));
    if (status == 416)
        QCOMPARE(r.headers.value("content-range"), QByteArray("bytes */1000"));
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(server->requests().first().status, status);
    // The server stays usable on a fresh connection.
    QCOMPARE(get("/small.bin").body, small);
}

void TestSimHttp::headHasNoBody()
{
    RawClient client;
    QVERIFY(client.open(server->port()));
    client.send("HEAD /data/mtl/small.bin HTTP/1.1\r\n\r\n" + getRequest("/data/mtl/a%20b.txt"));
    const Response head = client.read(true);
    QCOMPARE(head.status, 200);
    QCOMPARE(head.headers.value("content-length"), QByteArray("1000"));
    // Had the HEAD answer carried a body, the next answer would not parse.
    const Response next = client.read();
    QCOMPARE(next.status, 200);
    QCOMPARE(next.body, QByteArray("spaced name\n"));
}

void TestSimHttp::companionLayout()
{
    for (int size : {1000, 70000}) {
        const QByteArray data = pattern(size, size);
        QVERIFY(writeFile(dir->filePath("small.bin"), data));
        const Fetched f = get("/data/mtl/small.bin.md5");
        QCOMPARE(f.status, 200);
        QVERIFY(f.body.size() >= 56);
        QCOMPARE(f.body.left(32), md5Hex(data));
        quint64 announced = 0;
        QDataStream s(f.body.mid(48, 8));
        s.setByteOrder(QDataStream::LittleEndian);
        s >> announced;
        QCOMPARE(announced, quint64(size));
    }
}

void TestSimHttp::connectionReuse_data()
{
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("closed");

    const QByteArray plain = getRequest("/small.bin");
    QTest::newRow("two in one write") << plain + plain << 2 << false;
    QTest::newRow("close asked") << getRequest("/small.bin", "Connection: close\r\n") << 1 << true;
    QTest::newRow("HTTP/1.0") << QByteArray("GET /small.bin HTTP/1.0\r\n\r\n") << 1 << true;
    QTest::newRow("HTTP/1.0 keep-alive")
        << QByteArray("GET /small.bin HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << 1 << false;
    QTest::newRow("404 keeps the connection") << getRequest("/none") + plain << 2 << false;
}

void TestSimHttp::connectionReuse()
{
    QFETCH(QByteArray, requests);
    QFETCH(int, answers);
    QFETCH(bool, closed);
    RawClient client;
    QVERIFY(client.open(server->port()));
    client.send(requests);
    for (int i = 0; i < answers; ++i) {
        const Response r = client.read();
        QVERIFY(r.status == 200 || r.status == 404);
        QCOMPARE(r.headers.value("connection").toLower() == "close", closed);
        if (r.status == 200)
            QCOMPARE(r.body, small);
    }
    QCOMPARE(client.closed(closed ? 5000 : 300), closed);
    if (!closed) { // one more on the same connection, later
        client.send(getRequest("/small.bin"));
        QCOMPARE(client.read().body, small);
        ++answers;
    }
    QCOMPARE(server->requests().size(), answers);
    for (const HttpFileServer::Request &r : server->requests())
        QCOMPARE(r.connection, 1);
}

void TestSimHttp::ranges_data()
{
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");

    QTest::newRow("middle") << QByteArray("bytes=10-19") << 206 << 10 << 19;
    QTest::newRow("to the end") << QByteArray("bytes=990-") << 206 << 990 << 999;
    QTest::newRow("suffix") << QByteArray("bytes=-5") << 206 << 995 << 999;
    QTest::newRow("end past size") << QByteArray("bytes=995-5000") << 206 << 995 << 999;
    QTest::newRow("reversed: ignored") << QByteArray("bytes=5-2") << 200 << 0 << 999;
    QTest::newRow("two ranges: ignored") << QByteArray("bytes=0-1,5-6") << 200 << 0 << 999;
}

void TestSimHttp::ranges()
{
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(int, from);
    QFETCH(int, to);
    RawClient client;
    QVERIFY(client.open(server->port()));
    client.send(getRequest("/small.bin", "Range: " + range + "\r\n"));
    const Response r = client.read();
    QCOMPARE(r.status, status);
    QCOMPARE(r.body, small.mid(from, to - from + 1));
    if (status == 206)
        QCOMPARE(r.headers.value("content-range"),
            "bytes " + QByteArray::number(from) + '-' + QByteArray::number(to) + "/1000");
}

void TestSimHttp::largeFileArrivesWhole()
{
    const QByteArray big = pattern(20 * 1024 * 1024 + 17, 3);
    QVERIFY(writeFile(dir->filePath("big.bin"), big));
    const Fetched f = get("/data/mtl/big.bin");
    QCOMPARE(f.status, 200);
    QCOMPARE(f.body.size(), big.size());
    QCOMPARE(md5Hex(f.body), md5Hex(big));
}

void TestSimHttp::multipartUpload_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("small zip") << 200;
    QTest::newRow("3 MB zip") << 3 * 1024 * 1024;
}

void TestSimHttp::multipartUpload()
{
    QFETCH(int, size);
    const QByteArray data = zipLike(size);
    QSignalSpy spy(server, &HttpFileServer::uploadReceived);
    QHttpMultiPart *multi = logUpload("T-0001.zip", data);
    QNetworkReply *reply = net->post(QNetworkRequest(QUrl(url("/logfile/upload"))), multi);
    multi->setParent(reply);
    const Fetched f = finished(reply);
    QCOMPARE(f.status, 200);
    QCOMPARE(f.body, QByteArray("{\"code\":0}"));

    QCOMPARE(server->uploads().size(), 1);
    const HttpFileServer::Upload upload = server->uploads().first();
    QCOMPARE(upload.error, QString());
    QCOMPARE(upload.parts.size(), 1);
    QCOMPARE(upload.parts.first().name, QString("uploadFile"));
    QCOMPARE(upload.parts.first().fileName, QString("T-0001.zip"));
    QCOMPARE(upload.parts.first().contentType, QByteArray("multipart/form-data"));
    QCOMPARE(upload.parts.first().data.size(), data.size());
    QVERIFY(upload.parts.first().data == data);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().value(0).toString(), QString("uploadFile"));
    QCOMPARE(spy.first().value(2).toLongLong(), qint64(data.size()));
}

void TestSimHttp::uploadInSeveralWrites_data()
{
    QTest::addColumn<bool>("expectContinue");
    QTest::newRow("plain") << false;
    QTest::newRow("Expect: 100-continue") << true;
}

void TestSimHttp::uploadInSeveralWrites()
{
    QFETCH(bool, expectContinue);
    const QByteArray data = zipLike(5000);
    const QByteArray body = "--XyZ\r\nContent-Disposition: form-data; name=\"uploadFile\";"
                            "filename=\"T.zip\";\r\n\r\n"
        + data + "\r\n--XyZ--\r\n";
    QByteArray head = "POST /logfile/upload HTTP/1.1\r\nContent-Type: multipart/form-data; "
                      "boundary=XyZ\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n";
    if (expectContinue)
        head += "Expect: 100-continue\r\n";
    RawClient client;
    QVERIFY(client.open(server->port()));
    client.send(head + "\r\n");
    if (expectContinue)
        QCOMPARE(client.read().status, 100);
    // The body trickles in over three writes.
    for (int from = 0; from < body.size(); from += body.size() / 3 + 1) {
        QTest::qWait(50);
        QVERIFY(server->uploads().isEmpty());
        client.send(body.mid(from, body.size() / 3 + 1));
    }
    const Response r = client.read();
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body, QByteArray("{\"code\":0}"));
    QCOMPARE(server->uploads().size(), 1);
    QCOMPARE(server->uploads().first().parts.value(0).data, data);
    QCOMPARE(server->uploads().first().parts.value(0).fileName, QString("T.zip"));
}

void TestSimHttp::postReplies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<int>("setStatus");
    QTest::addColumn<QByteArray>("setBody");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray json = "application/json";
    QTest::newRow("statistics") << "/mtllog/add" << json << 0 << QByteArray() << 200
                                << QByteArray("{\"status\":200}");
    QTest::newRow("statistics refused")
        << "/mtllog/add" << json << 200 << QByteArray("{\"code\":1}") << 200
        << QByteArray("{\"code\":1}");
    QTest::newRow("upload refused")
        << "/logfile/upload" << QByteArray() << 200 << QByteArray("{\"code\":1}") << 200
        << QByteArray("{\"code\":1}");
    QTest::newRow("upload 500") << "/logfile/upload" << QByteArray() << 500 << QByteArray("oops")
                                << 500 << QByteArray("oops");
    QTest::newRow("upload not multipart")
        << "/logfile/upload" << json << 0 << QByteArray() << 400 << QByteArray("{\"code\":1");
}

void TestSimHttp::postReplies()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, contentType);
    QFETCH(int, setStatus);
    QFETCH(QByteArray, setBody);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    server->setPostReply(path, setStatus, setBody);
    const QByteArray stats = "{\"content\":\"x\",\"logs\":[],\"player\":\"T1\",\"random\":\"1\"}";
    QSignalSpy statsSpy(server, &HttpFileServer::statisticsReceived);

    RawClient client;
    QVERIFY(client.open(server->port()));
    QByteArray body = stats;
    if (contentType.isEmpty()) {
        contentType = "multipart/form-data; boundary=\"b=1\"";
        body = "--b=1\r\nContent-Disposition: form-data; name=\"uploadFile\"\r\n\r\nPK\r\n--b=1--";
    }
    client.send("POST " + path.toLatin1() + " HTTP/1.1\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    const Response r = client.read();
    QCOMPARE(r.status, status);
    QVERIFY2(r.body.startsWith(reply), r.body.constData());
    if (path == "/mtllog/add") {
        QCOMPARE(server->statistics().size(), 1);
        QCOMPARE(server->statistics().first().body, stats);
        QCOMPARE(statsSpy.count(), 1);
    } else {
        QCOMPARE(server->uploads().size(), 1);
        QCOMPARE(server->uploads().first().error.isEmpty(), status != 400);
    }
}

void TestSimHttp::statisticsReports_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("compact");
    QTest::addColumn<bool>("isSigned");
    QTest::addColumn<int>("rows");

    const QByteArray content
        = QCryptographicHash::hash("1700000000000kolvarinetzup", QCryptographicHash::Md5).toHex();
    const QByteArray log
        = "{\"len\":10,\"mtl\":\"a.jpg\",\"play_type\":0,\"statis_time\":"
          "\"2024-05-02 08:00:00\",\"time_segment\":\"2024-05-01 10\",\"total\":3}";
    const QByteArray good = "{\"content\":\"" + content + "\",\"logs\":[" + log + "," + log
        + "],\"player\":\"T1\",\"random\":\"1700000000000\"}";
    QTest::newRow("signed compact") << good << true << true << true << 2;
    QByteArray spaced = good;
    spaced.replace("\"logs\":", "\"logs\": ");
    QTest::newRow("not compact") << spaced << true << false << true << 2;
    QByteArray badSig = good;
    badSig.replace("\"random\":\"1700000000000\"", "\"random\":\"1700000000001\"");
    QTest::newRow("bad signature") << badSig << true << true << false << 2;
    QTest::newRow("missing key") << QByteArray("{\"logs\":[],\"player\":\"T1\",\"random\":\"1\"}")
                                 << false << false << false << 0;
    QTest::newRow("not json") << QByteArray("logs=1") << false << false << false << 0;
}

void TestSimHttp::statisticsReports()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, json);
    QFETCH(bool, compact);
    QFETCH(bool, isSigned);
    QFETCH(int, rows);
    const StatReport report = StatReport::parse(body);
    QCOMPARE(report.json, json);
    QCOMPARE(report.compact, compact);
    QCOMPARE(report.signatureOk, isSigned);
    QCOMPARE(report.rows.size(), rows);
    QCOMPARE(report.error.isEmpty(), json && isSigned);
    if (rows > 0) {
        QCOMPARE(report.player, QString("T1"));
        QCOMPARE(report.rows.first().mtl, QString("a.jpg"));
        QCOMPARE(report.rows.first().timeSegment, QString("2024-05-01 10"));
        QCOMPARE(report.rows.first().total, 3);
        QCOMPARE(report.rows.first().len, 10);
    }
}

void TestSimHttp::statisticsFailuresAreCounted()
{
    // The second and third posts fail, the others are taken.
    server->failPosts("/mtllog/add", 2, 1);
    const QByteArray body = "{\"content\":\"x\",\"logs\":[{\"mtl\":\"a\",\"total\":1}],\"player\":"
                            "\"T1\",\"random\":\"1\"}";
    QList<int> statuses;
    for (int i = 0; i < 4; ++i) {
        RawClient client;
        QVERIFY(client.open(server->port()));
        client.send(
            "POST /mtllog/add HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        const Response r = client.read();
        statuses << r.status;
        QCOMPARE(r.body,
            r.status == 200 ? QByteArray("{\"status\":200}") : QByteArray("{\"status\":500}"));
    }
    QCOMPARE(statuses, (QList<int> {200, 500, 500, 200}));
    QCOMPARE(server->statistics().size(), 4);
    QCOMPARE(server->acceptedStatisticsRows().size(), 2);
    QVERIFY(server->faults().isEmpty());
}

void TestSimHttp::multipartParsing_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("parts"); // name:filename:data, or the error's start

    QTest::newRow("preamble and two parts")
        << QByteArray("multipart/form-data; boundary=B")
        << QByteArray("junk\r\n--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                      "--B\r\nContent-Disposition: form-data; filename=\"x;y.zip\"; name=b\r\n"
                      "\r\n2\r\n--B--\r\n")
        << QStringList {"a::1", "b:x;y.zip:2"};
    QTest::newRow("part without headers")
        << QByteArray("multipart/form-data; charset=x; boundary=\"q q\"")
        << QByteArray("--q q\r\n\r\nraw\r\n--q q--") << QStringList {"::raw"};
    QTest::newRow("not closed") << QByteArray("multipart/form-data; boundary=B")
                                << QByteArray("--B\r\n\r\nabc\r\n--B")
                                << QStringList {"error: part 2"};
    QTest::newRow("cut short") << QByteArray("multipart/form-data; boundary=B")
                               << QByteArray("--B\r\nX: y\r\n\r\nabc")
                               << QStringList {"error: part 1"};
    QTest::newRow("no boundary") << QByteArray("multipart/form-data") << QByteArray("--B--")
                                 << QStringList {"error: no boundary"};
}

void TestSimHttp::multipartParsing()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, parts);
    QList<HttpFileServer::Part> found;
    QString error;
    const bool ok = HttpFileServer::parseMultipart(
        body, HttpFileServer::boundaryOf(contentType), found, &error);
    QStringList got;
    for (const HttpFileServer::Part &p : found)
        got << p.name + ':' + p.fileName + ':' + QString::fromLatin1(p.data);
    if (!ok)
        got = QStringList {"error: " + error};
    QCOMPARE(got.size(), parts.size());
    for (int i = 0; i < parts.size(); ++i)
        QVERIFY2(got[i].startsWith(parts[i]), qPrintable(got.join(" | ")));
}

void TestSimHttp::corruptAndFail_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("times");

    QTest::newRow("corrupt once") << "corrupt" << 1;
    QTest::newRow("corrupt twice") << "corrupt" << 2;
    QTest::newRow("fail once") << "fail" << 1;
    QTest::newRow("fail three times") << "fail" << 3;
}

void TestSimHttp::corruptAndFail()
{
    QFETCH(QString, fault);
    QFETCH(int, times);
    if (fault == "corrupt")
        server->corrupt("data/mtl/small.bin", times);
    else
        server->fail("small.bin", times);
    // Other files are untouched.
    QCOMPARE(get("/a%20b.txt").status, 200);
    for (int i = 0; i < times; ++i) {
        const Fetched f = get("/data/mtl/small.bin");
        if (fault == "fail") {
            QCOMPARE(f.status, 500);
            continue;
        }
        QCOMPARE(f.status, 200);
        QCOMPARE(f.body.size(), small.size());
        int differing = 0;
        for (int b = 0; b < small.size(); ++b)
            differing += f.body[b] != small[b];
        QCOMPARE(differing, 1);
    }
    const Fetched good = get("/data/mtl/small.bin");
    QCOMPARE(good.status, 200);
    QCOMPARE(good.body, small);
    QVERIFY(server->faults().isEmpty());
}

void TestSimHttp::stallHoldsTheBody_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("unstall") << "unstall";
    QTest::newRow("unstall cut") << "cut";
    QTest::newRow("server closed") << "close";
}

void TestSimHttp::stallHoldsTheBody()
{
    QFETCH(QString, ending);
    const QByteArray big = pattern(3 * 1024 * 1024, 5); // larger than one piece
    QVERIFY(writeFile(dir->filePath("big.bin"), big));
    server->stall("big.bin");
    QSignalSpy held(server, &HttpFileServer::answerHeld);
    RawClient client;
    QVERIFY(client.open(server->port()));
    client.send(getRequest("/data/mtl/big.bin"));
    // Keep reading, so that the half body can leave the server at all.
    QVERIFY(client.waitFor([&]() { return held.count() == 1; }));
    const int headEnd = client.buffer.indexOf("\r\n\r\n") + 4;
    QVERIFY(client.buffer.left(headEnd).contains("Content-Length: 3145728"));
    client.waitFor([&]() { return client.buffer.size() - headEnd >= big.size() / 2; });
    QTest::qWait(300);
    client.buffer += client.socket.readAll();
    QCOMPARE(client.buffer.size() - headEnd, big.size() / 2);
    QCOMPARE(server->heldAnswers(), 1);

    if (ending == "unstall") {
        server->unstall("big.bin");
        QVERIFY(client.waitFor([&]() { return client.buffer.size() - headEnd >= big.size(); }));
        QVERIFY(client.buffer.mid(headEnd) == big);
        QVERIFY(server->requests().last().complete);
        QCOMPARE(get("/big.bin").body.size(), big.size()); // no longer stalled
    } else {
        if (ending == "cut")
            server->unstall("big.bin", false);
        else
            server->close();
        QVERIFY(client.closed());
        QCOMPARE(client.buffer.size() - headEnd, big.size() / 2);
        QVERIFY(!server->requests().last().complete);
        QCOMPARE(server->requests().last().bytesSent, qint64(big.size() / 2));
    }
}

void TestSimHttp::delayHoldsEveryAnswer()
{
    server->setDelay(400);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(get("/none").status, 404);
    QVERIFY2(timer.elapsed() >= 390, qPrintable(QString::number(timer.elapsed())));
    server->setDelay(0);
    timer.restart();
    QCOMPARE(get("/small.bin").body, small);
    QVERIFY(timer.elapsed() < 390);
}

void TestSimHttp::wgetDownloads_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stallThenCut");

    QTest::newRow("file") << "small.bin" << false;
    QTest::newRow("companion") << "small.bin.md5" << false;
    QTest::newRow("cut off, resumed by the retry") << "big.bin" << true;
}

void TestSimHttp::wgetDownloads()
{
    QFETCH(QString, name);
    QFETCH(bool, stallThenCut);
    if (QStandardPaths::findExecutable("wget").isEmpty())
        QSKIP("wget is not installed");
    const QByteArray big = pattern(2 * 1024 * 1024, 9);
    QVERIFY(writeFile(dir->filePath("big.bin"), big));
    if (stallThenCut) {
        server->stall(name);
        connect(
            server, &HttpFileServer::answerHeld, server,
            [this](const QString &held) { server->unstall(held, false); }, Qt::QueuedConnection);
    }
    QTemporaryDir home;
    const QString out = home.filePath(name);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy"})
        env.remove(var);
    env.insert("HOME", home.path()); // no personal .wgetrc
    QProcess wget;
    wget.setProcessEnvironment(env);
    // The terminal's command line, plus quiet and no proxy.
    wget.start("wget",
        {"-q", "--no-proxy", "-t", "10", "-O", out, "--no-check-certificate",
            url("/data/mtl/" + name)});
    QVERIFY(wget.waitForStarted());
    // The server runs on this thread: wait with the event loop turning.
    QVERIFY(QTest::qWaitFor([&]() { return wget.state() == QProcess::NotRunning; }, 30000));
    QCOMPARE(wget.exitCode(), 0);
    const QByteArray got = readFile(out);
    if (name.endsWith(".md5"))
        QCOMPARE(got.left(32), md5Hex(small));
    else
        QVERIFY(got == readFile(dir->filePath(name)));
    if (stallThenCut) { // the retry asked for the rest only
        QCOMPARE(server->requests().size(), 2);
        QCOMPARE(server->requests().at(1).status, 206);
    }
}

void TestSimHttp::sampleContentIsDownloadable()
{
    // The terminal's download entries, derived from the sample lists and zones:
    // path + "/" + name, or the path itself when it names a file.
    const QString root
        = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../tools/sample-content";
    QStringList entries;
    for (const QString &doc :
        QDir(root + "/tpl").entryList(QDir::Files) + QDir(root + "/zone").entryList(QDir::Files)) {
        QDomDocument xml;
        const QString sub = doc.endsWith(".l") ? "/tpl/" : "/zone/";
        QVERIFY(xml.setContent(QString::fromUtf8(readFile(root + sub + doc))));
        for (QDomElement e = xml.documentElement().firstChildElement(); !e.isNull();
             e = e.nextSiblingElement()) {
            const QString path = e.attribute("path");
            if (path.startsWith("data/"))
                entries << (QFileInfo(path).suffix().isEmpty() ? path + '/' + e.attribute("name")
                                                               : path);
        }
    }
    entries.removeDuplicates();
    QStringList named;
    for (const QString &entry : entries)
        named << QFileInfo(entry).fileName();
    named.sort();
    QCOMPARE(named, QDir(root + "/files").entryList(QDir::Files, QDir::Name));

    SignageServer sim;
    sim.setContentDir(root);
    QVERIFY(sim.listen(QHostAddress::LocalHost, 0));
    QVERIFY(sim.listenHttp(QHostAddress::LocalHost, 0));
    QSignalSpy lines(&sim, &SignageServer::logLine);
    QDomDocument config;
    QVERIFY(config.setContent(sim.configXml()));
    for (const char *tag : {"HTTP", "LOG"})
        QCOMPARE(config.documentElement()
                     .firstChildElement("ftp")
                     .firstChildElement("server")
                     .firstChildElement(tag)
                     .firstChildElement("serverport")
                     .text(),
            QString::number(sim.http()->port()));

    for (const QString &entry : entries) {
        const QString name = QFileInfo(entry).fileName();
        const Fetched f = finished(net->get(QNetworkRequest(
            QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(sim.http()->port()).arg(entry)))));
        QCOMPARE(f.status, 200);
        QVERIFY2(name.startsWith(md5Hex(f.body)), qPrintable(entry));
        bool logged = false;
        for (const QList<QVariant> &line : lines)
            logged |= line.value(0).toString()
                == QStringLiteral("HTTP GET /%1 200 %2").arg(entry).arg(f.body.size());
        QVERIFY2(logged, qPrintable(entry));
    }
    // The control socket lists them too.
    SimControl control(&sim);
    const QString listed = control.execute("requests 1");
    QVERIFY2(listed.contains(" GET /" + entries.last() + " 200 sent="), qPrintable(listed));
}

void TestSimHttp::controlCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("replyStart");
    QTest::addColumn<QStringList>("faults");

    const QStringList none;
    QTest::newRow("corrupt") << "corrupt data/mtl/x.png"
                             << "ok" << QStringList {"corrupt x.png 1"};
    QTest::newRow("corrupt N") << "corrupt x.png 3"
                               << "ok" << QStringList {"corrupt x.png 3"};
    QTest::newRow("fail N") << "fail x.png 2"
                            << "ok" << QStringList {"fail x.png 2"};
    QTest::newRow("stall") << "stall x.png"
                           << "ok" << QStringList {"stall x.png"};
    QTest::newRow("delay") << "delay 250"
                           << "ok" << QStringList {"delay 250"};
    QTest::newRow("unstall cut") << "unstall x.png cut"
                                 << "ok" << none;
    QTest::newRow("corrupt no name") << "corrupt"
                                     << "error: usage" << none;
    QTest::newRow("fail bad count") << "fail x.png two"
                                    << "error: usage" << none;
    QTest::newRow("delay negative") << "delay -5"
                                    << "error: usage" << none;
    QTest::newRow("unstall bad word") << "unstall x.png now"
                                      << "error: usage" << none;
    QTest::newRow("requests") << "requests"
                              << "ok" << none;
    QTest::newRow("uploads") << "uploads"
                             << "ok" << none;
    QTest::newRow("postreply") << "postreply /logfile/upload 500 {\"code\":1}"
                               << "ok" << none;
    QTest::newRow("postreply bad") << "postreply /logfile/upload x"
                                   << "error: usage" << none;
    QTest::newRow("postfail") << "postfail /mtllog/add 1 1"
                              << "ok" << QStringList {"postfail /mtllog/add 1 1"};
    QTest::newRow("postfail bad") << "postfail /mtllog/add"
                                  << "error: usage" << none;
    QTest::newRow("status") << "status"
                            << "listening=" << none;
}

void TestSimHttp::controlCommands()
{
    QFETCH(QString, command);
    QFETCH(QString, replyStart);
    QFETCH(QStringList, faults);
    SignageServer sim;
    QVERIFY(sim.listenHttp(QHostAddress::LocalHost, 0));
    SimControl control(&sim);
    const QString reply = control.execute(command);
    QVERIFY2(reply.startsWith(replyStart), qPrintable(reply));
    QVERIFY(reply.split('\n').last().startsWith(replyStart.startsWith("error") ? "error" : "ok"));
    QCOMPARE(sim.http()->faults(), faults);
}

QTEST_GUILESS_MAIN(TestSimHttp)
#include "test_simhttp.moc"
