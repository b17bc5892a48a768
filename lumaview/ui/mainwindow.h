#pragma once

#include "formats/xmldata.h"
#include "statusrecord.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QSize>
#include <QVariant>

namespace Ui {
class MainWindow;
}
class ZoneWindow;
class NotifyListener;
class PlayLog;
class SendThread;
class PlaybillThread;

// Extended-screen mode: the player sits on a second screen right of the first,
// and every zone is shifted by xOffset.
extern bool showExtScreen;
extern int xOffset;

// The full-screen player window: status panel until the first template, then
// the template's background with one zone window per area on top.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // False when another player already holds the local port; the caller then
    // ends the process with status 0.
    bool isPrimaryInstance() const { return m_primary; }

    bool initTcpServer();
    int readExtScreen();
    void zIndexForm();
    void exitApp();

    QSize screenSize() const { return m_screenSize; }
    QString currentTemplate() const { return m_currentTemplate; }
    QString zoneHost() const { return m_zoneHost; }
    double zoneVolume() const { return m_volume; }
    const QMap<int, ZoneWindow *> &zonesByStacking() const { return m_zonesByStacking; }
    const QMap<QString, ZoneWindow *> &zonesByName() const { return m_zonesByName; }
    const QList<ZoneWindow *> &allZones() const { return m_allZones; }
    PlaybillThread *scheduler() const { return m_scheduler; }
    PlayLog *playLog() const { return m_playLog; }

public slots:
    void sltCallbackStatus(StatusRecord status);
    void sltLoadTemplate(QVariant variant);
    void sltTemplateZoneCtrl(QVariant variant, int playType);
    void relocateZone(QVariant variant);
    void on_labelBackground_clicked();

private:
    void handleCommand(const QString &cmd, const QString &param);
    // Records the plays each zone cut short, then deletes every zone.
    void deleteZones();
    void parkPointer();

    Ui::MainWindow *ui;
    QSize m_screenSize;
    QString m_terminalId;
    QString m_zoneHost;
    double m_volume = 0;
    PlaybillThread *m_scheduler = nullptr;
    SendThread *m_sender = nullptr;
    ContentXml::TP_ZONE_CTRL m_zoneCtrl;
    QString m_currentTemplate;
    QMap<int, ZoneWindow *> m_zonesByStacking;
    QMap<QString, ZoneWindow *> m_zonesByName;
    // Every zone window of the template, also those whose title repeats
    // another's, so all of them go at the next template change.
    QList<ZoneWindow *> m_allZones;
    NotifyListener *m_listener = nullptr;
    PlayLog *m_playLog = nullptr;
    bool m_primary = false;
};
