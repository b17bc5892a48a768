#include "clock.h"
#include "clocktext.h"
#include "dailylog.h"
#include "httpfileserver.h"
#include "settings/servicesettings.h"
#include "stats/playrecord.h"
#include "stats/sqlqueue.h"
#include "stats/statthread.h"
#include "stats/statupload.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// The statistics database: statements from the player kept through a restart,
// file records, hourly aggregation and the upload in signed batches.
class TestStats : public QObject
{
    Q_OBJECT
    ServiceSettings m_settings;

private slots:
    void init();
    void cleanup();

    void repeatedPlayReplacesItsRow();
    void encodedStatementIsDecoded();
    void fullQueueRefuses();
    void wakesEveryBurstWhileDraining();
    void acceptedStatementSurvivesRestart();
    void restartAfterStoringDoesNotRunTwice_data();
    void restartAfterStoringDoesNotRunTwice();
    void tornJournalLineIsIgnored();
    void failingRecordIsSetAsideAfterItsTries_data();
    void failingRecordIsSetAsideAfterItsTries();
    void journalHoldsOnlyRecords();
    void journalRecords_data();
    void journalRecords();
    void databaseOpenedLaterStoresWhatWaited();
    void fileRecords_data();
    void fileRecords();
    void emptyDatabaseFileGetsItsTables();
    void damagedDatabaseIsReplaced();
    void lockedDatabaseKeepsTheBatch();
    void playRecords_data();
    void playRecords();

    void earlierDaysAggregatePerHour();
    void hourAlreadyAggregatedIsAddedTo();
    void uploadInBatchesOfFifty_data();
    void uploadInBatchesOfFifty();
    void uploadBodyIsSignedCompactJson();
    void noUploadWithoutLogUrl();
    void simulatorSeesSignedBatches();

private:
    QString dbPath() const { return m_env->dataRoot() + QStringLiteral("/data/playdata.db"); }
    // Rows of a query on a connection of the test's own, fields joined by "|".
    QStringList rows(const QString &sql) const;
    QString logText() const
    {
        return QString::fromUtf8(readFile(DailyLog::filePath(ClockText::date())));
    }
    void setNow(const QString &dateTime)
    {
        Clock::setFixedMs(QDateTime::fromString(dateTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                              .toMSecsSinceEpoch());
    }
    void addPlay(StatThread &stat, const QString &name, const QString &time, int times,
        int duration = 10, int playType = 0, const QString &type = QStringLiteral("pic"));

    std::unique_ptr<TestEnv> m_env;
};

namespace {
const QString PLAY = QStringLiteral(
    "INSERT INTO play_detail(name, play_time, play_type, times, duration, mtl_type) "
    "VALUES('%1', '%2', %3, %4, %5, '%6')");

// A statistics server on 127.0.0.1: keeps each POST body and answers with the
// next of `answers` (then {"status":200}).
class StatServer : public QTcpServer
{
public:
    QList<QByteArray> bodies;
    QList<QByteArray> answers;
    QList<bool> taken; // per body: answered as a success

    StatServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const int end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray head = buffer->left(end).toLower();
                    const int at = head.indexOf("content-length:");
                    const int length
                        = at < 0 ? 0 : head.mid(at + 15).split('\r').first().trimmed().toInt();
                    if (buffer->size() < end + 4 + length)
                        return;
                    bodies << buffer->mid(end + 4, length);
                    buffer->clear();
                    const QByteArray body
                        = answers.isEmpty() ? QByteArray("{\"status\":200}") : answers.takeFirst();
                    taken << (body == "{\"status\":200}" || body == "{\"code\":0}");
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                  "Connection: close\r\nContent-Length: "
                        + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    // The rows of every request answered as a success, in order, as
    // "mtl|segment|type|total".
    QStringList takenRows() const
    {
        QStringList out;
        for (int i = 0; i < bodies.size(); ++i) {
            if (!taken.at(i))
                continue;
            const QByteArray &body = bodies.at(i);
            const QJsonArray logs = QJsonDocument::fromJson(body).object().value("logs").toArray();
            for (const QJsonValue &log : logs) {
                const QJsonObject o = log.toObject();
                out << QStringLiteral("%1|%2|%3|%4")
                           .arg(o.value("mtl").toString(), o.value("time_segment").toString())
                           .arg(o.value("play_type").toInt())
                           .arg(o.value("total").toInt());
            }
        }
        return out;
    }
};
} // namespace

void TestStats::init()
{
    m_settings.reset();
    m_env = std::make_unique<TestEnv>();
    QVERIFY(m_env->isValid());
    QVERIFY(QDir().mkpath(m_env->dataRoot() + QStringLiteral("/data")));
    QVERIFY(QDir().mkpath(m_env->dataRoot() + QStringLiteral("/logs")));
}

void TestStats::cleanup()
{
    m_env.reset();
    Clock::reset();
    m_settings.reset();
}

QStringList TestStats::rows(const QString &sql) const
{
    QStringList out;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(dbPath());
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql)) {
                while (query.next()) {
                    QStringList fields;
                    for (int i = 0; i < query.record().count(); ++i)
                        fields << query.value(i).toString();
                    out << fields.join(QLatin1Char('|'));
                }
            } else {
                out << QStringLiteral("error");
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return out;
}

void TestStats::addPlay(StatThread &stat, const QString &name, const QString &time, int times,
    int duration, int playType, const QString &type)
{
    QVERIFY(stat.addSqlQueue(PLAY.arg(name, time, QString::number(playType), QString::number(times),
        QString::number(duration), type)));
}

void TestStats::repeatedPlayReplacesItsRow()
{
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    addPlay(stat, "a.jpg", "2024-05-01 10:00:00", 1);
    // The same play reported again (the player resent it) with other figures.
    addPlay(stat, "a.jpg", "2024-05-01 10:00:00", 4);
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name, times FROM play_detail"), QStringList {"a.jpg|4"});
    QCOMPARE(stat.sqlQueue().size(), 0);
}

void TestStats::encodedStatementIsDecoded()
{
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    QVERIFY(stat.addSqlQueue(QString::fromLatin1(QUrl::toPercentEncoding(
        PLAY.arg("it''s 中.jpg", "2024-05-01 10:00:00", "0", "1", "5", "pic")))));
    // One starting with "%20" stays as it stands: no play record.
    QVERIFY(!stat.addSqlQueue("%20" + PLAY.arg("x", "2024-05-01 10:00:00", "0", "1", "5", "pic")));
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name, play_time FROM play_detail"),
        QStringList {"it's 中.jpg|2024-05-01 10:00:00"});
    QVERIFY(logText().contains("[ SQL_REFUSED ] - [ WARN ]  No play record (not a play record): "
                               "%20INSERT INTO play_detail"));
}

void TestStats::fullQueueRefuses()
{
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    const QString used = "UPDATE file_mgt SET access_time='2024-05-01 10:00:00' WHERE name='%1'";
    for (int i = 0; i < SqlQueue::MAX_SQL_QUEUE; ++i)
        QVERIFY(stat.addSqlQueue(used.arg(i)));
    QVERIFY(!stat.addSqlQueue(used.arg("late")));
    QVERIFY(logText().contains("[ SQL_QUE_FULL ] - [ WARN ]  " + used.arg("late")));
    // The service's own file records still get in.
    stat.insertFileMgt("data/mtl/clip.mp4");
    QCOMPARE(stat.sqlQueue().size(), SqlQueue::MAX_SQL_QUEUE + 1);

    QVERIFY(stat.drainQueue());
    QCOMPARE(stat.sqlQueue().size(), 0);
    QVERIFY(stat.addSqlQueue(used.arg("late")));
    QCOMPARE(rows("SELECT name FROM file_mgt"), QStringList {"clip.mp4"});
}

void TestStats::wakesEveryBurstWhileDraining()
{
    // The statistics thread is woken once per WAKE_EVERY plays added, also
    // when it drains the queue meanwhile (the size then never reaches a
    // multiple of it, and the plays would wait for its next pass).
    SqlQueue queue;
    int wakes = 0;
    queue.setWakeHandler([&] { ++wakes; });
    const QString used = "UPDATE file_mgt SET access_time='2024-05-01 10:00:00' WHERE name='%1'";
    for (int i = 0; i < 2 * SqlQueue::WAKE_EVERY; ++i) {
        QCOMPARE(queue.add(used.arg(i)), SqlQueue::Result::Queued);
        if (i % 300 == 299)
            queue.markApplied(queue.peek(SqlQueue::WAKE_EVERY).last().seq);
    }
    QCOMPARE(wakes, 2);
}

void TestStats::acceptedStatementSurvivesRestart()
{
    {
        StatThread stat(m_settings);
        QVERIFY(stat.connectToDb());
        addPlay(stat, "before.jpg", "2024-05-01 10:00:00", 1);
        QVERIFY(stat.drainQueue());
        // Accepted, then the service ends before the next pass.
        addPlay(stat, "last.jpg", "2024-05-01 10:00:06", 2);
        stat.insertFileMgt("tl100.l");
    }
    QCOMPARE(rows("SELECT name FROM play_detail"), QStringList {"before.jpg"});

    StatThread restarted(m_settings);
    QVERIFY(restarted.connectToDb());
    QCOMPARE(restarted.sqlQueue().size(), 2);
    QVERIFY(restarted.drainQueue());
    QCOMPARE(rows("SELECT name, times FROM play_detail ORDER BY name"),
        (QStringList {"before.jpg|1", "last.jpg|2"}));
    QCOMPARE(rows("SELECT name, res_type FROM file_mgt"), QStringList {"tl100.l|1"});
}

void TestStats::restartAfterStoringDoesNotRunTwice_data()
{
    QTest::addColumn<bool>("journalLost");
    QTest::newRow("journal not cut back") << false;
    QTest::newRow("journal lost") << true;
}

void TestStats::restartAfterStoringDoesNotRunTwice()
{
    // Stored, but the service ended before the journal was cut back: the
    // database's mark keeps a statement from running twice. A journal lost
    // since numbers on after that mark, so new plays still count.
    QFETCH(bool, journalLost);
    const QString journal = SqlQueue::defaultJournalPath();
    {
        StatThread stat(m_settings);
        QVERIFY(stat.connectToDb());
        // Every play stored counts once.
        QVERIFY(stat.insertDatabase("CREATE TABLE counter(n integer)"));
        QVERIFY(stat.insertDatabase("INSERT INTO counter VALUES(0)"));
        QVERIFY(stat.insertDatabase("CREATE TRIGGER counted AFTER INSERT ON play_detail "
                                    "BEGIN UPDATE counter SET n = n + 1; END"));
        addPlay(stat, "a.jpg", "2024-05-01 10:00:00", 1);
        const QByteArray before = readFile(journal);
        QVERIFY(stat.drainQueue());
        if (journalLost)
            QVERIFY(QFile::remove(journal));
        else
            writeFile(journal, before); // as if the rewrite never happened
    }
    StatThread restarted(m_settings);
    QVERIFY(restarted.connectToDb());
    QCOMPARE(restarted.sqlQueue().size(), 0);
    addPlay(restarted, "b.jpg", "2024-05-01 10:00:00", 1);
    QVERIFY(restarted.drainQueue());
    QCOMPARE(rows("SELECT n FROM counter"), QStringList {"2"});
}

void TestStats::tornJournalLineIsIgnored()
{
    const QString journal = SqlQueue::defaultJournalPath();
    const QString b = "UPDATE file_mgt SET access_time='2024-05-01 10:00:00' WHERE name='b'";
    writeFile(journal, "#base 7\n8\tUPDATE file_mgt SET url='a'\n9\tUPDATE file_m");
    SqlQueue queue;
    QCOMPARE(queue.open(-1), 1);
    QCOMPARE(queue.add(b), SqlQueue::Result::Queued);
    const QList<SqlQueue::Entry> entries = queue.peek(10);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).seq, 8);
    QCOMPARE(entries.at(1).seq, 9);
    QCOMPARE(readFile(journal), "#base 7\n8\tUPDATE file_mgt SET url='a'\n9\t" + b.toUtf8() + "\n");
    // Numbers go on after a restart even once the journal was cut back.
    queue.markApplied(9);
    QCOMPARE(readFile(journal), QByteArray("#base 9\n"));
    SqlQueue again;
    QCOMPARE(again.open(-1), 0);
    QCOMPARE(again.add("SELECT 1"), SqlQueue::Result::Refused);
    again.add(b);
    QCOMPARE(again.peek(1).value(0).seq, 10);
}

void TestStats::failingRecordIsSetAsideAfterItsTries_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("why");
    QTest::newRow("refused") << "SELECT RAISE(ABORT, 'refused here')"
                             << "refused here";
    // A damaged or hand-made database whose trigger would keep the thread
    // (and the watchdog and uploads with it) busy for minutes.
    QTest::newRow("endless") << "SELECT COUNT(*) FROM big a, big b, big c"
                             << "stopped after 50 ms";
}

void TestStats::failingRecordIsSetAsideAfterItsTries()
{
    QFETCH(QString, trigger);
    QFETCH(QString, why);
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    stat.database().setRecordLimitMs(50);
    QVERIFY(stat.insertDatabase("CREATE TABLE big AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                                "SELECT x + 1 FROM c LIMIT 2000) SELECT x FROM c"));
    QVERIFY(stat.insertDatabase("CREATE TRIGGER t BEFORE INSERT ON play_detail WHEN "
                                "NEW.name = 'bad' BEGIN "
        + trigger + "; END"));
    addPlay(stat, "before", "2024-05-01 10:00:00", 1);
    addPlay(stat, "bad", "2024-05-01 10:00:01", 1);
    addPlay(stat, "after", "2024-05-01 10:00:02", 1);
    for (int pass = 1; pass < StatDatabase::MAX_TRIES; ++pass) {
        QVERIFY(stat.drainQueue());
        QCOMPARE(rows("SELECT name FROM play_detail"), QStringList {"before"});
        QCOMPARE(stat.sqlQueue().size(), 2); // tried again in order, nothing lost
    }
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name FROM play_detail ORDER BY name"), (QStringList {"after", "before"}));
    QCOMPARE(stat.sqlQueue().size(), 0);
    const QByteArray aside = readFile(stat.sqlQueue().setAsidePath());
    QVERIFY2(aside.startsWith(why.toUtf8()) && aside.contains("\t2\tINSERT INTO play_detail(name"),
        aside);
    QVERIFY(logText().contains("[ SQL_SET_ASIDE ] - [ WARN ]  Statement 2 set aside"));
}

void TestStats::journalHoldsOnlyRecords()
{
    // A journal edited by hand, or written by something else: what is no
    // record is set aside, never run, and the records around it are stored.
    const QString play = PLAY.arg("a.jpg", "2024-05-01 10:00:00", "0", "1", "5", "pic");
    writeFile(SqlQueue::defaultJournalPath(),
        "#base 0\n1\tDROP TABLE play_stat\n2\t" + play.toUtf8() + "\n3\t"
            + PlayRecord::fileStoredStatement("data/mtl/x'.png", "2024-05-01 10:00:00").toUtf8()
            + "\n4\t/**/ATTACH DATABASE '" + m_env->dataRoot().toUtf8() + "/e' AS e\n");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name FROM play_detail"), QStringList {"a.jpg"});
    QCOMPARE(rows("SELECT name, url FROM file_mgt"), QStringList {"x'.png|data/mtl/x'.png"});
    QCOMPARE(rows("SELECT COUNT(*) FROM play_stat"), QStringList {"0"});
    QCOMPARE(readFile(stat.sqlQueue().setAsidePath()).count('\n'), 2);
    // Not even a statement run as it stands may open another file.
    QVERIFY(!stat.insertDatabase("/**/ATTACH DATABASE '" + m_env->dataRoot() + "/e' AS e"));
    QVERIFY(!QFile::exists(m_env->dataRoot() + "/e"));
}

void TestStats::journalRecords_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("plain") << "UPDATE file_mgt SET access_time='x' WHERE name='a.jpg'";
    QTest::newRow("line breaks") << "UPDATE t SET a='1\n2\r\n3'";
    QTest::newRow("backslashes") << "UPDATE t SET a='\\n is not a break \\\\'";
    QTest::newRow("tab and chinese") << "UPDATE t SET a='\t宣传片'";
    QTest::newRow("looks like a base") << "#base 99";
}

void TestStats::journalRecords()
{
    QFETCH(QString, sql);
    SqlJournal::Record record {42, sql};
    const QByteArray line = SqlJournal::encode(record);
    QCOMPARE(line.count('\n'), 1);
    QVERIFY(line.endsWith('\n'));
    SqlJournal::Record back;
    bool isBase = true;
    QVERIFY(SqlJournal::decode(line.left(line.size() - 1), back, isBase));
    QVERIFY(!isBase);
    QCOMPARE(back.seq, 42);
    QCOMPARE(back.sql, sql);
}

void TestStats::databaseOpenedLaterStoresWhatWaited()
{
    // The data folder holds a directory where the database should be.
    QVERIFY(QDir().mkpath(dbPath()));
    StatThread stat(m_settings);
    QVERIFY(!stat.connectToDb());
    QVERIFY(logText().contains("Open db " + dbPath() + " fail"));
    addPlay(stat, "waiting.jpg", "2024-05-01 10:00:00", 1);
    QVERIFY(!stat.drainQueue());
    QCOMPARE(stat.sqlQueue().size(), 1);

    QVERIFY(QDir(dbPath()).removeRecursively());
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name FROM play_detail"), QStringList {"waiting.jpg"});
}

void TestStats::fileRecords_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("row");
    const QString now = QStringLiteral("2024-05-01 10:00:00");
    QTest::newRow("template list") << "12.l"
                                   << "12.l|1|12.l|" + now + "|" + now;
    QTest::newRow("zone") << "7.z"
                          << "7.z|2|7.z|" + now + "|" + now;
    QTest::newRow("media") << "clip.mp4"
                           << "clip.mp4|3|clip.mp4|" + now + "|" + now;
    QTest::newRow("path") << "data/mtl/clip.mp4"
                          << "clip.mp4|3|data/mtl/clip.mp4|" + now + "|" + now;
    QTest::newRow("quote and blank") << "data/mtl/it's a.png"
                                     << "it's a.png|3|data/mtl/it's a.png|" + now + "|" + now;
}

void TestStats::fileRecords()
{
    QFETCH(QString, path);
    QFETCH(QString, row);
    setNow("2024-05-01 10:00:00");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    stat.insertFileMgt(path);
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name, res_type, url, download_time, access_time FROM file_mgt"),
        QStringList {row});
}

void TestStats::emptyDatabaseFileGetsItsTables()
{
    writeFile(dbPath(), QByteArray());
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    addPlay(stat, "a.jpg", "2024-05-01 10:00:00", 1);
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name FROM play_detail"), QStringList {"a.jpg"});
    QCOMPARE(rows("SELECT sql FROM sqlite_master WHERE name='play_stat'"),
        QStringList {"CREATE TABLE \"play_stat\" ( \"name\" text(100) NOT NULL, \"time_segment\" "
                     "text(20) NOT NULL, \"play_type\" integer NOT NULL, \"times\" integer NOT "
                     "NULL, \"duration\" integer NOT NULL, \"timestamp\" text(20) NOT NULL, "
                     "\"mtl_type\" text(50), PRIMARY KEY (\"name\", \"time_segment\", "
                     "\"play_type\") )"});
}

void TestStats::damagedDatabaseIsReplaced()
{
    // A play journaled, then the database file found to be no database: it
    // is set aside whole and the play goes into a new one.
    {
        StatThread stat(m_settings);
        QVERIFY(stat.connectToDb());
        addPlay(stat, "kept.jpg", "2024-05-01 10:00:00", 1);
    }
    const QByteArray damaged = QByteArray("no database here, just a hand edit\n").repeated(100);
    QVERIFY(writeFile(dbPath(), damaged));
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name FROM play_detail"), QStringList {"kept.jpg"});
    const QStringList aside
        = QDir(m_env->dataRoot() + "/data").entryList({"playdata.db.bad-*"}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readFile(m_env->dataRoot() + "/data/" + aside.first()), damaged);
    QVERIFY(logText().contains("[ STAT_DB_DAMAGED ] - [ ERROR ]"));
}

void TestStats::lockedDatabaseKeepsTheBatch()
{
    // Another process holds the write lock for longer than a record may
    // fail: the plays wait whole, none is set aside, and each pass waits
    // about a second, not five per statement.
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    QVERIFY(stat.drainQueue()); // the thread's own connection is open
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
        locker.setDatabaseName(dbPath());
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY(lock.exec("BEGIN IMMEDIATE"));
        addPlay(stat, "a.jpg", "2024-05-01 10:00:00", 1);
        addPlay(stat, "b.jpg", "2024-05-01 10:00:00", 1);
        for (int pass = 0; pass <= StatDatabase::MAX_TRIES; ++pass)
            QVERIFY(!stat.drainQueue());
        QVERIFY(lock.exec("COMMIT"));
    }
    QSqlDatabase::removeDatabase("locker");
    QVERIFY(stat.drainQueue());
    QCOMPARE(rows("SELECT name FROM play_detail ORDER BY name"), (QStringList {"a.jpg", "b.jpg"}));
    QVERIFY(!QFile::exists(SqlQueue::defaultJournalPath() + ".bad"));
}

void TestStats::earlierDaysAggregatePerHour()
{
    setNow("2024-05-02 08:30:00");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    addPlay(stat, "a.jpg", "2024-05-01 10:05:00", 1, 10);
    addPlay(stat, "a.jpg", "2024-05-01 10:40:00", 2, 10);
    addPlay(stat, "a.jpg", "2024-05-01 11:00:00", 1, 10);
    addPlay(stat, "a.jpg", "2024-05-01 10:50:00", 1, 10, 2); // insert programme
    addPlay(stat, "clip.mp4", "2024-05-01 10:20:00", 1, 30, 0, "video");
    addPlay(stat, "clip.mp4", "2024-05-01 10:21:00", 1, 30, 0, "audio"); // other type, same hour
    addPlay(stat, "a.jpg", "2024-05-02 00:00:00", 5, 10); // today
    QVERIFY(stat.drainQueue());
    QCOMPARE(stat.statPlayData(), 4);
    QCOMPARE(rows("SELECT name, time_segment, play_type, times, duration, timestamp, mtl_type "
                  "FROM play_stat ORDER BY name, time_segment, play_type"),
        (QStringList {"a.jpg|2024-05-01 10|0|3|20|2024-05-02 08:30:00|pic",
            "a.jpg|2024-05-01 10|2|1|10|2024-05-02 08:30:00|pic",
            "a.jpg|2024-05-01 11|0|1|10|2024-05-02 08:30:00|pic",
            "clip.mp4|2024-05-01 10|0|2|60|2024-05-02 08:30:00|audio"}));
    QCOMPARE(
        rows("SELECT name, play_time FROM play_detail"), QStringList {"a.jpg|2024-05-02 00:00:00"});
    QCOMPARE(stat.statPlayData(), 0);
}

void TestStats::hourAlreadyAggregatedIsAddedTo()
{
    // Plays of yesterday that arrived after yesterday was aggregated.
    setNow("2024-05-02 08:00:00");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    addPlay(stat, "a.jpg", "2024-05-01 10:05:00", 1, 10);
    addPlay(stat, "b.jpg", "2024-05-01 10:05:00", 1, 10);
    QVERIFY(stat.drainQueue());
    QCOMPARE(stat.statPlayData(), 2);
    addPlay(stat, "a.jpg", "2024-05-01 10:30:00", 4, 10);
    addPlay(stat, "c.jpg", "2024-05-01 10:30:00", 1, 10);
    QVERIFY(stat.drainQueue());
    setNow("2024-05-02 09:00:00");
    QCOMPARE(stat.statPlayData(), 2);
    QCOMPARE(rows("SELECT name, times, duration, timestamp FROM play_stat ORDER BY name"),
        (QStringList {"a.jpg|5|20|2024-05-02 09:00:00", "b.jpg|1|10|2024-05-02 08:00:00",
            "c.jpg|1|10|2024-05-02 09:00:00"}));
    QCOMPARE(rows("SELECT COUNT(*) FROM play_detail"), QStringList {"0"});
}

void TestStats::uploadInBatchesOfFifty_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QList<int>>("batchSizes");
    QTest::addColumn<int>("left");
    QTest::addColumn<bool>("oddTypes"); // play types no key comparison matches (hand edit)
    QTest::newRow("all taken") << QList<QByteArray> {} << QList<int> {50, 50, 20} << 0 << false;
    QTest::newRow("second refused") << QList<QByteArray> {"{\"status\":200}", "{\"status\":500}"}
                                    << QList<int> {50, 50} << 70 << false;
    QTest::newRow("code 0 taken, then garbage")
        << QList<QByteArray> {"{\"code\":0}", "<html>"} << QList<int> {50, 50} << 70 << false;
    QTest::newRow("first refused")
        << QList<QByteArray> {"{\"code\":1}"} << QList<int> {50} << 120 << false;
    QTest::newRow("odd play types, all taken once")
        << QList<QByteArray> {} << QList<int> {50, 50, 20} << 0 << true;
}

void TestStats::uploadInBatchesOfFifty()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QList<int>, batchSizes);
    QFETCH(int, left);
    QFETCH(bool, oddTypes);
    setNow("2024-05-02 08:00:00");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    for (int i = 0; i < 120; ++i)
        addPlay(stat, QStringLiteral("m%1.jpg").arg(i, 3, 10, QLatin1Char('0')),
            QStringLiteral("2024-05-01 %1:00:00").arg(i % 24, 2, 10, QLatin1Char('0')), 1);
    QVERIFY(stat.drainQueue());
    QCOMPARE(stat.statPlayData(), 120);
    if (oddTypes)
        QCOMPARE(rows("UPDATE play_stat SET play_type = 'x' WHERE rowid % 2 = 0"), QStringList());
    const QString read = "SELECT name, time_segment, CAST(play_type AS INTEGER), times FROM "
                         "play_stat ORDER BY rowid";
    const QStringList all = rows(read);

    StatServer server;
    server.answers = answers;
    m_settings.logUrl = server.baseUrl();
    stat.sendPlayerData();
    QCOMPARE(server.bodies.size(), batchSizes.size());
    for (int i = 0; i < batchSizes.size(); ++i)
        QCOMPARE(
            QJsonDocument::fromJson(server.bodies.at(i)).object().value("logs").toArray().size(),
            batchSizes.at(i));
    // What is left is exactly what was not accepted; nothing accepted is left.
    const QStringList remaining = rows(read);
    QCOMPARE(remaining.size(), left);
    QCOMPARE(remaining, all.mid(120 - left));

    // The next pass sends the rest: every row was taken exactly once.
    server.answers.clear();
    stat.sendPlayerData();
    QCOMPARE(rows("SELECT COUNT(*) FROM play_stat"), QStringList {"0"});
    QCOMPARE(server.takenRows(), all);
}

void TestStats::uploadBodyIsSignedCompactJson()
{
    setNow("2024-05-02 08:00:00");
    m_settings.terminalId = QStringLiteral("T-0001");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    addPlay(stat, "a\"b.jpg", "2024-05-01 10:05:00", 3, 10, 2);
    QVERIFY(stat.drainQueue());
    QCOMPARE(stat.statPlayData(), 1);

    StatServer server;
    m_settings.logUrl = server.baseUrl();
    stat.sendPlayerData();
    QCOMPARE(server.bodies.size(), 1);
    const QByteArray body = server.bodies.first();
    const QByteArray random = QByteArray::number(Clock::nowMs());
    const QByteArray content
        = QCryptographicHash::hash(random + "kolvarinetzup", QCryptographicHash::Md5).toHex();
    QCOMPARE(body,
        "{\"content\":\"" + content
            + "\",\"logs\":[{\"len\":10,\"mtl\":\"a\\\"b.jpg\",\"play_type\":2,\"statis_time\":"
              "\"2024-05-02 08:00:00\",\"time_segment\":\"2024-05-01 10\",\"total\":3}],"
              "\"player\":\"T-0001\",\"random\":\""
            + random + "\"}");
}

void TestStats::noUploadWithoutLogUrl()
{
    setNow("2024-05-02 08:00:00");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    addPlay(stat, "a.jpg", "2024-05-01 10:05:00", 1);
    QVERIFY(stat.drainQueue());
    stat.statAndSendPlayData();
    QCOMPARE(rows("SELECT name, times FROM play_stat"), QStringList {"a.jpg|1"});
    QCOMPARE(rows("SELECT COUNT(*) FROM play_detail"), QStringList {"0"});
}

void TestStats::simulatorSeesSignedBatches()
{
    // The signage server simulator as an independent peer: it checks the
    // signature and the compact form itself, and its second answer fails.
    setNow("2024-05-02 08:00:00");
    m_settings.terminalId = QStringLiteral("T-0001");
    StatThread stat(m_settings);
    QVERIFY(stat.connectToDb());
    for (int i = 0; i < 120; ++i)
        addPlay(stat, QStringLiteral("m%1.jpg").arg(i), "2024-05-01 10:00:00", 1 + i % 3);
    QVERIFY(stat.drainQueue());
    QCOMPARE(stat.statPlayData(), 120);

    HttpFileServer sim;
    QVERIFY(sim.listen());
    sim.failPosts("/mtllog/add", 1, 1);
    m_settings.logUrl = QStringLiteral("http://127.0.0.1:%1").arg(sim.port());
    stat.sendPlayerData();
    QCOMPARE(sim.statistics().size(), 2);
    QCOMPARE(rows("SELECT COUNT(*) FROM play_stat"), QStringList {"70"});
    stat.sendPlayerData();
    QCOMPARE(rows("SELECT COUNT(*) FROM play_stat"), QStringList {"0"});

    QCOMPARE(sim.statistics().size(), 4);
    int total = 0;
    for (const HttpFileServer::Post &post : sim.statistics()) {
        QVERIFY2(post.report.error.isEmpty(), qPrintable(post.report.error));
        QVERIFY(post.report.signatureOk);
        QVERIFY(post.report.compact);
        QCOMPARE(post.report.player, QString("T-0001"));
    }
    QSet<QString> names;
    for (const StatReport::Row &row : sim.acceptedStatisticsRows()) {
        names.insert(row.mtl);
        total += row.total;
    }
    QCOMPARE(sim.acceptedStatisticsRows().size(), 120);
    QCOMPARE(names.size(), 120);
    QCOMPARE(total, 40 * (1 + 2 + 3));
}

void TestStats::playRecords_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("record");
    QTest::addColumn<QVariantList>("values");
    const QString insert = "INSERT INTO play_detail(name, play_time, play_type, times, duration, "
                           "mtl_type) VALUES(";
    const QString update = "UPDATE file_mgt SET access_time=";
    QTest::newRow("play") << insert + "'a.png', '2026-12-09 10:00:00', 0, 3, 10, 'pic')" << true
                          << QVariantList {"a.png", "2026-12-09 10:00:00", 0, 3, 10, "pic"};
    QTest::newRow("quote, line break and percent in a name")
        << insert + "'it''s\n%1 -- x', '2026-12-09 10:00:00', 2, 1, 0, '')" << true
        << QVariantList {"it's\n%1 -- x", "2026-12-09 10:00:00", 2, 1, 0, ""};
    QTest::newRow("file used") << update + "'2026-12-09 10:00:00' WHERE name='z1.z'" << true
                               << QVariantList {"2026-12-09 10:00:00", "z1.z"};
    // Everything else the channel could carry.
    const QStringList refused {"DROP TABLE play_stat", "/**/ATTACH DATABASE '/tmp/x' AS e",
        "SELECT 1", "insert into play_detail VALUES('a','b',0,1,1,'c')",
        insert + "'a', '2026-12-09 10:00:00', 0, 3, 10, 'pic'); DROP TABLE play_stat",
        insert + "'a', '2026-12-09 10:00:00', 0, 3, 10, 'pic') ",
        insert + "'a', '2026-12-09 25:00:00', 0, 3, 10, 'pic')",
        insert + "'a', '2026-12-09 10:00:00', 10, 3, 10, 'pic')",
        insert + "'a', '2026-12-09 10:00:00', 0, 86401, 10, 'pic')",
        insert + "'a', '2026-12-09 10:00:00', 0, -1, 10, 'pic')",
        insert + QString::fromUtf8("'a', '2026-12-09 10:00:00', 0, \u0663, 10, 'pic')"),
        insert + "'a', '2026-12-09 10:00:00', 0, 99999999999, 10, 'pic')",
        insert + "'', '2026-12-09 10:00:00', 0, 3, 10, 'pic')",
        insert + "'" + QString(PlayRecord::MAX_NAME + 1, 'n')
            + "', '2026-12-09 10:00:00', 0, 3, 10, 'pic')",
        insert + "'a', '2026-12-09 10:00:00', 0, 3, 10, 'pic",
        update + "'2026-12-09 10:00:00' WHERE name='a' OR 1=1",
        update + "'2026-12-09 10:00:00' WHERE name='a'' OR ''1'='1'"};
    for (int i = 0; i < refused.size(); ++i)
        QTest::addRow("refused %d", i) << refused[i] << false << QVariantList {};
}

void TestStats::playRecords()
{
    QFETCH(QString, statement);
    QFETCH(bool, record);
    QFETCH(QVariantList, values);
    QString why;
    const PlayRecord parsed = PlayRecord::parse(statement, &why);
    QCOMPARE(parsed.kind != PlayRecord::Kind::None, record);
    QVERIFY2(why.isEmpty() == record, qPrintable(why));
    QCOMPARE(parsed.values(), values);
}

QTEST_GUILESS_MAIN(TestStats)
#include "test_stats.moc"
