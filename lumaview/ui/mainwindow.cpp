#include "ui/mainwindow.h"

#include "dailylog.h"
#include "eventwait.h"
#include "formats/contentrules.h"
#include "formats/zonegeometry.h"
#include "imagetools.h"
#include "notifylistener.h"
#include "playlog/playlog.h"
#include "playlog/sendthread.h"
#include "schedule/playbillthread.h"
#include "statusfile.h"
#include "ui_mainwindow.h"
#include "version.h"
#include "zones/zonewindow.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

bool showExtScreen = false;
int xOffset = 0;

static void initResources()
{
    // The resource bundle lives in a static library and must be registered by hand.
    Q_INIT_RESOURCE(lumaview);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    initResources();
    ContentXml::registerMetaTypes();
    qRegisterMetaType<ZoneWindow *>("ZoneWindow*");
    m_primary = initTcpServer();
    if (!m_primary)
        return; // another player runs: no window

    ui->setupUi(this);
    setWindowState(Qt::WindowFullScreen);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    // Without a window manager (a kiosk started straight into X) nothing
    // honours the full-screen state: the window takes the screen itself.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        m_screenSize = screen->size();
        setGeometry(screen->geometry());
    }
    showFullScreen();
    ui->statusBox->move(m_screenSize.width() - ui->statusBox->width() - 50,
        m_screenSize.height() - ui->statusBox->height() - 50);
    ui->labelBackground->hide();
    showExtScreen = readExtScreen() != 0;

    m_scheduler = new PlaybillThread;
    connect(m_scheduler, &PlaybillThread::sigCallbackStatus, this, &MainWindow::sltCallbackStatus);
    connect(m_scheduler, &PlaybillThread::sigLoadTemplate, this, &MainWindow::sltLoadTemplate);
    connect(
        m_scheduler, &PlaybillThread::sigTemplateZoneCtrl, this, &MainWindow::sltTemplateZoneCtrl);
    m_playLog = new PlayLog(this);
    m_scheduler->init(m_playLog);
    m_scheduler->start();
    m_sender = new SendThread(this);
    m_sender->init(m_playLog);
    m_sender->start();

    DailyLog::write(QStringLiteral("INFO"), QStringLiteral("Main"),
        QStringLiteral("开启运行终端播放器lumaview"));
    parkPointer();
}

MainWindow::~MainWindow()
{
    if (m_sender) {
        m_sender->stop();
        delete m_sender;
    }
    if (m_scheduler) {
        m_scheduler->stop();
        delete m_scheduler;
    }
    deleteZones(); // their last plays go into the message file for the next start
    delete m_playLog;
    delete ui;
}

bool MainWindow::initTcpServer()
{
    m_listener = new NotifyListener(true, NotifyListener::Order::AnswerThenAct, this);
    m_listener->setHandler(
        [this](const QString &cmd, const QString &param) { handleCommand(cmd, param); });
    return m_listener->listen(PLAYER_PORT);
}

void MainWindow::handleCommand(const QString &cmd, const QString &param)
{
    if (cmd != QLatin1String("STATUS"))
        DailyLog::write(QStringLiteral("INFO"), QStringLiteral("MainWindow"),
            QStringLiteral("Socket Received command: ") + cmd + QStringLiteral(", param: ")
                + param);
    if (cmd == QLatin1String("RELOAD")) {
        if (m_scheduler)
            m_scheduler->reloadPlay();
    } else if (cmd == QLatin1String("EXIT")) {
        exitApp();
    } else if (cmd == QLatin1String("VOLUME")) {
        const double volume = param.toDouble();
        for (ZoneWindow *zone : qAsConst(m_allZones))
            zone->setVolume(volume);
    } else if (cmd == QLatin1String("STATUS")) {
        if (param.size() <= 1 && m_scheduler)
            m_scheduler->readStatus();
    }
}

int MainWindow::readExtScreen()
{
    return StatusRecord::read(StatusFile::defaultPath())
        .value_or(StatusRecord())
        .extScreen.value_or(0);
}

void MainWindow::parkPointer()
{
    QCursor::setPos(m_screenSize.width(), 0);
}

void MainWindow::zIndexForm()
{
    for (ZoneWindow *zone : qAsConst(m_zonesByStacking))
        zone->activateWindow();
    // activateWindow alone does not reorder windows on every platform.
    for (ZoneWindow *zone : qAsConst(m_zonesByStacking))
        zone->raise();
    parkPointer();
}

void MainWindow::on_labelBackground_clicked()
{
    zIndexForm();
}

void MainWindow::deleteZones()
{
    // A play cut here counts as a play cut anywhere else.
    for (ZoneWindow *zone : qAsConst(m_allZones))
        zone->saveLastPlayDetail();
    for (ZoneWindow *zone : qAsConst(m_allZones))
        delete zone;
    m_allZones.clear();
    m_zonesByName.clear();
    m_zonesByStacking.clear();
}

void MainWindow::exitApp()
{
    if (m_scheduler)
        m_scheduler->stop();
    deleteZones();
    // Let the answer to EXIT reach its sender first.
    EventWait::sleep(200);
    QCoreApplication::exit(0);
}

void MainWindow::sltCallbackStatus(StatusRecord status)
{
    if (status.terminalId) {
        m_terminalId = *status.terminalId;
        ui->labelTid->setText(m_terminalId);
    }
    if (status.mac)
        ui->labelMac->setText(*status.mac);
    if (status.connHost)
        ui->labelServer->setText(*status.connHost);
    if (status.status) {
        static const QMap<int, QString> texts {{0, QStringLiteral("未连接")},
            {1, QStringLiteral("已连接")}, {4, QStringLiteral("已授权")},
            {5, QStringLiteral("未授权")}, {6, QStringLiteral("ID冲突")}};
        ui->labelStatus->setText(texts.value(*status.status, QStringLiteral("未知状态")));
    }
    if (status.rtdaHost)
        m_zoneHost = *status.rtdaHost;
    if (status.volume)
        m_volume = *status.volume;
}

void MainWindow::sltLoadTemplate(QVariant variant)
{
    const auto content = variant.value<ContentXml::TP_CONTENT>();
    if (content.name == m_currentTemplate)
        return;
    if (!m_currentTemplate.isEmpty())
        deleteZones();
    m_currentTemplate = content.name;
    ui->statusBox->hide();

    QLabel *background = ui->labelBackground;
    background->setFixedSize(m_screenSize);
    background->setStyleSheet(QStringLiteral("QLabel{background:")
        + ContentRules::styleColor(content.BackgroundColor) + QStringLiteral(";}"));
    if (content.Background.size() > 100) {
        const QPixmap image = ImageTools::fromBase64(content.Background);
        background->setScaledContents(true);
        background->setPixmap(image.isNull()
                ? QPixmap()
                : image.scaled(m_screenSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    background->show();
    setFixedSize(m_screenSize);

    if (showExtScreen && x() >= width()) {
        xOffset = width();
        move(1080, 0);
    }

    const QSize design(content.Width, content.Height);
    QStringList titles;
    for (int i = 0; i < content.areas.size(); ++i) {
        const ContentXml::TP_AREA &area = content.areas.at(i);
        const QRect rect = ZoneGeometry::areaRect(area, design, m_screenSize, xOffset);
        auto *zone = new ZoneWindow(nullptr);
        zone->initParam(m_zoneHost, m_volume, rect.x(), rect.y(), rect.width(), rect.height());
        zone->setGeometry(rect);
        connect(zone, &ZoneWindow::relocateRequested, this, &MainWindow::relocateZone);
        zone->show();
        m_allZones.append(zone);
        m_zonesByStacking.insert(ZoneGeometry::stackingKey(area, i), zone);
        m_zonesByName.insert(area.Title, zone);
        titles << area.Title;
    }
    zIndexForm();
    // What is on screen, for whoever reads the log on a terminal.
    DailyLog::write(QStringLiteral("INFO"), QStringLiteral("MainWindow"),
        QStringLiteral("Show template %1, areas: %2")
            .arg(content.name, titles.join(QStringLiteral(", "))));
}

void MainWindow::sltTemplateZoneCtrl(QVariant variant, int playType)
{
    m_zoneCtrl = variant.value<ContentXml::TP_ZONE_CTRL>();
    for (const ContentXml::ZONE_CTRL &zone : qAsConst(m_zoneCtrl.zones)) {
        if (ZoneWindow *form = m_zonesByName.value(zone.name))
            form->setZoneCtrl(zone, m_playLog, playType);
    }
}

void MainWindow::relocateZone(QVariant variant)
{
    if (ZoneWindow *zone = variant.value<ZoneWindow *>())
        zone->setGeometry(zone->zoneRect());
}
