#include "settings/servicesettings.h"

void ServiceSettings::reset()
{
    connIp = QString();
    connPort = QString();
    terminalId = QString();
    mac = QString();
    sudoPassword = QString();
    logUrl = QString();
}
