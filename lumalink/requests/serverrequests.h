#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

class ContentWalk;
class FrameSequence;
class PowerSchedule;
class TerminalStatus;
struct ServiceSettings;

// The server's requests and notices (protocols 278 and 276). A frame goes in;
// the answers to queue and what the session does next come out. Effects on
// the terminal itself (status file, player notices, reports) happen here.
class ServerRequests
{
public:
    // A request whose work takes long (packing and uploading logs): work runs
    // away from the session's thread and touches nothing of the session; its
    // result is the payload of the answer to command, echoing echo.
    struct Deferred
    {
        unsigned short command = 0;
        QByteArray echo;
        std::function<QByteArray()> work;
    };

    struct Outcome
    {
        QList<QByteArray> answers; // frames for the send queue, in order
        QList<Deferred> deferred; // answered when their work is done
        bool restartWalk = false; // fetch the day schedule again
        bool idleWait = false; // wait for the server before acting again
    };

    // walk gives the download report; power takes the power requests.
    // Answers take their numbers from sequence.
    ServerRequests(ServiceSettings &settings, FrameSequence &sequence, TerminalStatus &statusFile,
        ContentWalk &walk, PowerSchedule &power);

    Outcome handle(unsigned short protocol, unsigned short command, const QByteArray &frame);

    // Requests whose answer a repeated request would only make again share a
    // kind (the command; both log requests share one); every other request is 0.
    static unsigned short answerKind(unsigned short protocol, unsigned short command);

    // The answer frame to a request: terminal id, an empty field, the echo, the payload.
    QByteArray answer(
        unsigned short command, const QByteArray &echo, const QByteArray &payload) const;

    // Stores the volume and clear type that requests set since the last call
    // in the status file: the session calls it after the frames of each
    // read, so a burst of requests costs one write, not one per request.
    void storeSettings();

    double volume() const { return m_volume; }
    int clearType() const { return m_clearType; }
    // Values loaded from the status file.
    void load(double volume, int clearType);

private:
    void handleRequest(unsigned short command, const QByteArray &frame, Outcome &outcome);
    void handleNotice(unsigned short command, const QByteArray &frame, Outcome &outcome);

    ServiceSettings &m_settings;
    FrameSequence &m_sequence;
    TerminalStatus &m_statusFile;
    ContentWalk &m_walk;
    PowerSchedule &m_power;
    double m_volume = 0.1;
    int m_clearType = 5;
    bool m_volumeToStore = false;
    bool m_clearTypeToStore = false;
};
