#include "ui/mainwindow.h"
#include "datalayout.h"

#include "clock.h"
#include "content/downloadthread.h"
#include "content/mediamarks.h"
#include "link/sessionthread.h"
#include "miscfunc.h"
#include "notifylistener.h"
#include "notifyprotocol.h"
#include "settings/servicesettings.h"
#include "stats/statthread.h"
#include "statusfile.h"
#include "ui_mainwindow.h"
#include "upkeep/filecleanup.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

static void initResources()
{
    // The resource bundle lives in a static library and must be registered by hand.
    Q_INIT_RESOURCE(lumalink);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_startGuard(DataLayout())
{
    initResources();
    ui->setupUi(this);
    m_primary = initTcpServer();
    if (!m_primary)
        return; // a service already runs: leave before touching any file

    checkDirAndFile();
    // Before any thread reads what the server sent: a service that keeps
    // dying at start sets that aside.
    m_startGuard.begin(Clock::nowMs());
    QTimer::singleShot(StartGuard::STABLE_MS, this, [this] { m_startGuard.markStable(); });
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    readStatus();

    ui->textPort->setValidator(new QIntValidator(1, 65535, this));
    ui->textPort->setMaxLength(5);

    // The statistics thread keeps the player's statements and the stored
    // files in the database and runs the upkeep; the session thread talks to
    // the signage server and records every file it stores.
    // Before the player is started: a media file of the current or the
    // waiting playbill that no longer matches its name is removed, so it is
    // never shown and is fetched again.
    const std::shared_ptr<MediaMarks> marks = DownloadThread::standardMarks();
    marks->checkAndRemoveDamaged(FileCleanup::referencedMedia());
    m_statThread = new StatThread;
    m_statThread->connectToDb();
    m_statThread->start();
    m_downloadThread = new DownloadThread(nullptr, marks);
    m_downloadThread->start();
    m_sessionThread = new SessionThread;
    StatThread *stat = m_statThread;
    m_sessionThread->setFileRecorder([stat](const QString &path) { stat->insertFileMgt(path); });
    m_sessionThread->setDownloadThread(m_downloadThread);
    m_sessionThread->start();

    MiscFunc::writeLog(QStringLiteral("INFO"), QStringLiteral("Main"),
        QStringLiteral("开启运行终端连接服务lumalink"));
}

MainWindow::~MainWindow()
{
    if (m_primary)
        m_startGuard.markStable(); // an orderly end is no crash
    if (m_sessionThread) {
        m_sessionThread->quitThread();
        m_sessionThread->wait();
        delete m_sessionThread;
    }
    if (m_statThread) {
        m_statThread->stop();
        delete m_statThread;
    }
    if (m_downloadThread) {
        // stop() also ends a transfer in progress; a thread that still does not
        // end in time is left to end with the process.
        m_downloadThread->stop();
        if (m_downloadThread->wait(3000))
            delete m_downloadThread;
    }
    delete ui;
}

bool MainWindow::initTcpServer()
{
    m_listener = new NotifyListener(false, NotifyListener::Order::ActThenAnswer, this);
    m_listener->setAnsweringHandler(
        [this](const QString &cmd, const QString &param) { return handleCommand(cmd, param); });
    return m_listener->listen(SERVICE_PORT);
}

int MainWindow::handleCommand(const QString &cmd, const QString &param)
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

void MainWindow::checkDirAndFile()
{
    // Parents first; made with the file-system API so a home path with blanks
    // works and a fresh home without ~/.local/share is filled in.
    const DataLayout layout;
    const QStringList dirs = layout.folders();
    for (const QString &dir : dirs) {
        if (!QDir(dir).exists())
            QDir().mkpath(dir);
    }
    // The data folder holds the status file, the plays and the logs: the
    // user's alone, also where an older version left it open.
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QFile::setPermissions(layout.root(), owner);
    QFile::setPermissions(layout.dataDir(), owner);
    StatusFile::makePrivate(StatusFile::defaultPath());
}

void MainWindow::readStatus()
{
    m_status.loadAtStartup([] { return MiscFunc::getMacAddress(); });
    ui->textIp->setText(gConnIp);
    ui->textPort->setText(gConnPort);
    // The stored password is never shown: the field stays empty, and left
    // empty it keeps the stored one.
    ui->textPass->clear();
    ui->textPass->setEchoMode(QLineEdit::Password);
    ui->textPass->setPlaceholderText(QStringLiteral("留空则不变"));
    ui->textTid->setText(gTerminalId);
    ui->textMac->setText(gMac);
    // Without a usable address the installer has to enter one.
    if (gConnIp.isEmpty() || !TerminalStatus::isUsablePort(gConnPort))
        show();
    else
        hide();
}

void MainWindow::saveTerminalInfo()
{
    m_status.saveTerminalInfo();
}

void MainWindow::on_pushButtonOk_clicked()
{
    // Checked before anything is taken: a port 0 would cut the terminal off.
    const QString ip = ui->textIp->text();
    const QString port = ui->textPort->text();
    if (!ip.isEmpty() && TerminalStatus::isUsablePort(port)) {
        gConnIp = ip;
        gConnPort = port;
        if (!ui->textPass->text().isEmpty())
            gSudoPassword = ui->textPass->text();
        ui->textPass->clear();
        saveTerminalInfo();
        if (m_sessionThread)
            m_sessionThread->resetThread(); // the next connect uses the new address
        hide();
        return;
    }
    QMessageBox::warning(
        this, QStringLiteral("提示"), QStringLiteral("信发IP和端口不能为空!!!"), QMessageBox::Ok);
}
