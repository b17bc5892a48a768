#pragma once

#include "datalayout.h"

#include <QObject>
#include <QString>

#include <memory>

class MainWindow;
class NotifyListener;
class PlayLog;
class PlaybillThread;
class SendThread;

// The player's composition root: owns the local listener (the service's
// commands), the play log, the scheduler thread, the play-log sender and the
// full-screen window, and wires them. main() builds one.
class Player : public QObject
{
    Q_OBJECT
public:
    explicit Player(const DataLayout &layout = DataLayout(), QObject *parent = nullptr);
    ~Player() override;

    // Takes the player's port, then builds the window and starts the threads.
    // False when another player holds the port: nothing is shown, and the
    // caller ends the process with status 0.
    bool start();

    // A command of the service (RELOAD, EXIT, VOLUME, STATUS).
    void handleCommand(const QString &cmd, const QString &param);
    // EXIT: the zones record the plays they cut short, then the program ends.
    void exit();

    MainWindow *window() const { return m_window.get(); }
    PlaybillThread *scheduler() const { return m_scheduler.get(); }
    PlayLog *playLog() const { return m_playLog.get(); }

private:
    DataLayout m_layout;
    // Declared in the order they may go last to first: the threads end
    // before the window records its zones' plays into the log.
    std::unique_ptr<NotifyListener> m_listener;
    std::unique_ptr<PlayLog> m_playLog;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<PlaybillThread> m_scheduler;
    std::unique_ptr<SendThread> m_sender;
};
