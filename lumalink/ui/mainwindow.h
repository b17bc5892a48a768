#pragma once

#include "settings/terminalstatus.h"
#include "upkeep/startguard.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}
class NotifyListener;
class SessionThread;
class DownloadThread;
class StatThread;

// The service's configuration window and owner of its local listener. It stays
// hidden once a server address is known.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // False when another service already holds the local port: the caller
    // then ends the process with status 0.
    bool isPrimaryInstance() const { return m_primary; }

    bool initTcpServer();
    static void checkDirAndFile();
    void readStatus();
    void saveTerminalInfo();

    StatThread *statThread() const { return m_statThread; }
    NotifyListener *listener() const { return m_listener; }
    SessionThread *sessionThread() const { return m_sessionThread; }

private slots:
    void on_pushButtonOk_clicked();

private:
    int handleCommand(const QString &cmd, const QString &param);

    Ui::MainWindow *ui;
    NotifyListener *m_listener = nullptr;
    TerminalStatus m_status;
    StatThread *m_statThread = nullptr;
    DownloadThread *m_downloadThread = nullptr;
    SessionThread *m_sessionThread = nullptr;
    bool m_primary = false;
    StartGuard m_startGuard;
};
