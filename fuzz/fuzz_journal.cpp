// The statistics journal read back at start-up: the input is the journal
// file. The queue is opened past a stored number taken from it, takes a new
// statement and drops what the database stored; the pending records, written
// again, read back unchanged. What waits is stored in a database: only
// records reach it, and its tables stay the three the service made.

#include "fuzzenv.h"
#include "stats/sqljournal.h"
#include "stats/sqlqueue.h"
#include "stats/statdatabase.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {
bool sameRecords(const QList<SqlJournal::Record> &a, const QList<SqlJournal::Record> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a.at(i).seq != b.at(i).seq || a.at(i).sql != b.at(i).sql)
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::freshDataFolder();
    const QString path = SqlQueue::defaultJournalPath();
    FuzzEnv::writeFile(path, FuzzEnv::bytes(data, size));

    QList<SqlJournal::Record> records;
    {
        SqlJournal journal(path);
        FUZZ_CHECK(journal.open(records));
    }
    // Stored up to one of the records, or unknown.
    const qint64 applied = records.isEmpty() ? -1 : records.at(int(size % records.size())).seq;
    SqlQueue queue(path);
    queue.open(applied);
    queue.add(QStringLiteral("INSERT INTO play_detail(name, play_time, play_type, times, "
                             "duration, mtl_type) VALUES('a%20b', '2024-05-01 10:00:00', 0, 1, "
                             "5, 'pic')"));
    const QList<SqlQueue::Entry> pending = queue.peek(SqlQueue::MAX_SQL_QUEUE);
    {
        StatDatabase db(FuzzEnv::dataRoot() + QStringLiteral("/data/fuzz.db"));
        FUZZ_CHECK(db.open());
        db.applyStatements(pending.mid(0, 200));
        db.close();
        {
            QSqlDatabase check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
            check.setDatabaseName(FuzzEnv::dataRoot() + QStringLiteral("/data/fuzz.db"));
            FUZZ_CHECK(check.open());
            QSqlQuery query(check);
            FUZZ_CHECK(query.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE "
                                                 "type != 'index'")));
            FUZZ_CHECK(query.next() && query.value(0).toInt() == 4);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }
    if (!pending.isEmpty())
        queue.markApplied(pending.first().seq);

    SqlJournal journal(path);
    QList<SqlJournal::Record> before;
    FUZZ_CHECK(journal.open(before));
    FUZZ_CHECK(journal.rewrite(before));
    QList<SqlJournal::Record> after;
    FUZZ_CHECK(journal.open(after));
    FUZZ_CHECK(sameRecords(before, after));
    return 0;
}
