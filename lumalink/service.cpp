#include "service.h"

#include "clock.h"
#include "content/downloadthread.h"
#include "content/mediamarks.h"
#include "dailylog.h"
#include "link/sessionthread.h"
#include "notifylistener.h"
#include "notifyprotocol.h"
#include "stats/statthread.h"
#include "statusfile.h"
#include "systemprobe.h"
#include "ui/configwindow.h"
#include "upkeep/filecleanup.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

static void initResources()
{
    // The resource bundle lives in a static library and must be registered by hand.
    Q_INIT_RESOURCE(lumalink);
}

Service::Service(const DataLayout &layout, std::shared_ptr<CommandRunner> runner, QObject *parent)
    : QObject(parent)
    , m_layout(layout)
    , m_status(layout.statusFile(), m_settings)
    , m_startGuard(layout)
{
    m_settings.runner = std::move(runner);
    m_settings.layout = layout;
    initResources();
}

Service::~Service()
{
    if (m_started)
        m_startGuard.markStable(); // an orderly end is no crash
    if (m_sessionThread) {
        m_sessionThread->stop();
        delete m_sessionThread;
    }
    if (m_statThread) {
        m_statThread->stop();
        delete m_statThread;
    }
    if (m_downloadThread) {
        // stop() also ends a transfer in progress; a thread that still does not
        // end in time is left to end with the process.
        if (m_downloadThread->stop(QDeadlineTimer(3000)))
            delete m_downloadThread;
    }
}

bool Service::start()
{
    m_window = std::make_unique<ConfigWindow>(m_settings, m_status);
    if (!listen())
        return false; // a service already runs: leave before touching any file
    m_started = true;

    prepareFolders();
    // Before any thread reads what the server sent: a service that keeps
    // dying at start sets that aside.
    m_startGuard.begin(Clock::nowMs());
    QTimer::singleShot(StartGuard::STABLE_MS, this, [this] { m_startGuard.markStable(); });
    m_status.loadAtStartup([] { return SystemProbe::macAddress(); });
    m_window->showSettings();
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        m_window->move(
            (desktop.width() - m_window->width()) / 2, (desktop.height() - m_window->height()) / 2);
    }
    startThreads();
    connect(m_window.get(), &ConfigWindow::addressChanged, this, [this] {
        m_sessionThread->restart(); // the next connect uses the new address
    });
    DailyLog::write(QStringLiteral("INFO"), QStringLiteral("Main"),
        QStringLiteral("开启运行终端连接服务lumalink"));
    return true;
}

bool Service::listen()
{
    m_listener = new NotifyListener(false, NotifyListener::Order::ActThenAnswer, this);
    m_listener->setAnsweringHandler(
        [this](const QString &cmd, const QString &param) { return handleCommand(cmd, param); });
    return m_listener->listen(SERVICE_PORT);
}

void Service::prepareFolders() const
{
    // Parents first; made with the file-system API so a home path with blanks
    // works and a fresh home without ~/.local/share is filled in.
    const QStringList dirs = m_layout.folders();
    for (const QString &dir : dirs) {
        if (!QDir(dir).exists())
            QDir().mkpath(dir);
    }
    // The data folder holds the status file, the plays and the logs: the
    // user's alone, also where an older version left it open.
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QFile::setPermissions(m_layout.root(), owner);
    QFile::setPermissions(m_layout.dataDir(), owner);
    StatusFile::makePrivate(m_layout.statusFile());
}

void Service::startThreads()
{
    // The statistics thread keeps the player's statements and the stored
    // files in the database and runs the upkeep; the session thread talks to
    // the signage server and records every file it stores.
    // Before the player is started: a media file of the current or the
    // waiting playbill that no longer matches its name is removed, so it is
    // never shown and is fetched again.
    const std::shared_ptr<MediaMarks> marks = DownloadThread::standardMarks();
    marks->checkAndRemoveDamaged(FileCleanup::referencedMedia());
    m_statThread = new StatThread(m_settings);
    m_statThread->connectToDb();
    m_statThread->start();
    m_downloadThread = new DownloadThread(nullptr, marks);
    m_downloadThread->start();
    m_sessionThread = new SessionThread(m_settings);
    StatThread *stat = m_statThread;
    m_sessionThread->setFileRecorder([stat](const QString &path) { stat->insertFileMgt(path); });
    m_sessionThread->setDownloadThread(m_downloadThread);
    m_sessionThread->start();
}

int Service::handleCommand(const QString &cmd, const QString &param)
{
    // "STATUS" and unknown words are answered without effect. A statement is
    // answered 200 only once it is kept. One that could not be kept now is
    // answered NOT_KEPT_NOW and the player sends it again later; one that is
    // no play record is answered NO_PLAY_RECORD and never taken.
    if (cmd != QLatin1String("SQL"))
        return 200;
    if (!m_statThread)
        return NotifyProtocol::NOT_KEPT_NOW;
    switch (m_statThread->addPlayRecord(param)) {
    case SqlQueue::Result::Queued:
        return 200;
    case SqlQueue::Result::Refused:
        return NotifyProtocol::NO_PLAY_RECORD;
    case SqlQueue::Result::Full:
    case SqlQueue::Result::NotKept:
        break;
    }
    return NotifyProtocol::NOT_KEPT_NOW;
}
