#include "settings/servicesettings.h"

ServiceSettings &ServiceSettings::process()
{
    static ServiceSettings settings;
    return settings;
}

void ServiceSettings::reset()
{
    connIp = QString();
    connPort = QString();
    terminalId = QString();
    mac = QString();
    sudoPassword = QString();
    logUrl = QString();
}

SharedString &gConnIp = ServiceSettings::process().connIp;
SharedString &gConnPort = ServiceSettings::process().connPort;
SharedString &gTerminalId = ServiceSettings::process().terminalId;
SharedString &gMac = ServiceSettings::process().mac;
SharedString &gSudoPassword = ServiceSettings::process().sudoPassword;
SharedString &gLogUrl = ServiceSettings::process().logUrl;

void resetGlobals()
{
    ServiceSettings::process().reset();
}
