#pragma once

#include "xmldata.h"
#include "zonecycle.h"

#include <QPoint>
#include <QPointer>
#include <QVariant>
#include <QWidget>

class MainWindow;
class PlayLogUtil;
class PdfUtils;
class TimerThread;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QTimer;
class QVideoWidget;
class QWebView;

// One zone of the template on screen: a frameless top-level window that plays
// its materials one after another, for ever, and records every play. What to
// play when is decided by ZoneCycle; this class maps it onto widgets.
class MediaForm : public QWidget
{
    Q_OBJECT
public:
    explicit MediaForm(MainWindow *mainWindow, QWidget *parent = nullptr);
    ~MediaForm() override;

    void initParam(const QString &zoneHost, double volume, int x, int y, int width, int height);
    void setZoneCtrl(const CONVERTXMLDATA::ZONE_CTRL &zone, PlayLogUtil *playLog, int playType);
    // Stops playing and records the plays of the material on screen so far.
    void saveLastPlayDetail();
    void setVolume(double volume);
    void loadNewPage(const QUrl &url);

    QRect zoneRect() const { return m_zoneRect; }
    double volume() const { return m_volume; }
    QString zoneName() const { return m_cycle.zoneName(); }
    QString currentType() const { return m_currentType; }
    const ZoneCycle &cycle() const { return m_cycle; }
    int pageIndex() const { return m_pageIndex; }
    int pageCount() const { return m_pageCount; }
    QString pageText() const;
    bool isTicking() const;
    int webRefresh() const { return m_webRefreshMs; }

    // One tick of the zone at the clock's current time (also driven by tests).
    void checkPlayZoneMtls();
    // A swipe between two screen points over a picture, video or PDF.
    void processPicTouch(QPoint press, QPoint release);

signals:
    void relocateMediaform(QVariant var);

public slots:
    void sltBackPage();
    void sltNextPage();
    void sltShowText();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void playMtl(const CONVERTXMLDATA::ZONE_MTL &mtl);
    void showHidePlay(const QString &type);
    QString processMtlName(const CONVERTXMLDATA::ZONE_MTL &mtl);
    void savePlayDetail(const CONVERTXMLDATA::ZONE_MTL &mtl, int times);
    void flushRecords();
    void showPageInfo();
    void showPage(int index);
    void createPageControls();
    void ensureImageLabel();
    void scheduleTick();

    MainWindow *m_mainWindow;
    QRect m_zoneRect;
    QString m_zoneHost;
    double m_volume = 0;
    ZoneCycle m_cycle;
    PlayLogUtil *m_playLog = nullptr;
    QTimer *m_tickTimer = nullptr;
    qint64 m_nextReloadMs = 0;
    int m_webRefreshMs = 0;
    QString m_home;
    QString m_mtlPath;
    QString m_currentType;

    QMediaPlayer *m_player = nullptr;
    QVideoWidget *m_videoWidget = nullptr;
    QLabel *m_imageLabel = nullptr;
    QWebView *m_webView = nullptr;
    QLabel *m_textLabel = nullptr;
    TimerThread *m_textTimer = nullptr;
    PdfUtils *m_pdf = nullptr;
    QString m_openPdfPath;
    int m_pageIndex = 0;
    int m_pageCount = 0;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_nextButton = nullptr;
    QLabel *m_pageCounter = nullptr;
    QPoint m_press;
};

Q_DECLARE_METATYPE(MediaForm *)
