#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

// Emits sigTimeout() at once and then after every interval until told to quit.
// The sleep is interruptible: quitThread() ends it at once, and the destructor
// waits for the thread, so an owner may delete it at any time.
class TimerThread : public QThread
{
    Q_OBJECT
public:
    TimerThread();
    ~TimerThread() override;

    void setInterval(int ms); // applies from the next sleep
    int interval() const;
    void quitThread();

signals:
    void sigTimeout();

protected:
    void run() override;

private:
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    bool m_quit = false;
    int m_interval = 1000;
};
