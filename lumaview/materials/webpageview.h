#pragma once

#include "materials/pagerefresh.h"
#include "materials/zoneview.h"

#include <QUrl>

class QWebView;

// "web" and "ie" materials: the page at "url", loaded again every
// "refreshInterval" ms (at least every 10 s) while it is on screen, and
// retried when it failed to load. Only pages ContentRules allows are loaded,
// and what they load in turn is held to the same content folder.
class WebPageView : public ZoneView
{
public:
    explicit WebPageView(ZoneContext &zone);
    ~WebPageView() override;

    void play(const ContentXml::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    qint64 dueMs() const override;
    void runDue(qint64 nowMs) override;
    QString failure() const override;
    void loadNewPage(const QUrl &url);

    int refreshMs() const { return int(m_refresh.intervalMs()); }
    QWebView *webView() const { return m_webView; }

private:
    void loadFinished(bool ok);
    void stopLoading();

    QWebView *m_webView = nullptr;
    QUrl m_url;
    PageRefresh m_refresh;
    bool m_stopping = false; // a load being cut reports nothing
    bool m_refused = false; // the address of the material playing was refused
};
