#include "globals.h"

SharedString gConnIp;
SharedString gConnPort;
SharedString gTerminalId;
SharedString gMac;
SharedString gSudoPassword(DEFAULT_SUDO_PASSWORD);
SharedString gLogUrl;

void resetGlobals()
{
    gConnIp = QString();
    gConnPort = QString();
    gTerminalId = QString();
    gMac = QString();
    gSudoPassword = QStringLiteral(DEFAULT_SUDO_PASSWORD);
    gLogUrl = QString();
}
