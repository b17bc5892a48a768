#include "ui/configwindow.h"

#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "ui_configwindow.h"

#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>

ConfigWindow::ConfigWindow(ServiceSettings &settings, TerminalStatus &status, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::ConfigWindow)
    , m_settings(settings)
    , m_status(status)
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    ui->textPort->setValidator(new QIntValidator(1, 65535, this));
    ui->textPort->setMaxLength(5);
}

ConfigWindow::~ConfigWindow()
{
    delete ui;
}

void ConfigWindow::showSettings()
{
    ui->textIp->setText(m_settings.connIp);
    ui->textPort->setText(m_settings.connPort);
    // The stored password is never shown: the field stays empty, and left
    // empty it keeps the stored one.
    ui->textPass->clear();
    ui->textPass->setEchoMode(QLineEdit::Password);
    ui->textPass->setPlaceholderText(QStringLiteral("留空则不变"));
    ui->textTid->setText(m_settings.terminalId);
    ui->textMac->setText(m_settings.mac);
    // Without a usable address the installer has to enter one.
    if (m_settings.connIp.isEmpty() || !TerminalStatus::isUsablePort(m_settings.connPort))
        show();
    else
        hide();
}

void ConfigWindow::on_pushButtonOk_clicked()
{
    // Checked before anything is taken: a port 0 would cut the terminal off.
    const QString ip = ui->textIp->text();
    const QString port = ui->textPort->text();
    if (!ip.isEmpty() && TerminalStatus::isUsablePort(port)) {
        m_settings.connIp = ip;
        m_settings.connPort = port;
        if (!ui->textPass->text().isEmpty())
            m_settings.sudoPassword = ui->textPass->text();
        ui->textPass->clear();
        m_status.saveTerminalInfo();
        emit addressChanged();
        hide();
        return;
    }
    QMessageBox::warning(
        this, QStringLiteral("提示"), QStringLiteral("信发IP和端口不能为空!!!"), QMessageBox::Ok);
}
