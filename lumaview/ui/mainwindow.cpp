#include "ui/mainwindow.h"

#include "dailylog.h"
#include "formats/contentrules.h"
#include "formats/zonegeometry.h"
#include "imagetools.h"
#include "playlog/playlog.h"
#include "ui_mainwindow.h"
#include "zones/zonewindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

static void initResources()
{
    // The resource bundle lives in a static library and must be registered by hand.
    Q_INIT_RESOURCE(lumaview);
}

MainWindow::MainWindow(const DataLayout &layout, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_layout(layout)
{
    initResources();
    ContentXml::registerMetaTypes();
    qRegisterMetaType<ZoneWindow *>("ZoneWindow*");

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
    m_extendedScreen = readExtScreen() != 0;
    parkPointer();
}

MainWindow::~MainWindow()
{
    deleteZones(); // their last plays go into the message file for the next start
    delete ui;
}

void MainWindow::setZoneVolume(double volume)
{
    for (ZoneWindow *zone : qAsConst(m_allZones))
        zone->setVolume(volume);
}

int MainWindow::readExtScreen()
{
    return StatusRecord::read(m_layout.statusFile()).value_or(StatusRecord()).extScreen.value_or(0);
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

    if (m_extendedScreen && x() >= width()) {
        m_xOffset = width();
        move(1080, 0);
    }

    const QSize design(content.Width, content.Height);
    QStringList titles;
    for (int i = 0; i < content.areas.size(); ++i) {
        const ContentXml::TP_AREA &area = content.areas.at(i);
        const QRect rect = ZoneGeometry::areaRect(area, design, m_screenSize, m_xOffset);
        auto *zone = new ZoneWindow(nullptr, m_layout);
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
