#pragma once

#include "datalayout.h"
#include "formats/xmldata.h"
#include "materials/zoneview.h"
#include "zones/zonecycle.h"

#include <QPoint>
#include <QSet>
#include <QVariant>
#include <QWidget>

#include <map>
#include <memory>

class PlayLog;
class PdfView;
class QTimer;

// One zone of the template on screen: a frameless top-level window that plays
// its materials one after another, for ever, and records every play. What to
// play when is decided by ZoneCycle; each kind of material is shown by its
// own ZoneView, made on the first material of that kind. The zone keeps the
// cycle, its tick timer, the text timer and the play records.
class ZoneWindow : public QWidget, public ZoneContext
{
    Q_OBJECT
public:
    explicit ZoneWindow(QWidget *parent = nullptr, const DataLayout &layout = DataLayout());
    ~ZoneWindow() override;

    void initParam(const QString &zoneHost, double volume, int x, int y, int width, int height);
    void setZoneCtrl(const ContentXml::ZONE_CTRL &zone, PlayLog *playLog, int playType);
    // Stops playing and records the plays of the material on screen so far.
    void saveLastPlayDetail();

    QRect zoneRect() const { return m_zoneRect; }
    QString zoneName() const { return m_cycle.zoneName(); }
    QString currentType() const { return m_currentType; }
    const ZoneCycle &cycle() const { return m_cycle; }
    bool isTicking() const;
    // The view of a kind, once the zone has played a material of it.
    ZoneView *view(ContentXml::MtlKind kind) const;
    ZoneView *currentView() const { return m_view; }
    QTimer *textTimer() const { return m_textTimer; }
    int pageIndex() const;
    int pageCount() const;
    QString pageText() const;
    int webRefresh() const;

    // One tick of the zone at the clock's current time (also driven by tests).
    void checkPlayZoneMtls();
    // A swipe between two screen points over a picture, video or PDF.
    void processPicTouch(QPoint press, QPoint release);

    // ZoneContext
    QWidget *zoneWidget() override { return this; }
    QString mtlFolder() const override;
    QString zoneHost() const override { return m_zoneHost; }
    double volume() const override { return m_volume; }
    void setVolume(double volume) override;
    void runTextTimer(int intervalMs) override;
    void rescheduleTick() override { scheduleTick(); }

signals:
    void relocateRequested(QVariant var);

public slots:
    void sltBackPage();
    void sltNextPage();
    void sltShowText();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Runs the text timer at this interval; a new one shows the text at once.
    void setTextTimerInterval(int intervalMs);
    void playMtl(const ContentXml::ZONE_MTL &mtl);
    void showHidePlay();
    QString playNameNotingUse(const ContentXml::ZONE_MTL &mtl);
    void savePlayDetail(const ContentXml::ZONE_MTL &mtl, int times);
    QString currentFailure() const;
    // Writes the plays the cycle recorded; none when the material did not show.
    void flushRecords(const QString &failure);
    void scheduleTick();
    PdfView *pdfView() const;

    QRect m_zoneRect;
    QString m_zoneHost;
    double m_volume = 0;
    ZoneCycle m_cycle;
    PlayLog *m_playLog = nullptr;
    QTimer *m_tickTimer = nullptr;
    DataLayout m_layout;
    QString m_currentType;

    std::map<ContentXml::MtlKind, std::unique_ptr<ZoneView>> m_views;
    ZoneView *m_view = nullptr; // the view on screen; null for an unknown kind
    QTimer *m_textTimer = nullptr;
    bool m_textTimerClaimed = false; // asked for by the material being started
    QPoint m_press;
    QSet<QString> m_failedMtls; // failures already logged, by play name
};

Q_DECLARE_METATYPE(ZoneWindow *)
