#include "player.h"

#include "dailylog.h"
#include "eventwait.h"
#include "notifylistener.h"
#include "playlog/playlog.h"
#include "playlog/sendthread.h"
#include "schedule/playbillthread.h"
#include "ui/mainwindow.h"
#include "version.h"

#include <QCoreApplication>

Player::Player(const DataLayout &layout, QObject *parent)
    : QObject(parent)
    , m_layout(layout)
{ }

// The members go in reverse order: the threads stop, then the window records
// its zones' last plays into the log, then the log and the port go.
Player::~Player() = default;

bool Player::start()
{
    m_listener = std::make_unique<NotifyListener>(true, NotifyListener::Order::AnswerThenAct);
    m_listener->setHandler(
        [this](const QString &cmd, const QString &param) { handleCommand(cmd, param); });
    if (!m_listener->listen(PLAYER_PORT))
        return false; // another player runs: no window

    m_playLog = std::make_unique<PlayLog>(nullptr, m_layout);
    m_window = std::make_unique<MainWindow>(m_layout);
    m_window->setPlayLog(m_playLog.get());
    m_scheduler = std::make_unique<PlaybillThread>(nullptr, m_layout);
    connect(m_scheduler.get(), &PlaybillThread::sigCallbackStatus, m_window.get(),
        &MainWindow::sltCallbackStatus);
    connect(m_scheduler.get(), &PlaybillThread::sigLoadTemplate, m_window.get(),
        &MainWindow::sltLoadTemplate);
    connect(m_scheduler.get(), &PlaybillThread::sigTemplateZoneCtrl, m_window.get(),
        &MainWindow::sltTemplateZoneCtrl);
    m_scheduler->init(m_playLog.get());
    m_scheduler->start();
    m_sender = std::make_unique<SendThread>(nullptr, m_layout);
    m_sender->init(m_playLog.get());
    m_sender->start();

    DailyLog::write(QStringLiteral("INFO"), QStringLiteral("Main"),
        QStringLiteral("开启运行终端播放器lumaview"));
    return true;
}

void Player::handleCommand(const QString &cmd, const QString &param)
{
    if (cmd != QLatin1String("STATUS"))
        DailyLog::write(QStringLiteral("INFO"), QStringLiteral("MainWindow"),
            QStringLiteral("Socket Received command: ") + cmd + QStringLiteral(", param: ")
                + param);
    if (cmd == QLatin1String("RELOAD")) {
        if (m_scheduler)
            m_scheduler->reloadPlay();
    } else if (cmd == QLatin1String("EXIT")) {
        exit();
    } else if (cmd == QLatin1String("VOLUME")) {
        if (m_window)
            m_window->setZoneVolume(param.toDouble());
    } else if (cmd == QLatin1String("STATUS")) {
        if (param.size() <= 1 && m_scheduler)
            m_scheduler->readStatus();
    }
}

void Player::exit()
{
    if (m_scheduler)
        m_scheduler->stop();
    if (m_window)
        m_window->deleteZones();
    // Let the answer to EXIT reach its sender first.
    EventWait::sleep(200);
    QCoreApplication::exit(0);
}
