#pragma once

#include <limits>

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

class CommandRunner;
struct ServiceSettings;

// One entry of the power schedule, from the attributes s, r and t of an A or D
// element of poweronoff.xml.
struct PowerEntry
{
    enum Action { POWER_ON = 0, POWER_OFF = 1 };
    enum Repeat { ONCE = 0, DAILY = 1, WEEKLY = 2, MONTHLY = 3, YEARLY = 4 };

    int onOff = POWER_ON; // "s"; other values are ignored
    int repeat = ONCE; // "r"
    QString time; // "t": "yyyy-MM-dd HH:mm:ss"; a daily entry may carry only "HH:mm:ss"
    quint64 id = 0; // tells entries apart: every load makes new ones
};

namespace PowerActions {
// Immediate power actions through sudo, the password on standard input.
void shutdown(CommandRunner &runner, const QString &password);
void reboot(CommandRunner &runner, const QString &password);
// The schedule a 278/2 frame carries as its sixth parameter (a trailing NUL dropped).
QByteArray shutdownScheduleText(const QByteArray &frame);
// Stores that schedule at path (poweronoff.xml); one that cannot be read
// (refused by the XML reader, not well-formed, root other than R) is not stored.
bool scheduleShutdown(const QByteArray &frame, const QString &path);
} // namespace PowerActions

// The machine's power schedule: kept in poweronoff.xml, held as a list of
// entries, checked about every ten seconds. An off entry whose time has just
// passed shuts the machine down; the next on entry is programmed into the
// RTC wake alarm. All of it runs on the session's thread.
class PowerSchedule
{
public:
    using Entry = PowerEntry;

    static constexpr qint64 CHECK_PERIOD_MS = 10000;
    // An off entry is due from its time to this many seconds after.
    static constexpr int DUE_WINDOW_S = 29;
    // The root-owned helper that sets the RTC wake alarm to a number of
    // seconds from now (the sudoers rule allows it without a password).
    static constexpr const char *WAKE_ALARM_HELPER = "/usr/libexec/lumaview/lumaview-wakealarm";
    // Furthest wake alarm the helper takes: a year.
    static constexpr qint64 MAX_WAKE_SECONDS = 366 * 86400;

    // filePath empty: data/poweronoff.xml under the home directory.
    explicit PowerSchedule(ServiceSettings &settings, const QString &filePath = QString());

    QString filePath() const { return m_filePath; }
    const QList<Entry> &powerList() const { return m_list; }

    // Loads the list from the file; a missing or unreadable file leaves it
    // empty. A file that is refused by the XML reader or does not parse is
    // set aside as poweronoff.xml.bad.
    void readPowerOnOff();
    void readPowerOnOff(QList<Entry> &list);
    // Stores a schedule from the server (276/280) and rebuilds the list from
    // it. One that rebuildFromXml would not take is neither stored nor used.
    bool writePowerOnOff(const QByteArray &xml);
    // Rebuilds the list from XML text (at most XmlLimits::MAX_POWER_ENTRIES
    // entries); text that the XML reader refuses, that does not parse, or
    // that has another root than R leaves it unchanged.
    bool rebuildFromXml(const QByteArray &xml);

    // The poll timer's step: a check when the last one is more than
    // CHECK_PERIOD_MS ago.
    void tick();
    void checkPowerSchedule();
    // Next occurrence after today of a repeating entry, "yyyy-MM-dd HH:mm:ss";
    // the entry's own time for a once entry or when none is found.
    QString nextRepeatTime(const Entry &entry) const;
    // Programs the wake alarm for text ("HH:mm:ss" means today).
    void writeRtcAlarm(const QString &text);

    void shutdown();
    void reboot();

    // Whether the entry's repeat rule holds on day (its date, weekday, day of
    // month, or day and month).
    static bool fallsOn(const Entry &entry, const QDate &day);

private:
    bool offEntryDue(const Entry &entry, const QDateTime &now) const;
    void programAlarm(const Entry &entry, const QString &at);
    void programNextAlarm(const QList<Entry> &entries, const QDate &today);
    Entry makeEntry(int onOff, int repeat, const QString &time);

    ServiceSettings &m_settings;
    QString m_filePath;
    QList<Entry> m_list;
    quint64 m_nextId = 1;
    // Monotonic time of the last check; the first tick checks at once.
    qint64 m_lastCheckMs = std::numeric_limits<qint64>::min() / 4;
    // The alarm last programmed: which entry, and for when.
    quint64 m_alarmEntry = 0;
    QString m_alarmAt;
};
