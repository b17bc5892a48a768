#include "webpageview.h"

#include "clock.h"
#include "zonegeometry.h"

#include <QWebView>

WebPageView::WebPageView(ZoneContext &zone)
    : ZoneView(zone)
{ }

WebPageView::~WebPageView()
{
    delete m_webView;
}

void WebPageView::play(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    if (!m_webView) {
        QWidget *zone = m_zone.zoneWidget();
        m_webView = new QWebView(zone);
        m_webView->setGeometry(0, 0, zone->width(), zone->height());
        QObject::connect(
            m_webView, &QWebView::loadFinished, m_webView, [this](bool ok) { loadFinished(ok); });
    }
    m_url = QUrl(ZoneGeometry::webAddress(mtl.url));
    m_refresh.start(mtl.refreshInterval, Clock::nowMs());
    loadNewPage(m_url);
}

void WebPageView::loadNewPage(const QUrl &url)
{
    if (!m_webView)
        return;
    // The load this one replaces must not count as a failure of the new one.
    m_stopping = true;
    m_webView->stop();
    m_stopping = false;
    m_webView->load(url);
}

void WebPageView::loadFinished(bool ok)
{
    if (m_stopping)
        return;
    m_refresh.loadFinished(ok, Clock::nowMs());
    m_zone.rescheduleTick();
}

void WebPageView::setActive(bool active)
{
    if (!m_webView)
        return;
    m_webView->setVisible(active);
    if (!active)
        m_refresh.stop();
}

qint64 WebPageView::dueMs() const
{
    return m_refresh.dueMs();
}

void WebPageView::runDue(qint64 nowMs)
{
    switch (m_refresh.due(nowMs)) {
    case PageRefresh::Action::Reload:
        m_webView->reload();
        break;
    case PageRefresh::Action::Retry:
        loadNewPage(m_url);
        break;
    case PageRefresh::Action::None:
        break;
    }
}

QString WebPageView::failure() const
{
    return m_refresh.showsNothing() ? QStringLiteral("page failed to load") : QString();
}
