#pragma once

#include "zoneview.h"

class QWebView;

// "web" and "ie" materials: the page at "url", reloaded every
// "refreshInterval" ms while it is on screen.
class WebPageView : public ZoneView
{
public:
    explicit WebPageView(ZoneContext &zone);
    ~WebPageView() override;

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    qint64 dueMs() const override;
    void runDue(qint64 nowMs) override;
    void loadNewPage(const QUrl &url);

    int refreshMs() const { return m_refreshMs; }

private:
    QWebView *m_webView = nullptr;
    int m_refreshMs = 0; // 0: never
    qint64 m_nextReloadMs = 0;
};
