#include "upkeep/startguard.h"

#include "dailylog.h"
#include "wholefile.h"

#include <QFile>

namespace {
// Only the last few starts matter; a damaged or huge notes file reads as
// what its last lines say.
constexpr int KEPT_NOTES = 16;
constexpr qint64 MAX_NOTES_BYTES = 4096;
} // namespace

StartGuard::StartGuard(const DataLayout &layout)
    : m_layout(layout)
{ }

QString StartGuard::notesPath() const
{
    return m_layout.startNotes();
}

QStringList StartGuard::begin(qint64 nowMs)
{
    QList<qint64> starts;
    QFile notes(notesPath());
    if (notes.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = notes.read(MAX_NOTES_BYTES).split('\n');
        for (const QByteArray &line : lines) {
            bool ok = false;
            const qint64 at = line.trimmed().toLongLong(&ok);
            if (ok)
                starts.append(at);
        }
        notes.close();
    }
    int recent = 0;
    for (qint64 at : qAsConst(starts))
        if (at <= nowMs && nowMs - at <= WINDOW_MS)
            ++recent;

    QStringList moved;
    if (recent >= MAX_SHORT_RUNS) {
        // What the server sent last and what is read at start.
        for (const QString &path : {m_layout.powerSchedule(), m_layout.waitingPlaybill()}) {
            if (!QFile::exists(path))
                continue;
            const QString aside = path + QStringLiteral(".crashed");
            QFile::remove(aside);
            if (QFile::rename(path, aside))
                moved.append(aside);
        }
        DailyLog::write(QStringLiteral("ERROR"), QStringLiteral("Main"),
            QStringLiteral("The last %1 starts ended within a minute: set aside %2")
                .arg(recent)
                .arg(moved.isEmpty() ? QStringLiteral("nothing (no such file)")
                                     : moved.join(QStringLiteral(", "))));
        starts.clear();
    }

    starts.append(nowMs);
    while (starts.size() > KEPT_NOTES)
        starts.removeFirst();
    QByteArray text;
    for (qint64 at : qAsConst(starts))
        text += QByteArray::number(at) + '\n';
    replaceFileWhole(notesPath(), text);
    return moved;
}

void StartGuard::markStable()
{
    QFile::remove(notesPath());
}
