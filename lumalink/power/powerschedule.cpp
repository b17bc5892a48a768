#include "power/powerschedule.h"

#include "clock.h"
#include "clocktext.h"
#include "commandrunner.h"
#include "dailylog.h"
#include "lebytes.h"
#include "protocol/builddata.h"
#include "settings/servicesettings.h"
#include "wholefile.h"
#include "xmlguard.h"

#include <QDomDocument>
#include <QFile>

#include <tuple>

namespace {
const QString DATE_FORMAT = QStringLiteral("yyyy-MM-dd");
const QString DATE_TIME_FORMAT = QStringLiteral("yyyy-MM-dd HH:mm:ss");
// Days searched for the next weekly, monthly or yearly occurrence: a whole
// year, and one more for a leap day in between.
constexpr int REPEAT_SEARCH_DAYS = 366;

void logPower(const QString &level, const QString &message)
{
    DailyLog::write(level, QStringLiteral("POWER"), message);
}

QString dateText(const QDate &day)
{
    return day.toString(DATE_FORMAT);
}

QString timeOfDay(const QString &time)
{
    return time.right(8);
}

// A daily entry may carry only its time of day; then it holds every day.
bool hasDate(const QString &time)
{
    return time.size() > 8;
}

// Replaces the file whole, so a reader (or a power cut) never meets it half written.
bool replaceFile(const QString &path, const QByteArray &bytes)
{
    return replaceFileWhole(path, bytes);
}

using ParsedEntries = QList<std::tuple<int, int, QString>>;

// Children of root R whose tag passes accept, as (s, r, t), at most
// MAX_POWER_ENTRIES of them; false when the document has another root.
template<typename Accept>
bool entriesOf(const QDomDocument &doc, Accept accept, ParsedEntries &out)
{
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("R"))
        return false;
    for (QDomElement child = root.firstChildElement();
         !child.isNull() && out.size() < XmlLimits::MAX_POWER_ENTRIES;
         child = child.nextSiblingElement()) {
        if (!accept(child.tagName()))
            continue;
        out.append({child.attribute(QStringLiteral("s")).toInt(),
            child.attribute(QStringLiteral("r")).toInt(), child.attribute(QStringLiteral("t"))});
    }
    return true;
}

// A schedule from the server takes exactly A and D.
bool serverEntry(const QString &tag)
{
    return tag == QLatin1String("A") || tag == QLatin1String("D");
}

// The entries of a schedule from the server; false, with the reason, when
// the reader refuses it, it does not parse or its root is not R.
bool parseServerSchedule(const QByteArray &xml, ParsedEntries &out, QString *why = nullptr)
{
    QDomDocument doc;
    if (!XmlGuard::parse(xml, XmlGuard::Encoding::Declared, doc, why))
        return false;
    if (entriesOf(doc, serverEntry, out))
        return true;
    if (why)
        *why = QStringLiteral("its root is not R");
    return false;
}

// Only a schedule that can be read is stored: a bad one would be read again
// at every start.
bool refuseToStore(const QByteArray &xml)
{
    ParsedEntries entries;
    QString why;
    if (parseServerSchedule(xml, entries, &why))
        return false;
    logPower(QStringLiteral("WARN"),
        QStringLiteral("Power schedule from the server not stored: ") + why);
    return true;
}
} // namespace

namespace PowerActions {

void shutdown(CommandRunner &runner, const QString &password)
{
    logPower(QStringLiteral("INFO"), QStringLiteral("Shut down now"));
    runner.runSudo(
        password, {QStringLiteral("shutdown"), QStringLiteral("-h"), QStringLiteral("now")});
}

void reboot(CommandRunner &runner, const QString &password)
{
    logPower(QStringLiteral("INFO"), QStringLiteral("Reboot now"));
    runner.runSudo(
        password, {QStringLiteral("shutdown"), QStringLiteral("-r"), QStringLiteral("now")});
}

QByteArray shutdownScheduleText(const QByteArray &frame)
{
    QByteArray rest = frame;
    if (rest.size() > BuildData::HEADER_SIZE)
        rest.remove(0, BuildData::HEADER_SIZE);
    // Skip the first five parameters; a size that runs past the end leaves nothing.
    for (int i = 0; i < 5; ++i) {
        const qint64 skip = qint64(LeBytes::read32(rest, 0)) + 4;
        rest.remove(0, static_cast<int>(qMin<qint64>(skip, rest.size())));
    }
    if (rest.size() > 4)
        rest.remove(0, 4); // the sixth parameter's size
    if (rest.endsWith('\0'))
        rest.chop(1);
    return rest;
}

bool scheduleShutdown(const QByteArray &frame, const QString &path)
{
    const QByteArray text = shutdownScheduleText(frame);
    if (refuseToStore(text))
        return false;
    return replaceFile(path, text);
}

} // namespace PowerActions

PowerSchedule::PowerSchedule(ServiceSettings &settings, const QString &filePath)
    : m_settings(settings)
    , m_filePath(filePath.isEmpty() ? settings.dataLayout().powerSchedule() : filePath)
{ }

PowerSchedule::Entry PowerSchedule::makeEntry(int onOff, int repeat, const QString &time)
{
    Entry entry;
    entry.onOff = onOff;
    entry.repeat = repeat;
    entry.time = time;
    entry.id = m_nextId++;
    return entry;
}

void PowerSchedule::readPowerOnOff()
{
    readPowerOnOff(m_list);
}

void PowerSchedule::readPowerOnOff(QList<Entry> &list)
{
    list.clear();
    // A stored file that cannot be read is set aside, so it never stops a start again.
    QDomDocument doc;
    if (!XmlGuard::parseFile(
            m_filePath, XmlGuard::Encoding::Declared, doc, QStringLiteral("POWER")))
        return;
    ParsedEntries parsed;
    // At start-up any tag ending in A or D counts (a reload from the server
    // takes exactly A and D).
    entriesOf(
        doc,
        [](const QString &tag) {
            return tag.endsWith(QLatin1Char('A')) || tag.endsWith(QLatin1Char('D'));
        },
        parsed);
    for (const auto &[onOff, repeat, time] : parsed)
        list.append(makeEntry(onOff, repeat, time));
}

bool PowerSchedule::rebuildFromXml(const QByteArray &xml)
{
    ParsedEntries parsed;
    if (!parseServerSchedule(xml, parsed))
        return false;
    m_list.clear();
    for (const auto &[onOff, repeat, time] : parsed)
        m_list.append(makeEntry(onOff, repeat, time));
    return true;
}

bool PowerSchedule::writePowerOnOff(const QByteArray &xml)
{
    if (refuseToStore(xml))
        return false;
    const bool stored = replaceFile(m_filePath, xml);
    if (!stored)
        logPower(QStringLiteral("WARN"), QStringLiteral("Cannot store ") + m_filePath);
    rebuildFromXml(xml);
    return stored;
}

void PowerSchedule::tick()
{
    // On the monotonic clock: a time sync that sets the clock back does not
    // stop the checks.
    const qint64 now = Clock::monotonicMs();
    if (now - m_lastCheckMs > CHECK_PERIOD_MS) {
        checkPowerSchedule();
        m_lastCheckMs = now;
    }
}

bool PowerSchedule::fallsOn(const Entry &entry, const QDate &day)
{
    if (entry.repeat == Entry::DAILY && !hasDate(entry.time))
        return true;
    const QString dayText = dateText(day);
    const QDate first = QDate::fromString(entry.time.left(10), DATE_FORMAT);
    switch (entry.repeat) {
    case Entry::ONCE:
        return entry.time.startsWith(dayText);
    case Entry::DAILY:
        return dayText >= entry.time.left(10);
    case Entry::WEEKLY:
        return first.isValid() && first.dayOfWeek() == day.dayOfWeek();
    case Entry::MONTHLY:
        return first.isValid() && first.day() == day.day();
    case Entry::YEARLY:
        return first.isValid() && first.day() == day.day() && first.month() == day.month();
    default:
        return false;
    }
}

bool PowerSchedule::offEntryDue(const Entry &entry, const QDateTime &now) const
{
    const QString nowTime = now.toString(QStringLiteral("HH:mm:ss"));
    const QString t8 = timeOfDay(entry.time);
    if (!QTime::fromString(t8, QStringLiteral("HH:mm:ss")).isValid())
        return false;
    int d = ClockText::secondsBetween(nowTime, t8);
    QDate day = now.date();
    // Just after midnight, an entry of 23:59 belongs to yesterday's occurrence.
    if (nowTime.startsWith(QLatin1String("00:00")) && t8.startsWith(QLatin1String("23:59"))
        && fallsOn(entry, day.addDays(-1))) {
        d += 86400;
        day = day.addDays(-1);
    }
    return d >= 0 && d <= DUE_WINDOW_S && fallsOn(entry, day);
}

void PowerSchedule::checkPowerSchedule()
{
    if (m_list.isEmpty())
        return;
    // A shutdown blocks; work on a copy so nothing can change the list meanwhile.
    const QList<Entry> entries = m_list;
    const QDateTime now = Clock::now();
    const QDate today = now.date();
    const QString nowTime = now.toString(QStringLiteral("HH:mm:ss"));

    // The wake alarm is programmed before a due shutdown, which may be the
    // last thing this machine does today.
    bool shutdownDue = false;
    const Entry *laterToday = nullptr;
    for (const Entry &entry : entries) {
        if (entry.onOff == Entry::POWER_OFF) {
            shutdownDue = shutdownDue || offEntryDue(entry, now);
        } else if (entry.onOff == Entry::POWER_ON) {
            const QString t8 = timeOfDay(entry.time);
            const bool dueToday = entry.time.startsWith(dateText(today)) || fallsOn(entry, today);
            if (t8 > nowTime && dueToday && (!laterToday || t8 < timeOfDay(laterToday->time)))
                laterToday = &entry;
        }
    }
    if (laterToday)
        programAlarm(*laterToday, dateText(today) + QLatin1Char(' ') + timeOfDay(laterToday->time));
    else
        programNextAlarm(entries, today);
    if (shutdownDue)
        shutdown();
}

void PowerSchedule::programNextAlarm(const QList<Entry> &entries, const QDate &today)
{
    // Nothing more today: the first on-time after today.
    const QString tomorrow = dateText(today.addDays(1));
    const Entry *next = nullptr;
    QString nextAt;
    for (const Entry &entry : entries) {
        if (entry.onOff != Entry::POWER_ON)
            continue;
        const bool repeats = entry.repeat >= Entry::DAILY && entry.repeat <= Entry::YEARLY;
        if (!repeats && !(entry.repeat == Entry::ONCE && entry.time >= tomorrow))
            continue;
        const QString at = nextRepeatTime(entry);
        if (!next || at < nextAt) {
            next = &entry;
            nextAt = at;
        }
    }
    if (next)
        programAlarm(*next, nextAt);
}

void PowerSchedule::programAlarm(const Entry &entry, const QString &at)
{
    // Once per entry and wake-up time: a daily entry whose time has passed
    // today is programmed again for tomorrow.
    if (entry.id == m_alarmEntry && at == m_alarmAt)
        return;
    m_alarmEntry = entry.id;
    m_alarmAt = at;
    writeRtcAlarm(at);
}

QString PowerSchedule::nextRepeatTime(const Entry &entry) const
{
    if (entry.repeat < Entry::DAILY || entry.repeat > Entry::YEARLY)
        return entry.time;
    // The first later day the entry falls on: tomorrow for a daily entry
    // that has begun, its first day for one that has not.
    const QDate today = Clock::now().date();
    for (int i = 1; i <= REPEAT_SEARCH_DAYS; ++i) {
        const QDate day = today.addDays(i);
        if (fallsOn(entry, day))
            return dateText(day) + QLatin1Char(' ') + timeOfDay(entry.time);
    }
    return entry.time;
}

void PowerSchedule::writeRtcAlarm(const QString &text)
{
    const QString full
        = text.size() <= 8 ? dateText(Clock::now().date()) + QLatin1Char(' ') + text : text;
    const QDateTime at = QDateTime::fromString(full, DATE_TIME_FORMAT);
    if (!at.isValid()) {
        logPower(
            QStringLiteral("WARN"), QStringLiteral("No wake alarm for unreadable time ") + full);
        return;
    }
    const qint64 seconds = qBound<qint64>(
        0, at.toMSecsSinceEpoch() / 1000 - Clock::nowMs() / 1000, MAX_WAKE_SECONDS);
    logPower(QStringLiteral("INFO"),
        QStringLiteral("Wake alarm for %1, in %2 seconds").arg(full).arg(seconds));
    // One number to a fixed program: nothing of the schedule reaches a shell.
    m_settings.runner->runSudo(
        m_settings.sudoPassword, {QLatin1String(WAKE_ALARM_HELPER), QString::number(seconds)});
}

void PowerSchedule::shutdown()
{
    PowerActions::shutdown(*m_settings.runner, m_settings.sudoPassword);
}

void PowerSchedule::reboot()
{
    PowerActions::reboot(*m_settings.runner, m_settings.sudoPassword);
}
