#include "datalayout.h"

#include <QDir>

DataLayout::DataLayout()
    : DataLayout(QDir::homePath())
{ }

DataLayout::DataLayout(const QString &home)
    : m_root(home + QStringLiteral("/.local/share/lumaview"))
{ }

QString DataLayout::root() const
{
    return m_root;
}

QString DataLayout::logDir() const
{
    return m_root + QStringLiteral("/logs");
}

QString DataLayout::logFile(const QString &program, const QString &date) const
{
    return logDir() + QStringLiteral("/%1.%2.0.log").arg(program, date);
}

QString DataLayout::dataDir() const
{
    return m_root + QStringLiteral("/data");
}

QString DataLayout::mediaDir() const
{
    return dataDir() + QLatin1Char('/') + QLatin1String(MEDIA_FOLDER);
}

QString DataLayout::templateListDir() const
{
    return dataDir() + QLatin1Char('/') + QLatin1String(TEMPLATE_LIST_FOLDER);
}

QString DataLayout::zoneDir() const
{
    return dataDir() + QLatin1Char('/') + QLatin1String(ZONE_FOLDER);
}

QString DataLayout::dayPlaybill() const
{
    return dataDir() + QStringLiteral("/day-play.xml");
}

QString DataLayout::waitingPlaybill() const
{
    return dayPlaybill() + QStringLiteral(".tmp");
}

QString DataLayout::statusFile() const
{
    return dataDir() + QStringLiteral("/status.json");
}

QString DataLayout::powerSchedule() const
{
    return dataDir() + QStringLiteral("/poweronoff.xml");
}

QString DataLayout::statsDatabase() const
{
    return dataDir() + QStringLiteral("/playdata.db");
}

QString DataLayout::statsJournal() const
{
    return dataDir() + QStringLiteral("/playdata.journal");
}

QString DataLayout::mediaMarks() const
{
    return dataDir() + QStringLiteral("/mtl.marks");
}

QString DataLayout::playLog() const
{
    return dataDir() + QStringLiteral("/storageMsg.txt");
}

QString DataLayout::playLogWork() const
{
    return dataDir() + QStringLiteral("/storageMsg.temp");
}

QString DataLayout::startNotes() const
{
    return dataDir() + QStringLiteral("/short-runs.txt");
}

QStringList DataLayout::folders() const
{
    return {m_root, logDir(), dataDir(), zoneDir(), templateListDir(), mediaDir()};
}
