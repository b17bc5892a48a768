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
    }
    m_refreshMs = mtl.refreshInterval;
    m_nextReloadMs = Clock::nowMs() + m_refreshMs;
    loadNewPage(QUrl(ZoneGeometry::webAddress(mtl.url)));
}

void WebPageView::loadNewPage(const QUrl &url)
{
    if (m_webView)
        m_webView->load(url);
}

void WebPageView::setActive(bool active)
{
    if (!m_webView)
        return;
    m_webView->setVisible(active);
    if (!active)
        m_refreshMs = 0;
}

qint64 WebPageView::dueMs() const
{
    return m_refreshMs > 0 ? m_nextReloadMs : -1;
}

void WebPageView::runDue(qint64 nowMs)
{
    if (m_refreshMs <= 0 || nowMs < m_nextReloadMs)
        return;
    if (m_webView && m_webView->isVisible())
        m_webView->reload();
    m_nextReloadMs = nowMs + m_refreshMs;
}
