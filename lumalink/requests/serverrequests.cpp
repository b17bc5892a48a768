#include "requests/serverrequests.h"

#include "content/contentwalk.h"
#include "net/playernotices.h"
#include "power/powerschedule.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"
#include "requests/terminalreports.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "upkeep/logfile.h"
#include "volume.h"

using namespace ServerProtocol;

ServerRequests::ServerRequests(ServiceSettings &settings, FrameSequence &sequence,
    TerminalStatus &statusFile, ContentWalk &walk, PowerSchedule &power)
    : m_settings(settings)
    , m_sequence(sequence)
    , m_statusFile(statusFile)
    , m_walk(walk)
    , m_power(power)
{ }

void ServerRequests::load(double volume, int clearType)
{
    m_volume = volume;
    m_clearType = clearType;
}

ServerRequests::Outcome ServerRequests::handle(
    unsigned short protocol, unsigned short command, const QByteArray &frame)
{
    Outcome outcome;
    if (protocol == PROTO_CONTROL) {
        handleRequest(command, frame, outcome);
        outcome.idleWait = true;
    } else if (protocol == PROTO_CONTENT_PUSH) {
        handleNotice(command, frame, outcome);
    }
    return outcome;
}

unsigned short ServerRequests::answerKind(unsigned short protocol, unsigned short command)
{
    if (protocol != PROTO_CONTROL)
        return 0;
    switch (command) {
    case CMD_ENVIRONMENT:
    case CMD_SCREENSHOT:
    case CMD_DOWNLOAD_REPORT:
        return command;
    case CMD_TODAY_LOGS:
    case CMD_ALL_LOGS:
        return CMD_TODAY_LOGS; // one upload of the log folder at a time
    default:
        return 0;
    }
}

QByteArray ServerRequests::answer(
    unsigned short command, const QByteArray &echo, const QByteArray &payload) const
{
    const QList<QByteArray> params {
        m_settings.terminalId.get().toUtf8(), QByteArray(), echo, payload};
    return BuildData::buildPackage(m_sequence.next(), PROTO_CONTROL, command, FLAGS, params);
}

void ServerRequests::handleRequest(
    unsigned short command, const QByteArray &frame, Outcome &outcome)
{
    switch (command) {
    case CMD_SHUTDOWN_NOW:
        m_power.shutdown();
        break;
    case CMD_SHUTDOWN_SCHEDULE:
        PowerActions::scheduleShutdown(frame, m_power.filePath());
        m_power.readPowerOnOff();
        break;
    case CMD_REBOOT_NOW:
        m_power.reboot();
        break;
    case CMD_ENVIRONMENT: {
        QByteArray xml;
        TerminalReports::environment(*m_settings.runner, xml, m_volume);
        outcome.answers.append(answer(command, firstParam(frame), xml));
        break;
    }
    case CMD_SCREENSHOT: {
        QByteArray xml;
        TerminalReports::screenshot(xml);
        outcome.answers.append(answer(command, firstParam(frame), xml));
        break;
    }
    case CMD_DOWNLOAD_REPORT: {
        QByteArray xml;
        m_walk.tracker().getDownloadXml(xml);
        outcome.answers.append(answer(command, firstParam(frame), xml));
        break;
    }
    case CMD_TODAY_LOGS:
    case CMD_ALL_LOGS: {
        QList<QByteArray> params;
        getPackageParams(frame, params);
        // Packing may take minutes: it runs off the session's thread with
        // copies of what it needs.
        const QString terminalId = m_settings.terminalId;
        const QString logUrl = m_settings.logUrl;
        const std::shared_ptr<CommandRunner> runner = m_settings.runner;
        outcome.deferred.append({command, params.value(0), [runner, command, terminalId, logUrl] {
                                     return QByteArray::number(LogFile::processTerminalLog(
                                         *runner, command, terminalId, logUrl));
                                 }});
        break;
    }
    case CMD_RESTART_PLAYER:
        PlayerNotices::post(QStringLiteral("EXIT"), QString());
        break;
    case CMD_SET_VOLUME:
    case CMD_SET_VOLUME_TOO: {
        QList<QByteArray> params;
        if (getPackageParams(frame, params) >= 4 && params.size() >= 4) {
            const double volume
                = Volume::bounded(QString::fromLatin1(params.at(3)).trimmed().toDouble());
            m_volume = volume;
            m_volumeToStore = true;
            PlayerNotices::post(QStringLiteral("VOLUME"), QString::number(volume, 'g'));
        }
        break;
    }
    case CMD_SET_CLEAR_TYPE: {
        QList<QByteArray> params;
        if (getPackageParams(frame, params) >= 4 && params.size() >= 4) {
            m_clearType = QString::fromLatin1(params.at(3)).trimmed().toInt();
            m_clearTypeToStore = true;
        }
        break;
    }
    default: // CMD_IGNORED and unknown requests
        break;
    }
}

void ServerRequests::storeSettings()
{
    if (m_volumeToStore)
        m_statusFile.writeVolume(m_volume);
    if (m_clearTypeToStore)
        m_statusFile.writeClearType(m_clearType);
    m_volumeToStore = false;
    m_clearTypeToStore = false;
}

void ServerRequests::handleNotice(unsigned short command, const QByteArray &frame, Outcome &outcome)
{
    if (command == CMD_SCHEDULE_CHANGED) {
        outcome.restartWalk = true;
        return;
    }
    if (command == CMD_POWER_SCHEDULE) {
        // The schedule travels with a terminating NUL.
        QByteArray xml = firstParam(frame);
        if (frame.endsWith('\0'))
            xml.chop(1);
        m_power.writePowerOnOff(xml);
    }
    outcome.idleWait = true;
}
