#pragma once

#include "datalayout.h"

#include <QString>
#include <QStringList>

// Keeps a service that dies during its first minute from dying the same way
// at every start. Each start notes its time in a small file in the data
// folder; a run that lasts STABLE_MS (or ends cleanly) removes the file. When
// a start finds that the MAX_SHORT_RUNS starts before it within WINDOW_MS all
// ended that early, it sets aside what the server sent last and what is read
// at start (the power schedule, a playbill waiting for its files) as
// "<name>.crashed", before anything reads them, and logs what it moved. The
// server sends them again once the service runs.
class StartGuard
{
public:
    static constexpr int MAX_SHORT_RUNS = 3;
    static constexpr qint64 WINDOW_MS = 5 * 60 * 1000;
    static constexpr qint64 STABLE_MS = 60 * 1000;

    // dataDir: the folder holding the documents (data/).
    explicit StartGuard(const DataLayout &layout);

    // At start, before anything reads the data folder. Returns the files
    // set aside (empty in a normal start).
    QStringList begin(qint64 nowMs);
    // The run lasted long enough, or ends cleanly: it was no crash at start.
    void markStable();

    QString notesPath() const;

private:
    DataLayout m_layout;
};
