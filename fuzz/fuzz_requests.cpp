// The handlers of the server's messages, fed whole frames: the input is the
// byte stream from the signage server, cut into frames as the session cuts
// it, and every frame goes to the handler its protocol and command name,
// whatever step the session is at: authorization result, configuration and
// server time, day schedule, template lists and zones (stored in the data
// folder), the server's requests and notices. No program is started, no
// notice leaves the process, and nothing may appear outside the data folder.

#include "content/contentwalk.h"
#include "fuzzenv.h"
#include "lebytes.h"
#include "link/authorization.h"
#include "net/playernotices.h"
#include "power/powerschedule.h"
#include "protocol/builddata.h"
#include "protocol/framereceiver.h"
#include "protocol/serverprotocol.h"
#include "requests/serverconfig.h"
#include "requests/serverrequests.h"
#include "requests/systemclock.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"

using namespace ServerProtocol;

namespace {
const QString TERMINAL_ID = QStringLiteral("001A2B3C4D5E100");

// An answer is a frame of four parameters, the first the terminal id.
void checkAnswer(const QByteArray &answer)
{
    QList<QByteArray> params;
    FUZZ_CHECK(LeBytes::read32(answer, 0) == static_cast<unsigned int>(answer.size()));
    FUZZ_CHECK(getPackageParams(answer, params) == 4 && params.size() == 4);
    FUZZ_CHECK(params.at(0) == TERMINAL_ID.toUtf8());
}

void handleSession(unsigned short command, const QByteArray &frame, ServiceSettings &settings,
    TerminalStatus &status, Authorization &auth)
{
    QByteArray payload;
    if (command == CMD_AUTH) {
        auth.onResult(static_cast<int>(LeBytes::read32(frame, 30)), FuzzEnv::NOW_MS);
    } else if (command == CMD_CONFIG && verifiedPayload(frame, payload)) {
        ServerConfig config;
        readServerConfig(payload, config);
        if (!config.serverIp.isEmpty() && TerminalStatus::isUsablePort(config.serverPort))
            status.writeServerConfig(
                config.serverIp, config.serverPort, config.rtdaHost, config.rtdaPort);
    } else if (command == CMD_SERVER_TIME && verifiedPayload(frame, payload)) {
        SystemClock::setFromServer(*settings.runner, payload, settings.sudoPassword);
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init(true);
    PlayerNotices::setSink([](const QString &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::freshDataFolder();
    ServiceSettings settings;
    settings.runner = FuzzEnv::noCommands();
    settings.terminalId = TERMINAL_ID;
    settings.mac = QStringLiteral("00-1A-2B-3C-4D-5E");
    TerminalStatus status(QString(), settings);
    status.saveTerminalInfo();
    Authorization auth(settings, status);
    ContentWalk walk;
    PowerSchedule power(settings);
    FrameSequence sequence;
    ServerRequests requests(settings, sequence, status, walk, power);

    FrameReceiver receiver;
    receiver.setQuiet(true);
    const auto frames = receiver.feed(FuzzEnv::bytes(data, size), FuzzEnv::NOW_MS).frames;
    for (const QByteArray &frame : frames) {
        if (FrameReceiver::isInnerHandshake(frame))
            continue;
        const unsigned short protocol = protocolOf(frame);
        const unsigned short command = commandOf(frame);
        if (protocol == PROTO_SESSION) {
            handleSession(command, frame, settings, status, auth);
        } else if (protocol == PROTO_CONTENT) {
            if (command == CMD_DAY_SCHEDULE)
                walk.onSchedule(frame);
            else if (command == CMD_TEMPLATE_LIST)
                walk.onTemplateList(frame);
            else if (command == CMD_ZONE)
                walk.onZone(frame);
        } else {
            // Deferred work (packing and uploading logs) is not run.
            const ServerRequests::Outcome outcome = requests.handle(protocol, command, frame);
            for (const QByteArray &answer : outcome.answers)
                checkAnswer(answer);
        }
    }
    // As the session does after the frames of each read.
    requests.storeSettings();
    FuzzEnv::checkNothingOutside();
    return 0;
}
