#pragma once

#include <QMainWindow>

namespace Ui {
class ConfigWindow;
}
struct ServiceSettings;
class TerminalStatus;

// The configuration window the service opens: server address, port and sudo
// password, with the terminal id and MAC for reference. Shown while no usable
// address is known; an accepted address is saved to the status file and
// announced, and the window hides.
class ConfigWindow : public QMainWindow
{
    Q_OBJECT
public:
    ConfigWindow(ServiceSettings &settings, TerminalStatus &status, QWidget *parent = nullptr);
    ~ConfigWindow() override;

    // Fills the fields from the settings; shows the window when the address
    // is not usable, hides it otherwise.
    void showSettings();

signals:
    // A new address was saved: the next connection uses it.
    void addressChanged();

private slots:
    void on_pushButtonOk_clicked();

private:
    Ui::ConfigWindow *ui;
    ServiceSettings &m_settings;
    TerminalStatus &m_status;
};
