#pragma once

#include "datalayout.h"
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
class PlayLog;

// The full-screen player window: status panel until the first template, then
// the template's background with one zone window per area on top.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const DataLayout &layout, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Where the zones record their plays.
    void setPlayLog(PlayLog *playLog) { m_playLog = playLog; }
    // The VOLUME command: every zone on screen takes it.
    void setZoneVolume(double volume);
    // Records the plays each zone cut short, then deletes every zone.
    void deleteZones();

    int readExtScreen();
    // Extended-screen mode (extScreen 1 in the status file): the player sits
    // on a second screen right of the first, and every zone is shifted by
    // xOffset().
    bool extendedScreen() const { return m_extendedScreen; }
    int xOffset() const { return m_xOffset; }
    void zIndexForm();

    QSize screenSize() const { return m_screenSize; }
    QString currentTemplate() const { return m_currentTemplate; }
    QString zoneHost() const { return m_zoneHost; }
    double zoneVolume() const { return m_volume; }
    const QMap<int, ZoneWindow *> &zonesByStacking() const { return m_zonesByStacking; }
    const QMap<QString, ZoneWindow *> &zonesByName() const { return m_zonesByName; }
    const QList<ZoneWindow *> &allZones() const { return m_allZones; }

public slots:
    void sltCallbackStatus(StatusRecord status);
    void sltLoadTemplate(QVariant variant);
    void sltTemplateZoneCtrl(QVariant variant, int playType);
    void relocateZone(QVariant variant);
    void on_labelBackground_clicked();

private:
    void parkPointer();

    Ui::MainWindow *ui;
    QSize m_screenSize;
    bool m_extendedScreen = false;
    int m_xOffset = 0;
    QString m_terminalId;
    QString m_zoneHost;
    double m_volume = 0;
    ContentXml::TP_ZONE_CTRL m_zoneCtrl;
    QString m_currentTemplate;
    QMap<int, ZoneWindow *> m_zonesByStacking;
    QMap<QString, ZoneWindow *> m_zonesByName;
    // Every zone window of the template, also those whose title repeats
    // another's, so all of them go at the next template change.
    QList<ZoneWindow *> m_allZones;
    DataLayout m_layout;
    PlayLog *m_playLog = nullptr;
};
