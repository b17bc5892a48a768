#include "zones/zonewindow.h"
#include "datalayout.h"
#include "zones/viewfactory.h"

#include "clock.h"
#include "dailylog.h"
#include "formats/zonegeometry.h"
#include "materials/pdfview.h"
#include "materials/webpageview.h"
#include "playlog/playlog.h"
#include "volume.h"

#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QTimer>
#include <QTouchEvent>

using ContentXml::MtlKind;

namespace {
// The interval that idles the text timer while no text or clock is shown.
constexpr int TEXT_TIMER_IDLE_MS = 86400000;
} // namespace

ZoneWindow::ZoneWindow(QWidget *parent, const DataLayout &layout)
    : QWidget(parent)
    , m_layout(layout)
{
    qRegisterMetaType<ZoneWindow *>("ZoneWindow*");
    setObjectName(QStringLiteral("ZoneWindow"));
    setWindowTitle(QStringLiteral("Form"));
    resize(591, 424);
    setWindowFlags(Qt::FramelessWindowHint);
    // The zone wakes only when something is due: the end of a material, a
    // view's own work (a web reload, a transition step), or a swipe; no
    // polling while a still picture is shown.
    // Made here, not in the initialiser list: the child-added event it sends
    // reaches event(), which must find every member initialised.
    m_tickTimer = new QTimer(this);
    m_tickTimer->setSingleShot(true);
    m_tickTimer->setTimerType(Qt::PreciseTimer);
    connect(m_tickTimer, &QTimer::timeout, this, &ZoneWindow::checkPlayZoneMtls);
}

ZoneWindow::~ZoneWindow()
{
    // Deleting a view's widgets sends this zone events that event() answers
    // by asking the view on screen: forget it first.
    m_view = nullptr;
    while (!m_views.empty())
        m_views.erase(m_views.begin());
    delete m_tickTimer;
    m_tickTimer = nullptr;
    delete m_textTimer;
    m_textTimer = nullptr;
}

void ZoneWindow::initParam(
    const QString &zoneHost, double volume, int x, int y, int width, int height)
{
    m_zoneHost = zoneHost;
    setVolume(volume);
    m_zoneRect = QRect(x, y, width, height);
}

void ZoneWindow::setZoneCtrl(const ContentXml::ZONE_CTRL &zone, PlayLog *playLog, int playType)
{
    // New contents for a zone already playing (a new playbill with the same
    // template, or a reload): the play they cut short is recorded first.
    if (m_playLog)
        saveLastPlayDetail();
    m_cycle.setZoneCtrl(zone, playType);
    m_playLog = playLog;
    if (m_cycle.isEmpty())
        m_tickTimer->stop();
    else
        m_tickTimer->start(0);
}

bool ZoneWindow::isTicking() const
{
    return m_tickTimer->isActive();
}

ZoneView *ZoneWindow::view(MtlKind kind) const
{
    const auto it = m_views.find(ZoneViews::viewKind(kind));
    return it == m_views.end() ? nullptr : it->second.get();
}

PdfView *ZoneWindow::pdfView() const
{
    return static_cast<PdfView *>(view(MtlKind::Pdf));
}

QString ZoneWindow::mtlFolder() const
{
    return m_layout.mediaDir();
}

void ZoneWindow::scheduleTick()
{
    if (m_cycle.isEmpty())
        return;
    const qint64 now = Clock::nowMs();
    qint64 due = m_cycle.endTime();
    for (const auto &entry : m_views) {
        const qint64 viewDue = entry.second->dueMs();
        if (viewDue >= 0)
            due = qMin(due, viewDue);
    }
    m_tickTimer->start(static_cast<int>(qBound<qint64>(0, due - now, 24 * 3600 * 1000)));
}

QString ZoneWindow::currentFailure() const
{
    return m_view ? m_view->failure() : QString();
}

void ZoneWindow::checkPlayZoneMtls()
{
    const qint64 now = Clock::nowMs();
    // Asked before the list moves on: a record made now is of this material.
    const QString failure = currentFailure();
    if (now < m_cycle.endTime() && m_cycle.navigationRequest() == 0) {
        for (const auto &entry : m_views) {
            const qint64 due = entry.second->dueMs();
            if (due >= 0 && now >= due)
                entry.second->runDue(now);
        }
    }
    if (m_cycle.tick(now)) {
        if (m_cycle.lastAdvance() == ZoneCycle::Advance::Next) {
            for (const auto &entry : m_views)
                entry.second->slotEnded(now);
        }
        playMtl(m_cycle.current());
    }
    flushRecords(failure);
    scheduleTick();
}

void ZoneWindow::flushRecords(const QString &failure)
{
    const auto records = m_cycle.takeRecords();
    for (const ZoneCycle::Record &record : records) {
        const QString name = ZoneCycle::playName(record.mtl);
        if (failure.isEmpty()) {
            m_failedMtls.remove(name);
            savePlayDetail(record.mtl, record.times);
            continue;
        }
        // Only what was shown is a play. Said once, not on every round.
        if (m_failedMtls.contains(name))
            continue;
        m_failedMtls.insert(name);
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("ZoneWindow"),
            QStringLiteral("zone %1: %2 %3 not shown, not recorded: %4")
                .arg(m_cycle.zoneName(), record.mtl.type, name, failure));
    }
}

void ZoneWindow::saveLastPlayDetail()
{
    m_tickTimer->stop();
    const QString failure = currentFailure();
    m_cycle.finishEarly(Clock::nowMs());
    flushRecords(failure);
}

void ZoneWindow::setVolume(double volume)
{
    volume = Volume::bounded(volume);
    m_volume = volume;
    if (ZoneView *media = view(MtlKind::Video))
        media->setVolume(volume);
}

void ZoneWindow::runTextTimer(int intervalMs)
{
    m_textTimerClaimed = true;
    setTextTimerInterval(intervalMs);
}

void ZoneWindow::setTextTimerInterval(int intervalMs)
{
    if (!m_textTimer) {
        m_textTimer = new QTimer(this);
        m_textTimer->setTimerType(Qt::PreciseTimer);
        connect(m_textTimer, &QTimer::timeout, this, &ZoneWindow::sltShowText);
    }
    if (m_textTimer->isActive() && m_textTimer->interval() == intervalMs)
        return;
    // A new interval shows the text at once and runs from there, so a zone
    // whose timer idled for a day moves again as soon as it asks to.
    m_textTimer->start(qMax(intervalMs, 0));
    QMetaObject::invokeMethod(this, &ZoneWindow::sltShowText, Qt::QueuedConnection);
}

void ZoneWindow::playMtl(const ContentXml::ZONE_MTL &mtl)
{
    m_currentType = mtl.type;
    const MtlKind kind = ZoneViews::viewKind(mtl.kind);
    auto it = m_views.find(kind);
    if (it == m_views.end()) {
        if (auto made = ZoneViews::createZoneView(kind, *this))
            it = m_views.emplace(kind, std::move(made)).first;
    }
    m_view = it == m_views.end() ? nullptr : it->second.get();
    m_textTimerClaimed = false;
    if (m_view)
        m_view->play(mtl);
    showHidePlay();
}

void ZoneWindow::showHidePlay()
{
    for (const auto &entry : m_views)
        entry.second->setActive(entry.second.get() == m_view);
    if (m_textTimer && !m_textTimerClaimed)
        setTextTimerInterval(TEXT_TIMER_IDLE_MS);
}

int ZoneWindow::pageIndex() const
{
    const PdfView *pdf = pdfView();
    return pdf ? pdf->pageIndex() : 0;
}

int ZoneWindow::pageCount() const
{
    const PdfView *pdf = pdfView();
    return pdf ? pdf->pageCount() : 0;
}

QString ZoneWindow::pageText() const
{
    const PdfView *pdf = pdfView();
    return pdf ? pdf->pageText() : QString();
}

int ZoneWindow::webRefresh() const
{
    const auto *web = static_cast<WebPageView *>(view(MtlKind::Web));
    return web ? web->refreshMs() : 0;
}

void ZoneWindow::sltNextPage()
{
    if (PdfView *pdf = pdfView())
        pdf->sltNextPage();
}

void ZoneWindow::sltBackPage()
{
    if (PdfView *pdf = pdfView())
        pdf->sltBackPage();
}

void ZoneWindow::sltShowText()
{
    if (m_view)
        m_view->runningControl();
}

QString ZoneWindow::playNameNotingUse(const ContentXml::ZONE_MTL &mtl)
{
    bool fileName = false;
    const QString name = ZoneCycle::playName(mtl, &fileName);
    if (fileName && m_playLog)
        m_playLog->updateFileAccessTime(name);
    return name;
}

void ZoneWindow::savePlayDetail(const ContentXml::ZONE_MTL &mtl, int times)
{
    if (!m_playLog)
        return;
    m_playLog->insertPlayDetail(
        playNameNotingUse(mtl), m_cycle.playType(), times, mtl.len, mtl.type);
}

void ZoneWindow::processPicTouch(QPoint press, QPoint release)
{
    const int direction = ZoneGeometry::swipeDirection(press, release, height());
    if (direction == 0 || !m_view)
        return;
    if (m_view->swipe(direction)) {
        m_cycle.requestNavigation(direction);
        m_tickTimer->start(0);
    }
}

bool ZoneWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Only the views' swipe surfaces are filtered.
    if (watched != this) {
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

bool ZoneWindow::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool touch = type == QEvent::TouchBegin || type == QEvent::TouchUpdate
        || type == QEvent::TouchEnd || type == QEvent::PolishRequest || type == QEvent::Polish;
    if (m_view && m_view->holdsZonePosition()) {
        if (touch || type == QEvent::Enter || type == QEvent::Leave || type == QEvent::Move
            || type == QEvent::DragEnter || type == QEvent::DragLeave || type == QEvent::Drop) {
            // A touch on text must not move the zone: ask the window to put it back.
            emit relocateRequested(QVariant::fromValue(this));
            event->accept();
            return true;
        }
    } else if (touch) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}
