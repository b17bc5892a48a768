#pragma once

#include "sqlqueue.h"
#include "terminalstatus.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}
class NotifyListener;
class SessionThread;
class DownloadThread;

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

    SqlQueue &sqlQueue() { return m_sqlQueue; }
    NotifyListener *listener() const { return m_listener; }
    SessionThread *sessionThread() const { return m_sessionThread; }

private slots:
    void on_pushButtonOk_clicked();

private:
    void handleCommand(const QString &cmd, const QString &param);

    Ui::MainWindow *ui;
    NotifyListener *m_listener = nullptr;
    TerminalStatus m_status;
    SqlQueue m_sqlQueue;
    DownloadThread *m_downloadThread = nullptr;
    SessionThread *m_sessionThread = nullptr;
    bool m_primary = false;
};
