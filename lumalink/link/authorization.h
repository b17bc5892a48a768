#pragma once

#include "protocol/sessionenums.h"

#include <QString>

class TerminalStatus;
struct ServiceSettings;

// What the session does with the server's answer to its authorization request
// (273/1). A conflicting id is replaced; any other answer goes to the status
// file and the player, but only when it differs from what they were last told:
// a terminal the server keeps refusing is asked about every second, and those
// repeats are summed up in the log once a minute instead of line by line.
class Authorization : public SessionEnums
{
public:
    static constexpr qint64 REPEAT_LOG_MS = 60000;

    Authorization(ServiceSettings &settings, TerminalStatus &statusFile);

    // The status the server gave, at nowMs.
    void onResult(int status, qint64 nowMs);
    // The last answer was a refusal already reported: the next request and its
    // answer are not logged one by one.
    bool repeatingRefusal() const { return m_reported == UNAUTHORIZED; }
    // Refusals since the last summary line (tests).
    int unloggedRepeats() const { return m_repeats; }

private:
    void report(int status);
    void logRepeats(qint64 nowMs);

    ServiceSettings &m_settings;
    TerminalStatus &m_statusFile;
    int m_reported = -1; // status last written and told to the player
    QString m_reportedId;
    int m_repeats = 0;
    qint64 m_repeatsSinceMs = 0;
};
