#include "clock.h"
#include "notifylistener.h"
#include "notifyprotocol.h"
#include "playlog/playlog.h"
#include "playlog/sendthread.h"
#include "testenv.h"
#include "version.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QtTest>

#include <memory>

// The play log and its delivery to the service: statements as the service's
// database takes them, the message file, and the sender's passes against a
// stand-in service on port 12222.
class TestPlayLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void playDetailStatement_data();
    void playDetailStatement();
    void accessTimeStatement();
    void statementsRunInTheDatabase();
    void messageFileLines();

    void undeliveredLinesStay();
    void refusedLinesStay();
    void deliversEveryLineOnceDecoded();
    void concurrentAppendsDuringTakeOver();
    void resumesLeftWorkFile_data();
    void resumesLeftWorkFile();
    void stopDuringSleep();
    void stopDuringRequest();

private:
    QString dataFile(const QString &name) const
    {
        return m_env->dataRoot() + QStringLiteral("/data/") + name;
    }
    QStringList messageLines() const;
    // A stand-in service on 12222 that records the statements as the service
    // decodes them.
    // handler: how it answers instead (200 taken, anything else refused).
    bool startService(NotifyListener::AnsweringHandler handler = {});
    bool listenOnServicePort(QTcpServer &server);

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<PlayLog> m_playLog;
    std::unique_ptr<NotifyListener> m_service;
    QStringList m_received;
};

void TestPlayLog::init()
{
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    QDir().mkpath(m_env->dataRoot() + QStringLiteral("/data"));
    m_playLog = std::make_unique<PlayLog>();
    m_received.clear();
}

void TestPlayLog::cleanup()
{
    m_service.reset();
    m_playLog.reset();
    m_env.reset();
    Clock::reset();
}

QStringList TestPlayLog::messageLines() const
{
    const QByteArray bytes = readFile(m_playLog->messageFilePath());
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool TestPlayLog::startService(NotifyListener::AnsweringHandler handler)
{
    m_service = std::make_unique<NotifyListener>(false, NotifyListener::Order::ActThenAnswer);
    if (handler)
        m_service->setAnsweringHandler(std::move(handler));
    else
        m_service->setHandler([this](const QString &cmd, const QString &param) {
            if (cmd != QLatin1String("SQL"))
                return;
            // The service decodes a statement that arrives percent-encoded.
            m_received << NotifyProtocol::decodeStatement(param);
        });
    // The port may still be held for a moment by a test that just ended.
    for (int i = 0; i < 50; ++i) {
        if (m_service->listen(SERVICE_PORT))
            return true;
        QTest::qWait(200);
    }
    return false;
}

bool TestPlayLog::listenOnServicePort(QTcpServer &server)
{
    for (int i = 0; i < 50; ++i) {
        if (server.listen(QHostAddress::Any, SERVICE_PORT))
            return true;
        QTest::qWait(200);
    }
    return false;
}

void TestPlayLog::playDetailStatement_data()
{
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("playType");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("duration");
    QTest::addColumn<QString>("mtlType");
    QTest::addColumn<QString>("sql");

    const QString head
        = QStringLiteral("INSERT INTO play_detail(name, play_time, play_type, times, "
                         "duration, mtl_type) VALUES(");
    QTest::newRow("three plays of ten seconds")
        << "2024-03-15 12:00:30"
        << "0123456789abcdef0123456789abcdef.jpg" << 0 << 3 << 10 << "pic"
        << head + "'0123456789abcdef0123456789abcdef.jpg', '2024-03-15 12:00:00', 0, 3, 10, 'pic')";
    QTest::newRow("insert programme across midnight")
        << "2024-03-16 00:00:10"
        << "clip.mp4" << 2 << 1 << 20 << "video"
        << head + "'clip.mp4', '2024-03-15 23:59:50', 2, 1, 20, 'video')";
    QTest::newRow("quote doubled") << "2024-03-15 08:00:05"
                                   << "it's.jpg" << 0 << 1 << 5 << "pic"
                                   << head + "'it''s.jpg', '2024-03-15 08:00:00', 0, 1, 5, 'pic')";
    QTest::newRow("place markers in a name stay")
        << "2024-03-15 08:00:05"
        << "%2 and %6.png" << 0 << 1 << 5 << "o'pic"
        << head + "'%2 and %6.png', '2024-03-15 08:00:00', 0, 1, 5, 'o''pic')";
    QTest::newRow("chinese name") << "2024-03-15 08:00:05"
                                  << "欢迎.png" << 0 << 1 << 5 << "pic"
                                  << head + "'欢迎.png', '2024-03-15 08:00:00', 0, 1, 5, 'pic')";
}

void TestPlayLog::playDetailStatement()
{
    QFETCH(QString, now);
    QFETCH(QString, name);
    QFETCH(int, playType);
    QFETCH(int, times);
    QFETCH(int, duration);
    QFETCH(QString, mtlType);
    QFETCH(QString, sql);
    Clock::setFixedMs(
        QDateTime::fromString(now, QStringLiteral("yyyy-MM-dd HH:mm:ss")).toMSecsSinceEpoch());
    m_playLog->insertPlayDetail(name, playType, times, duration, mtlType);
    QCOMPARE(messageLines(), QStringList {QStringLiteral("SQL|") + sql});
}

void TestPlayLog::accessTimeStatement()
{
    Clock::setFixedMs(QDateTime(QDate(2024, 3, 15), QTime(9, 5, 7)).toMSecsSinceEpoch());
    m_playLog->updateFileAccessTime(QStringLiteral("o'clock.z"));
    QCOMPARE(messageLines(),
        QStringList {QStringLiteral("SQL|UPDATE file_mgt SET access_time='2024-03-15 09:05:07' "
                                    "WHERE name='o''clock.z'")});
}

void TestPlayLog::statementsRunInTheDatabase()
{
    // What the service executes must be valid SQL that stores the name unchanged.
    const QStringList names {QStringLiteral("it's.jpg"), QStringLiteral("''"),
        QStringLiteral("a'); DROP TABLE play_detail; --")};
    for (const QString &name : names) {
        m_playLog->insertPlayDetail(name, 0, 1, 5, QStringLiteral("pic"));
        m_playLog->updateFileAccessTime(name);
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("t"));
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TABLE \"file_mgt\" ( \"name\" text(100) NOT NULL, \"download_time\" "
            "text(20), \"access_time\" text(20), \"res_type\" integer NOT NULL, \"url\" "
            "text(255) NOT NULL, PRIMARY KEY (\"name\") )")));
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TABLE \"play_detail\" ( \"name\" text(100) NOT NULL, \"play_time\" text(20) "
            "NOT NULL, \"play_type\" integer NOT NULL, \"duration\" integer NOT NULL, \"times\" "
            "integer NOT NULL, \"mtl_type\" text(50), PRIMARY KEY (\"name\", \"play_time\") )")));
        for (const QString &name : names) {
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral("INSERT INTO file_mgt VALUES(?, '', '', 3, '')"));
            insert.addBindValue(name);
            QVERIFY(insert.exec());
        }
        for (const QString &line : messageLines()) {
            const QString sql = line.mid(line.indexOf(QLatin1Char('|')) + 1);
            QVERIFY2(q.exec(sql), qPrintable(sql));
        }
        QVERIFY(q.exec(QStringLiteral("SELECT name FROM play_detail ORDER BY rowid")));
        QStringList stored;
        while (q.next())
            stored << q.value(0).toString();
        QCOMPARE(stored, names);
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM file_mgt WHERE access_time <> ''")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), names.size());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("t"));
}

void TestPlayLog::messageFileLines()
{
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("SELECT 1"));
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("SELECT '中'"));
    QCOMPARE(readFile(m_playLog->messageFilePath()),
        QByteArray("SQL|SELECT 1\r\nSQL|SELECT '\xe4\xb8\xad'\r\n"));
    QCOMPARE(m_playLog->messageFilePath(), dataFile(QStringLiteral("storageMsg.txt")));

    // The take-over moves the whole file; the next append starts a fresh one.
    QVERIFY(m_playLog->takeOverMessageFile(dataFile(QStringLiteral("work"))));
    QVERIFY(!QFile::exists(m_playLog->messageFilePath()));
    QVERIFY(!m_playLog->takeOverMessageFile(dataFile(QStringLiteral("work2"))));
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("SELECT 2"));
    QCOMPARE(messageLines(), QStringList {QStringLiteral("SQL|SELECT 2")});
    QCOMPARE(readFile(dataFile(QStringLiteral("work"))).count('\n'), 2);
}

void TestPlayLog::undeliveredLinesStay()
{
    // A service that drops every connection without an answer.
    QTcpServer silent;
    QVERIFY2(listenOnServicePort(silent), "port 12222 is busy");
    int connections = 0;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *s = silent.nextPendingConnection()) {
            ++connections;
            s->close();
            s->deleteLater();
        }
    });

    QByteArray backlog = "\r\nno separator here\r\n|no type\r\nSQL|\r\n";
    for (int i = 0; i < 2000; ++i)
        backlog += "SQL|UPDATE t SET v=" + QByteArray::number(i) + "\r\n";
    writeFile(m_playLog->messageFilePath(), backlog);
    SendThread sender;
    sender.init(m_playLog.get());
    sender.setTimings(20, 5000);
    sender.start();
    // Each pass tries the first statement only, however many wait behind it.
    QTRY_VERIFY(sender.passCount() >= 3);
    QTRY_VERIFY(connections >= 3);
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("UPDATE t SET v=new"));
    const int passes = sender.passCount();
    QTRY_VERIFY(sender.passCount() >= passes + 3);
    sender.stop();
    QVERIFY2(connections <= sender.passCount() + 1,
        qPrintable(QStringLiteral("%1 connections in %2 passes")
                       .arg(connections)
                       .arg(sender.passCount())));
    // Nothing was lost or doubled: the backlog waits in the work file, the
    // line written meanwhile in the message file.
    QCOMPARE(readFile(sender.workFilePath()), backlog);
    QCOMPARE(messageLines(), QStringList {QStringLiteral("SQL|UPDATE t SET v=new")});

    // The service is back: everything goes, in order, in one pass.
    silent.close();
    QVERIFY2(startService(), "port 12222 is busy");
    SendThread next;
    next.init(m_playLog.get());
    next.checkMessageFile();
    QCOMPARE(m_received.size(), 2001);
    QCOMPARE(m_received.first(), QStringLiteral("UPDATE t SET v=0"));
    QCOMPARE(m_received.at(1999), QStringLiteral("UPDATE t SET v=1999"));
    QCOMPARE(m_received.last(), QStringLiteral("UPDATE t SET v=new"));
    QVERIFY(!QFile::exists(next.workFilePath()));
    QVERIFY(!QFile::exists(next.progressFilePath()));
    QVERIFY(!QFile::exists(m_playLog->messageFilePath()));
}

void TestPlayLog::refusedLinesStay()
{
    // A service that cannot keep statements for a while (its queue is full)
    // and answers with a failure.
    bool full = true;
    QVERIFY2(startService([&](const QString &, const QString &param) {
        if (full)
            return 400;
        m_received << NotifyProtocol::decodeStatement(param);
        return 200;
    }),
        "port 12222 is busy");

    writeFile(m_playLog->messageFilePath(),
        "SQL|UPDATE a SET b='1' WHERE c='2'\r\nSQL|UPDATE a SET b='2' WHERE c='3'\r\n");
    SendThread sender;
    sender.init(m_playLog.get());
    sender.checkMessageFile();
    sender.checkMessageFile();
    QVERIFY(m_received.isEmpty());
    QVERIFY(!QFile::exists(m_playLog->messageFilePath())); // nothing written back twice
    full = false;
    sender.checkMessageFile();
    QCOMPARE(m_received,
        (QStringList {QStringLiteral("UPDATE a SET b='1' WHERE c='2'"),
            QStringLiteral("UPDATE a SET b='2' WHERE c='3'")}));

    // A line the service will never take (no play record, or too long for a
    // request) is set aside at once: the lines after it go on.
    m_received.clear();
    m_service.reset();
    QVERIFY2(startService([&](const QString &, const QString &param) {
        const QString sql = NotifyProtocol::decodeStatement(param);
        if (sql.startsWith("DROP"))
            return NotifyProtocol::NO_PLAY_RECORD;
        m_received << sql;
        return 200;
    }),
        "port 12222 is busy");
    writeFile(m_playLog->messageFilePath(),
        "SQL|DROP TABLE play_stat\r\nSQL|UPDATE a SET b='3' WHERE c='" + QByteArray(70000, 'x')
            + "'\r\nSQL|UPDATE a SET b='4' WHERE c='5'\r\n");
    sender.checkMessageFile();
    QCOMPARE(m_received, QStringList {QStringLiteral("UPDATE a SET b='4' WHERE c='5'")});
    const QByteArray aside = readFile(sender.setAsidePath());
    QVERIFY(aside.startsWith("SQL|DROP TABLE play_stat\r\nSQL|UPDATE a SET b='3'"));
    QCOMPARE(aside.count('\n'), 2);
    QVERIFY(!QFile::exists(sender.workFilePath()));
}

void TestPlayLog::deliversEveryLineOnceDecoded()
{
    // Line breaks and backslashes in a name stay inside its one line.
    const QStringList names {QStringLiteral("it's.jpg"), QStringLiteral("a&b=c.png"),
        QStringLiteral("100% #1 + 2.mp4"), QStringLiteral("宣传片.mp4"),
        QStringLiteral("a%20b.png"), QStringLiteral("two\nlines\r.png"),
        QStringLiteral("back\\slash\\n.png"), QStringLiteral("x\nSQL|DROP TABLE play_stat")};
    Clock::setFixedMs(QDateTime(QDate(2026, 12, 9), QTime(10, 0, 10)).toMSecsSinceEpoch());
    QStringList expected;
    for (const QString &name : names) {
        m_playLog->insertPlayDetail(name, 0, 1, 10, QStringLiteral("pic"));
        expected << QStringLiteral("INSERT INTO play_detail(name, play_time, play_type, times, "
                                   "duration, mtl_type) VALUES('%1', '%2', 0, 1, 10, 'pic')")
                        .arg(PlayLog::sqlText(name), QStringLiteral("2026-12-09 10:00:00"));
    }
    QCOMPARE(messageLines().size(), names.size());

    SendThread sender;
    sender.init(m_playLog.get());
    sender.setTimings(20, 5000);
    QVERIFY2(startService(), "port 12222 is busy");
    sender.start();
    QTRY_COMPARE(m_received.size(), names.size());
    QCOMPARE(m_received, expected);

    // Later passes find nothing; the message file does not come back.
    const int passes = sender.passCount();
    QTRY_VERIFY(sender.passCount() >= passes + 3);
    sender.stop();
    QCOMPARE(m_received.size(), names.size());
    QVERIFY(!QFile::exists(m_playLog->messageFilePath()));
    QVERIFY(!QFile::exists(sender.workFilePath()));
    QVERIFY(!QFile::exists(sender.progressFilePath()));
}

void TestPlayLog::concurrentAppendsDuringTakeOver()
{
    QVERIFY2(startService(), "port 12222 is busy");
    SendThread sender;
    sender.init(m_playLog.get());
    sender.setTimings(1, 5000);
    sender.start();

    constexpr int writers = 4;
    constexpr int perWriter = 150;
    QList<QThread *> threads;
    for (int w = 0; w < writers; ++w) {
        threads << QThread::create([this, w] {
            for (int i = 0; i < perWriter; ++i)
                m_playLog->writeMessage(QStringLiteral("SQL"),
                    QStringLiteral("UPDATE t SET v=%1 WHERE w=%2").arg(i).arg(w));
        });
        threads.last()->start();
    }
    for (QThread *t : threads) {
        while (!t->wait(10))
            QCoreApplication::processEvents();
        delete t;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_received.size(), writers * perWriter, 60000);
    sender.stop();

    QSet<QString> unique(m_received.begin(), m_received.end());
    QCOMPARE(unique.size(), writers * perWriter);
    for (int w = 0; w < writers; ++w)
        for (int i = 0; i < perWriter; ++i)
            QVERIFY(unique.contains(QStringLiteral("UPDATE t SET v=%1 WHERE w=%2").arg(i).arg(w)));
}

void TestPlayLog::resumesLeftWorkFile_data()
{
    QTest::addColumn<QByteArray>("work");
    QTest::addColumn<QByteArray>("progress"); // empty: no progress file
    QTest::addColumn<QStringList>("expected");

    const QByteArray work
        = "SQL|UPDATE t SET v=1\r\nSQL|UPDATE t SET v=2\r\nSQL|UPDATE t SET v=3\r\n";
    const QString v2 = QStringLiteral("UPDATE t SET v=2");
    const QString v3 = QStringLiteral("UPDATE t SET v=3");
    const QString v1 = QStringLiteral("UPDATE t SET v=1");
    const QString fresh = QStringLiteral("UPDATE t SET v=4");
    QTest::newRow("stopped after the first line")
        << work << QByteArray("00000000000000000022") << QStringList {v2, v3, fresh};
    QTest::newRow("ended right after the take-over")
        << work << QByteArray() << QStringList {v1, v2, v3, fresh};
    QTest::newRow("everything handled")
        << work << QByteArray::number(work.size()) << QStringList {fresh};
    QTest::newRow("position inside a line")
        << work << QByteArray("5") << QStringList {v1, v2, v3, fresh};
    QTest::newRow("last line without its end")
        << QByteArray("SQL|UPDATE t SET v=1\r\nSQL|UPDATE t SET v=2") << QByteArray("22")
        << QStringList {v2, fresh};
}

void TestPlayLog::resumesLeftWorkFile()
{
    QFETCH(QByteArray, work);
    QFETCH(QByteArray, progress);
    QFETCH(QStringList, expected);

    SendThread sender;
    sender.init(m_playLog.get());
    writeFile(sender.workFilePath(), work);
    if (!progress.isEmpty())
        writeFile(sender.progressFilePath(), progress);
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("UPDATE t SET v=4"));

    QVERIFY2(startService(), "port 12222 is busy");
    sender.setTimings(20, 5000);
    sender.start();
    QTRY_COMPARE(m_received.size(), expected.size());
    const int passes = sender.passCount();
    QTRY_VERIFY(sender.passCount() >= passes + 2);
    sender.stop();
    QCOMPARE(m_received, expected);
    QVERIFY(!QFile::exists(sender.workFilePath()));
    QVERIFY(!QFile::exists(sender.progressFilePath()));
    QVERIFY(!QFile::exists(m_playLog->messageFilePath()));
}

void TestPlayLog::stopDuringSleep()
{
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("UPDATE t SET v=1"));
    SendThread sender; // the 6 s period
    sender.init(m_playLog.get());
    sender.start();
    QTest::qWait(50);
    sender.stop();
    // Stopped within its sleep: no pass ran and the line waits in the message file.
    QVERIFY(sender.isFinished());
    QCOMPARE(sender.passCount(), 0);
    QCOMPARE(messageLines(), QStringList {QStringLiteral("SQL|UPDATE t SET v=1")});
}

void TestPlayLog::stopDuringRequest()
{
    // A service that takes the connection and never answers.
    QTcpServer hung;
    QVERIFY2(listenOnServicePort(hung), "port 12222 is busy");
    int connections = 0;
    connect(&hung, &QTcpServer::newConnection, this, [&] {
        while (hung.nextPendingConnection())
            ++connections;
    });

    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("UPDATE t SET v=1"));
    m_playLog->writeMessage(QStringLiteral("SQL"), QStringLiteral("UPDATE t SET v=2"));
    SendThread sender;
    sender.init(m_playLog.get());
    sender.setTimings(10, 120000);
    sender.start();
    QTRY_COMPARE(connections, 1);
    QElapsedTimer elapsed;
    elapsed.start();
    sender.stop();
    // The request was cut short, far inside its two-minute limit.
    QVERIFY(elapsed.elapsed() < 60000);
    QVERIFY(sender.isFinished());

    // Nothing is lost: the cut statement and the one behind it wait in the
    // work file for the next start.
    QVERIFY(!QFile::exists(m_playLog->messageFilePath()));
    QVERIFY(QFile::exists(sender.workFilePath()));
    hung.close();

    QVERIFY2(startService(), "port 12222 is busy");
    SendThread next;
    next.init(m_playLog.get());
    next.setTimings(20, 5000);
    next.start();
    QTRY_COMPARE(m_received.size(), 2);
    next.stop();
    QCOMPARE(m_received,
        (QStringList {QStringLiteral("UPDATE t SET v=1"), QStringLiteral("UPDATE t SET v=2")}));
}

QTEST_MAIN(TestPlayLog)
#include "test_playlog.moc"
