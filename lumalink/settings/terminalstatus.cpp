#include "settings/terminalstatus.h"

#include "clock.h"
#include "settings/servicesettings.h"
#include "statusfile.h"
#include "statusrecord.h"

#include <QJsonObject>

TerminalStatus::TerminalStatus(const QString &path, ServiceSettings &settings)
    : m_path(path.isEmpty() ? settings.dataLayout().statusFile() : path)
    , m_settings(&settings)
{ }

QString TerminalStatus::deriveTerminalId(const QString &mac)
{
    QString digits = mac;
    digits.remove(QLatin1Char('-'));
    if (digits.isEmpty())
        return QString();
    QString id = digits;
    for (int i = 2; i >= 0; --i) {
        if (i < digits.size())
            id += digits.at(i);
    }
    return id;
}

bool TerminalStatus::isUsablePort(const QString &port)
{
    bool ok = false;
    const int value = port.trimmed().toInt(&ok);
    return ok && isUsablePort(value);
}

bool TerminalStatus::splitConnHost(const QString &value, QString &ip, QString &port)
{
    const int colon = value.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    ip = value.left(colon);
    port = value.mid(colon + 1);
    return true;
}

void TerminalStatus::loadAtStartup(const std::function<QString()> &macProvider)
{
    StatusFile::recover(m_path, Clock::now());
    takeStoredIdentity(StatusRecord::read(m_path).value_or(StatusRecord()));

    if (m_settings->mac.isEmpty() && macProvider)
        m_settings->mac = macProvider();
    if (m_settings->terminalId.isEmpty())
        m_settings->terminalId = deriveTerminalId(m_settings->mac);
    saveTerminalInfo();
}

void TerminalStatus::takeStoredIdentity(const StatusRecord &record)
{
    QString ip;
    QString port;
    if (record.connHost && splitConnHost(*record.connHost, ip, port)) {
        m_settings->connIp = ip;
        m_settings->connPort = port;
    }
    if (record.terminalId)
        m_settings->terminalId = *record.terminalId;
    if (record.mac)
        m_settings->mac = *record.mac;
    // The file is where the configuration window keeps the password: one
    // without it leaves none (sudo then runs without asking, -n).
    m_settings->sudoPassword = record.password.value_or(QString());
}

bool TerminalStatus::saveTerminalInfo()
{
    const QString connHost
        = m_settings->connIp.get() + QLatin1Char(':') + m_settings->connPort.get();
    if (StatusFile::exists(m_path)) {
        return StatusFile::update(m_path, [&](QJsonObject &object) {
            object.insert(QStringLiteral("terminalId"), m_settings->terminalId.get());
            object.insert(QStringLiteral("mac"), m_settings->mac.get());
            object.insert(QStringLiteral("connHost"), connHost);
            object.insert(QStringLiteral("password"), m_settings->sudoPassword.get());
        });
    }
    return StatusFile::create(m_path, newFile());
}

QJsonObject TerminalStatus::newFile() const
{
    QJsonObject object;
    object.insert(QStringLiteral("terminalId"), m_settings->terminalId.get());
    object.insert(QStringLiteral("mac"), m_settings->mac.get());
    object.insert(QStringLiteral("connHost"),
        m_settings->connIp.get() + QLatin1Char(':') + m_settings->connPort.get());
    object.insert(QStringLiteral("password"), m_settings->sudoPassword.get());
    object.insert(QStringLiteral("status"), 5);
    object.insert(QStringLiteral("rtdaHost"), m_settings->connIp.get() + QStringLiteral(":2100"));
    // Peers read the first volume as a string; later writes store a number.
    object.insert(QStringLiteral("volume"), QStringLiteral("0.1"));
    return object;
}

SessionSettings TerminalStatus::reloadForSession()
{
    SessionSettings settings;
    // Damaged since the start (a hand edit): the good copy comes back; with
    // none, a new file holds the settings in memory, so the next start still
    // finds the server.
    if (StatusFile::recover(m_path, Clock::now()) == StatusFile::Recovery::SetAsideOnly) {
        StatusFile::create(m_path, newFile());
        return settings;
    }
    if (!StatusFile::exists(m_path))
        return settings;
    const StatusRecord record = StatusRecord::read(m_path).value_or(StatusRecord());
    takeStoredIdentity(record);
    settings.status = record.status.value_or(settings.status);
    settings.volume = record.volume.value_or(settings.volume);
    settings.clearType = record.clearType.value_or(settings.clearType);
    settings.lastSyncMs = static_cast<qint64>(record.syncTime.value_or(0));
    return settings;
}

int TerminalStatus::getClearType() const
{
    return StatusRecord::read(m_path).value_or(StatusRecord()).clearType.value_or(5);
}

bool TerminalStatus::writeTerminalStatus(const QString &terminalId, int status)
{
    m_settings->terminalId = terminalId;
    return StatusFile::update(m_path, [&](QJsonObject &object) {
        object.insert(QStringLiteral("terminalId"), terminalId);
        object.insert(QStringLiteral("status"), status);
    });
}

bool TerminalStatus::writeSyncTime(qint64 nowMs)
{
    return StatusFile::update(m_path, [&](QJsonObject &object) {
        object.insert(QStringLiteral("syncTime"), static_cast<double>(nowMs));
    });
}

bool TerminalStatus::writeVolume(double volume)
{
    return StatusFile::update(
        m_path, [&](QJsonObject &object) { object.insert(QStringLiteral("volume"), volume); });
}

bool TerminalStatus::writeClearType(int clearType)
{
    return StatusFile::update(m_path,
        [&](QJsonObject &object) { object.insert(QStringLiteral("clearType"), clearType); });
}

bool TerminalStatus::writeServerConfig(
    const QString &serverHost, int serverPort, const QString &rtdaHost, int rtdaPort)
{
    if (serverHost.isEmpty())
        return false;
    return StatusFile::update(m_path, [&](QJsonObject &object) {
        object.insert(
            QStringLiteral("connHost"), QStringLiteral("%1:%2").arg(serverHost).arg(serverPort));
        object.insert(
            QStringLiteral("rtdaHost"), QStringLiteral("%1:%2").arg(rtdaHost).arg(rtdaPort));
    });
}
