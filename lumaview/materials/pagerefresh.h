#pragma once

#include <QtGlobal>

// When a web page on screen is loaded again. The material's reload interval
// is in milliseconds; 0 (or less) never reloads a page that loaded, and any
// other value is raised to at least MIN_INTERVAL_MS, so a page always gets
// time to finish. A page that failed to load is tried again at the next
// interval (every MIN_INTERVAL_MS when it has none) instead of staying blank.
// A load still running when a reload is due is left to finish; one still
// running at the next due time after that is started over. Times are
// milliseconds since the epoch.
class PageRefresh
{
public:
    static constexpr qint64 MIN_INTERVAL_MS = 10000;

    enum class Action {
        None,
        Reload, // the page on screen loads again
        Retry, // the address is loaded again (nothing, or a failed load, on screen)
    };

    // A material starts: its page begins loading now.
    void start(int refreshInterval, qint64 nowMs);
    // The page is no longer on screen: nothing is due.
    void stop();
    void loadFinished(bool ok, qint64 nowMs);

    // When the next action is due, or -1.
    qint64 dueMs() const { return m_active ? m_nextMs : -1; }
    // The action due at nowMs (None before dueMs()); the caller starts the
    // load it names.
    Action due(qint64 nowMs);

    // The reload interval in use: 0 while none is due periodically.
    qint64 intervalMs() const { return m_active ? m_intervalMs : 0; }
    bool isLoading() const { return m_loading; }
    // True when the material's page has not been shown: its loads so far
    // failed and none succeeded.
    bool showsNothing() const { return m_failed && !m_loaded; }

private:
    qint64 retryInterval() const { return m_intervalMs > 0 ? m_intervalMs : MIN_INTERVAL_MS; }

    bool m_active = false;
    qint64 m_intervalMs = 0;
    qint64 m_nextMs = -1;
    bool m_loading = false;
    bool m_loaded = false; // a load of this material succeeded
    bool m_failed = false; // the last load of this material failed
    int m_dueWhileLoading = 0;
};
