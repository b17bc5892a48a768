#include "mediaform.h"

#include "TimerThread.h"
#include "clock.h"
#include "pdfutils.h"
#include "playlogutil.h"
#include "zonegeometry.h"

#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QTimer>
#include <QTouchEvent>
#include <QVideoWidget>
#include <QWebView>

namespace {
const char *const BACK_STYLE
    = "QPushButton{border-image:url(:/images/back.png);}                                     "
      "QPushButton:hover{border-image:url(:/images/back1.png);}                                    "
      " "
      "QPushButton:pressed{border-image:url(:/images/back2.png);}";
const char *const NEXT_STYLE
    = "QPushButton{border-image:url(:/images/next.png);}                                     "
      "QPushButton:hover{border-image:url(:/images/next1.png);}                                    "
      " "
      "QPushButton:pressed{border-image:url(:/images/next2.png);}";

bool isMediaType(const QString &type)
{
    return type == QLatin1String("video") || type == QLatin1String("audio")
        || type == QLatin1String("rtsp");
}

bool isTextType(const QString &type)
{
    return type == QLatin1String("text") || type == QLatin1String("font")
        || type == QLatin1String("clock");
}
} // namespace

MediaForm::MediaForm(MainWindow *mainWindow, QWidget *parent)
    : QWidget(parent)
    , m_mainWindow(mainWindow)
    , m_home(QDir::homePath())
{
    qRegisterMetaType<MediaForm *>("MediaForm*");
    setObjectName(QStringLiteral("MediaForm"));
    setWindowTitle(QStringLiteral("Form"));
    resize(591, 424);
    setWindowFlags(Qt::FramelessWindowHint);
    // The zone wakes only when something is due: the end of a material, a web
    // reload, or a swipe; no polling while a still picture is shown.
    // Made here, not in the initialiser list: the child-added event it sends
    // reaches event(), which must find every member initialised.
    m_tickTimer = new QTimer(this);
    m_tickTimer->setSingleShot(true);
    m_tickTimer->setTimerType(Qt::PreciseTimer);
    connect(m_tickTimer, &QTimer::timeout, this, &MediaForm::checkPlayZoneMtls);
}

MediaForm::~MediaForm()
{
    // Each pointer is cleared before its object goes: deleting a child sends
    // this zone events that event() answers by looking at the text label.
    auto drop = [](auto *&object) {
        auto *doomed = object;
        object = nullptr; // before the delete: the child's removal reaches event()
        delete doomed;
    };
    drop(m_player);
    drop(m_videoWidget);
    drop(m_imageLabel);
    drop(m_webView);
    drop(m_textLabel);
    if (m_pdf)
        m_pdf->ClosePdf();
    drop(m_pdf);
    drop(m_pageCounter);
    drop(m_backButton);
    drop(m_nextButton);
    drop(m_tickTimer);
    drop(m_textTimer); // quits and waits for its thread
}

void MediaForm::initParam(
    const QString &zoneHost, double volume, int x, int y, int width, int height)
{
    m_zoneHost = zoneHost;
    setVolume(volume);
    m_zoneRect = QRect(x, y, width, height);
}

void MediaForm::setZoneCtrl(
    const CONVERTXMLDATA::ZONE_CTRL &zone, PlayLogUtil *playLog, int playType)
{
    m_cycle.setZoneCtrl(zone, playType);
    m_playLog = playLog;
    if (m_cycle.isEmpty())
        m_tickTimer->stop();
    else
        m_tickTimer->start(0);
}

bool MediaForm::isTicking() const
{
    return m_tickTimer->isActive();
}

void MediaForm::scheduleTick()
{
    if (m_cycle.isEmpty())
        return;
    const qint64 now = Clock::nowMs();
    qint64 due = m_cycle.endTime();
    if (m_webRefreshMs > 0)
        due = qMin(due, m_nextReloadMs);
    m_tickTimer->start(static_cast<int>(qBound<qint64>(0, due - now, 24 * 3600 * 1000)));
}

void MediaForm::checkPlayZoneMtls()
{
    const qint64 now = Clock::nowMs();
    if (now < m_cycle.endTime() && m_cycle.navigationRequest() == 0 && m_webRefreshMs > 0
        && now >= m_nextReloadMs) {
        if (m_webView && m_webView->isVisible())
            m_webView->reload();
        m_nextReloadMs = now + m_webRefreshMs;
    }
    if (m_cycle.tick(now))
        playMtl(m_cycle.current());
    flushRecords();
    scheduleTick();
}

void MediaForm::flushRecords()
{
    const auto records = m_cycle.takeRecords();
    for (const ZoneCycle::Record &record : records)
        savePlayDetail(record.mtl, record.times);
}

void MediaForm::saveLastPlayDetail()
{
    m_tickTimer->stop();
    m_cycle.finishEarly(Clock::nowMs());
    flushRecords();
}

void MediaForm::setVolume(double volume)
{
    m_volume = volume;
    if (m_player)
        m_player->setVolume(qRound(volume * 100));
}

void MediaForm::loadNewPage(const QUrl &url)
{
    if (m_webView)
        m_webView->load(url);
}

void MediaForm::ensureImageLabel()
{
    if (m_imageLabel)
        return;
    m_imageLabel = new QLabel(this);
    m_imageLabel->setScaledContents(true);
    m_imageLabel->setGeometry(0, 0, width(), height());
    m_imageLabel->installEventFilter(this);
    m_imageLabel->setAttribute(Qt::WA_AcceptTouchEvents);
}

void MediaForm::playMtl(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    m_currentType = mtl.type;
    m_mtlPath = m_home + QStringLiteral("/.local/share/lumaview/data/mtl/") + mtl.name;
    const QString &type = mtl.type;

    if (isMediaType(type)) {
        if (!m_videoWidget) {
            m_videoWidget = new QVideoWidget(this);
            m_videoWidget->setGeometry(0, 0, width(), height());
            m_videoWidget->setAspectRatioMode(Qt::IgnoreAspectRatio);
            m_videoWidget->installEventFilter(this);
            m_videoWidget->setAttribute(Qt::WA_AcceptTouchEvents);
        }
        if (!m_player) {
            m_player = new QMediaPlayer(this);
            m_player->setVolume(qRound(m_volume * 100));
            m_player->setVideoOutput(m_videoWidget);
        }
        if (type == QLatin1String("rtsp")) {
            m_player->setMedia(QUrl::fromEncoded(mtl.address.toUtf8()));
            setVolume(mtl.volume);
            m_player->play();
        } else if (QFile::exists(m_mtlPath)) {
            m_player->setMedia(QUrl::fromLocalFile(m_mtlPath));
            setVolume(mtl.volume);
            m_player->play();
        } else {
            setVolume(mtl.volume);
        }
    } else if (type == QLatin1String("pic")) {
        ensureImageLabel();
        // Transition effects are not drawn yet: every picture appears at once.
        m_imageLabel->setPixmap(QPixmap(m_mtlPath));
        m_imageLabel->show();
    } else if (type == QLatin1String("web") || type == QLatin1String("ie")) {
        if (!m_webView) {
            m_webView = new QWebView(this);
            m_webView->setGeometry(0, 0, width(), height());
        }
        m_webRefreshMs = mtl.refreshInterval;
        m_nextReloadMs = Clock::nowMs() + m_webRefreshMs;
        loadNewPage(QUrl(ZoneGeometry::webAddress(mtl.url)));
    } else if (isTextType(type)) {
        if (!m_textLabel) {
            m_textLabel = new QLabel(this);
            m_textLabel->setStyleSheet(QStringLiteral("background:transparent"));
            m_textLabel->setAttribute(Qt::WA_TranslucentBackground);
            m_textLabel->setGeometry(0, 0, width(), height());
        }
        if (!m_textTimer) {
            m_textTimer = new TimerThread;
            connect(m_textTimer, &TimerThread::sigTimeout, this, &MediaForm::sltShowText);
        }
        // Still text for now; scrolling and clocks are drawn by the text zone.
        m_textLabel->setText(mtl.caption);
    } else if (type == QLatin1String("pdf")) {
        ensureImageLabel();
        if (!m_pdf)
            m_pdf = new PdfUtils;
        else if (m_openPdfPath != m_mtlPath)
            m_pdf->ClosePdf();
        if (m_openPdfPath != m_mtlPath) {
            if (m_pdf->OpenPdf(m_mtlPath)) {
                m_openPdfPath = m_mtlPath;
                m_pageIndex = 0;
                m_pageCount = m_pdf->getNumPages();
                const QImage first = m_pdf->getPdfImage(0);
                m_imageLabel->setGeometry(ZoneGeometry::pdfFit(size(), first.size()));
                m_imageLabel->setPixmap(QPixmap::fromImage(first));
                if (!m_pageCounter)
                    createPageControls();
                showPageInfo();
            } else {
                m_openPdfPath.clear();
            }
        }
    }
    showHidePlay(m_currentType);
}

void MediaForm::showHidePlay(const QString &type)
{
    if (m_player && !isMediaType(type))
        m_player->stop();
    if (m_videoWidget)
        m_videoWidget->setVisible(isMediaType(type));
    if (m_imageLabel)
        m_imageLabel->setVisible(type == QLatin1String("pic") || type == QLatin1String("pdf"));
    if (m_webView) {
        m_webView->setVisible(type == QLatin1String("web") || type == QLatin1String("ie"));
        if (m_webView->isHidden())
            m_webRefreshMs = 0;
    }
    if (m_textLabel)
        m_textLabel->setVisible(isTextType(type));
    const bool pdf = type == QLatin1String("pdf");
    if (m_pageCounter)
        m_pageCounter->setVisible(pdf);
    if (m_backButton)
        m_backButton->setVisible(pdf);
    if (m_nextButton)
        m_nextButton->setVisible(pdf);
    if (m_textTimer && !isTextType(type))
        m_textTimer->setInterval(86400000);
}

void MediaForm::createPageControls()
{
    const int W = width();
    const int H = height();
    m_backButton = new QPushButton(this);
    m_backButton->setGeometry(0, H - 40, 40, 40);
    m_backButton->setStyleSheet(QString::fromLatin1(BACK_STYLE));
    m_pageCounter = new QLabel(this);
    m_pageCounter->setGeometry((W - 100) / 2, H - 40, 100, 40);
    m_pageCounter->setAlignment(Qt::AlignCenter);
    QFont font = m_pageCounter->font();
    font.setPointSize(14);
    m_pageCounter->setFont(font);
    m_nextButton = new QPushButton(this);
    m_nextButton->setGeometry(W - 40, H - 40, 40, 40);
    m_nextButton->setStyleSheet(QString::fromLatin1(NEXT_STYLE));
    connect(m_backButton, &QPushButton::clicked, this, &MediaForm::sltBackPage);
    connect(m_nextButton, &QPushButton::clicked, this, &MediaForm::sltNextPage);
    for (QWidget *control : {static_cast<QWidget *>(m_backButton),
             static_cast<QWidget *>(m_pageCounter), static_cast<QWidget *>(m_nextButton)}) {
        control->raise();
        control->show();
    }
}

QString MediaForm::pageText() const
{
    return m_pageCounter ? m_pageCounter->text() : QString();
}

void MediaForm::showPageInfo()
{
    if (m_pageCounter)
        m_pageCounter->setText(QStringLiteral("%1 / %2").arg(m_pageIndex + 1).arg(m_pageCount));
}

void MediaForm::showPage(int index)
{
    if (!m_pdf || m_pageCount <= 0)
        return;
    if (index >= m_pageCount)
        index = 0;
    if (index < 0)
        index = m_pageCount - 1;
    m_pageIndex = index;
    if (m_imageLabel)
        m_imageLabel->setPixmap(QPixmap::fromImage(m_pdf->getPdfImage(index)));
    showPageInfo();
}

void MediaForm::sltNextPage()
{
    showPage(m_pageIndex + 1);
}

void MediaForm::sltBackPage()
{
    showPage(m_pageIndex - 1);
}

void MediaForm::sltShowText()
{ }

QString MediaForm::processMtlName(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    bool fileName = false;
    const QString name = ZoneCycle::playName(mtl, &fileName);
    if (fileName && m_playLog)
        m_playLog->updateFileAccessTime(name);
    return name;
}

void MediaForm::savePlayDetail(const CONVERTXMLDATA::ZONE_MTL &mtl, int times)
{
    if (!m_playLog)
        return;
    m_playLog->insertPlayDetail(processMtlName(mtl), m_cycle.playType(), times, mtl.len, mtl.type);
}

void MediaForm::processPicTouch(QPoint press, QPoint release)
{
    const int direction = ZoneGeometry::swipeDirection(press, release, height());
    if (direction == 0)
        return;
    if (m_currentType == QLatin1String("pdf")) {
        showPage(m_pageIndex + direction);
    } else if (m_currentType == QLatin1String("pic") || m_currentType == QLatin1String("video")) {
        m_cycle.requestNavigation(direction);
        m_tickTimer->start(0);
    }
}

bool MediaForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_imageLabel || watched == m_videoWidget) {
        switch (event->type()) {
        case QEvent::TouchBegin: {
            const auto points = static_cast<QTouchEvent *>(event)->touchPoints();
            if (!points.isEmpty())
                m_press = points.first().screenPos().toPoint();
            break;
        }
        case QEvent::TouchEnd: {
            const auto points = static_cast<QTouchEvent *>(event)->touchPoints();
            if (!points.isEmpty())
                processPicTouch(m_press, points.first().screenPos().toPoint());
            break;
        }
        case QEvent::MouseButtonPress:
            m_press = QCursor::pos();
            break;
        case QEvent::MouseButtonRelease:
            processPicTouch(m_press, QCursor::pos());
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool MediaForm::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool touch = type == QEvent::TouchBegin || type == QEvent::TouchUpdate
        || type == QEvent::TouchEnd || type == QEvent::PolishRequest || type == QEvent::Polish;
    if (m_textLabel && m_textLabel->isVisible()) {
        if (touch || type == QEvent::Enter || type == QEvent::Leave || type == QEvent::Move
            || type == QEvent::DragEnter || type == QEvent::DragLeave || type == QEvent::Drop) {
            // A touch on text must not move the zone: ask the window to put it back.
            emit relocateMediaform(QVariant::fromValue(this));
            event->accept();
            return true;
        }
    } else if (touch) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}
