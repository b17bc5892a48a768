#include "materials/webpageview.h"

#include "clock.h"
#include "formats/contentrules.h"
#include "formats/zonegeometry.h"
#include "throttledlog.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QWebSettings>
#include <QWebView>

namespace {
// Every load of a page on screen (its frames, pictures, scripts, and where it
// goes next) passes here: local files outside the content folder and the
// player's own resources are answered with an error instead.
class PageAccess : public QNetworkAccessManager
{
public:
    PageAccess(const QString &contentFolder, QObject *parent)
        : QNetworkAccessManager(parent)
        , m_contentFolder(contentFolder)
    { }

protected:
    QNetworkReply *createRequest(
        Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override
    {
        if (ContentRules::isPageResourceAllowed(request.url(), m_contentFolder))
            return QNetworkAccessManager::createRequest(op, request, outgoingData);
        m_refusals.note(QStringLiteral("Refuse a page's load of %1: outside the content folder")
                            .arg(request.url().toString()));
        // A request without an address fails at once with an unknown protocol.
        return QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl()), nullptr);
    }

private:
    QString m_contentFolder;
    ThrottledLog m_refusals {QStringLiteral("WARN"), QStringLiteral("WebPage")};
};
} // namespace

WebPageView::WebPageView(ZoneContext &zone)
    : ZoneView(zone)
{ }

WebPageView::~WebPageView()
{
    delete m_webView;
}

void WebPageView::play(const ContentXml::ZONE_MTL &mtl)
{
    if (!m_webView) {
        QWidget *zone = m_zone.zoneWidget();
        m_webView = new QWebView(zone);
        m_webView->setGeometry(0, 0, zone->width(), zone->height());
        // A local page's scripts get no other local file.
        m_webView->settings()->setAttribute(QWebSettings::LocalContentCanAccessFileUrls, false);
        m_webView->page()->setNetworkAccessManager(
            new PageAccess(m_zone.mtlFolder(), m_webView->page()));
        QObject::connect(
            m_webView, &QWebView::loadFinished, m_webView, [this](bool ok) { loadFinished(ok); });
    }
    m_url = QUrl(ZoneGeometry::webAddress(mtl.url));
    m_refused = !ContentRules::isPageAllowed(m_url, m_zone.mtlFolder());
    if (m_refused) {
        // Nothing loads; the view stays hidden for the slot.
        stopLoading();
        m_refresh.stop();
        return;
    }
    m_refresh.start(mtl.refreshInterval, Clock::nowMs());
    loadNewPage(m_url);
}

void WebPageView::stopLoading()
{
    // The load cut here must not count as a failure of what comes next.
    m_stopping = true;
    m_webView->stop();
    m_stopping = false;
}

void WebPageView::loadNewPage(const QUrl &url)
{
    if (!m_webView)
        return;
    stopLoading();
    m_webView->load(url);
}

void WebPageView::loadFinished(bool ok)
{
    if (m_stopping || m_refused)
        return;
    m_refresh.loadFinished(ok, Clock::nowMs());
    m_zone.rescheduleTick();
}

void WebPageView::setActive(bool active)
{
    if (!m_webView)
        return;
    m_webView->setVisible(active && !m_refused);
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
    if (m_refused)
        return QStringLiteral("address refused");
    return m_refresh.showsNothing() ? QStringLiteral("page failed to load") : QString();
}
