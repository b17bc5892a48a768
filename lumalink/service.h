#pragma once

#include "datalayout.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "upkeep/startguard.h"

#include <QObject>

#include <memory>

class ConfigWindow;
class DownloadThread;
class NotifyListener;
class SessionThread;
class StatThread;

// The connection service as one object, built in main: it owns the settings,
// the local listener, the configuration window and the threads (statistics
// and upkeep, downloads, the server session), and wires them together.
class Service : public QObject
{
    Q_OBJECT
public:
    // Every external program goes through runner (a recording one in tests).
    explicit Service(const DataLayout &layout = DataLayout(),
        std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessRunner>(),
        QObject *parent = nullptr);
    ~Service() override;

    // Takes the local port, prepares the data folder, reads the status file,
    // checks the media in use and starts the threads; the configuration
    // window shows when no usable server address is known. False, with no
    // file touched, when another service already holds the port: the caller
    // then ends the process with status 0.
    bool start();

    ServiceSettings &settings() { return m_settings; }
    ConfigWindow *window() const { return m_window.get(); }
    StatThread *statThread() const { return m_statThread; }
    NotifyListener *listener() const { return m_listener; }
    SessionThread *sessionThread() const { return m_sessionThread; }

private:
    bool listen();
    void prepareFolders() const;
    void startThreads();
    int handleCommand(const QString &cmd, const QString &param);

    const DataLayout m_layout;
    ServiceSettings m_settings;
    TerminalStatus m_status;
    StartGuard m_startGuard;
    bool m_started = false;
    NotifyListener *m_listener = nullptr;
    std::unique_ptr<ConfigWindow> m_window;
    StatThread *m_statThread = nullptr;
    DownloadThread *m_downloadThread = nullptr;
    SessionThread *m_sessionThread = nullptr;
};
