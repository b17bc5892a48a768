#pragma once

#include "settings/servicesettings.h"

#include <QJsonObject>
#include <QString>

#include <functional>

// What the session keeps from the status file.
struct StatusRecord;

struct SessionSettings
{
    int status = 5;
    double volume = 0.1;
    int clearType = 5;
    qint64 lastSyncMs = 0;
};

// Every reader and writer of status.json in the service. Writers keep all keys
// they do not own; only saveTerminalInfo creates the file.
class TerminalStatus
{
public:
    // The settings loaded and saved are those of settings (the process's by default).
    explicit TerminalStatus(const QString &path, ServiceSettings &settings);

    QString path() const { return m_path; }

    // The terminal id follows from the MAC: its twelve digits, then the third,
    // second and first digit again (00-1A-2B-3C-4D-5E gives 001A2B3C4D5E100).
    static QString deriveTerminalId(const QString &mac);
    // A port a server can listen on (1 to 65535); an address with any other
    // port would leave the terminal without a server.
    static bool isUsablePort(int port) { return port >= 1 && port <= 65535; }
    static bool isUsablePort(const QString &port);
    // Splits host:port at the first ":" unless that ":" starts the text.
    static bool splitConnHost(const QString &value, QString &ip, QString &port);

    // Start-up: loads identity, address and password into the settings, fills in
    // a missing MAC and terminal id, and saves the file back (creating it).
    void loadAtStartup(const std::function<QString()> &macProvider);
    bool saveTerminalInfo();

    // Both loads first set aside a file that does not parse and take back its
    // last good copy (StatusFile::recover).
    // Session load: re-reads the file (writing a new one when a damaged file
    // has no good copy) and refreshes the address, identity and password
    // settings; what the file does not hold keeps its default.
    SessionSettings reloadForSession();
    int getClearType() const;

    bool writeTerminalStatus(const QString &terminalId, int status);
    bool writeSyncTime(qint64 nowMs);
    bool writeVolume(double volume);
    bool writeClearType(int clearType);
    // An empty server address leaves the file untouched.
    bool writeServerConfig(
        const QString &serverHost, int serverPort, const QString &rtdaHost, int rtdaPort);

private:
    // What a newly created file holds: the settings in memory and defaults.
    QJsonObject newFile() const;
    // The server address, terminal id, MAC and password the file holds,
    // where it holds them.
    void takeStoredIdentity(const StatusRecord &record);

    QString m_path;
    ServiceSettings *m_settings;
};
