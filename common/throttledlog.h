#pragma once

#include <QString>

// A warning that a peer can provoke at will, logged at most once per period:
// the first one at once, the ones after it counted and named with the next
// line written.
class ThrottledLog
{
public:
    static constexpr qint64 PERIOD_MS = 60000;

    ThrottledLog(const QString &level, const QString &module);
    // Logs message, or counts it when one was logged less than a period ago.
    void note(const QString &message);
    int counted() const { return m_counted; }

private:
    QString m_level;
    QString m_module;
    qint64 m_lastMs = 0;
    bool m_logged = false;
    int m_counted = 0;
};
