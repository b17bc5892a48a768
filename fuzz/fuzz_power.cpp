// The power schedule: a schedule from the server (276/280, and as the sixth
// parameter of 278/2) is stored and read back, every entry's next time is
// worked out, and the schedule is checked at three moments of the day, so
// shutdowns and wake alarms are asked for (of a runner that runs nothing).

#include "clock.h"
#include "fuzzenv.h"
#include "power/powerschedule.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"
#include "settings/servicesettings.h"
#include "xmlguard.h"

namespace {
constexpr qint64 HOUR_MS = 3600 * 1000;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml = FuzzEnv::bytes(data, size);
    FuzzEnv::freshDataFolder();
    ServiceSettings settings;
    settings.runner = FuzzEnv::noCommands();
    PowerSchedule power(settings);
    power.writePowerOnOff(xml);
    power.readPowerOnOff();
    FUZZ_CHECK(power.powerList().size() <= XmlLimits::MAX_POWER_ENTRIES);

    const QDate today = Clock::now().date();
    for (const PowerSchedule::Entry &entry : power.powerList()) {
        power.nextRepeatTime(entry);
        PowerSchedule::fallsOn(entry, today);
    }
    // Morning, a second before midnight and just after it.
    for (const qint64 at : {FuzzEnv::NOW_MS, FuzzEnv::NOW_MS + 14 * HOUR_MS - 1000,
             FuzzEnv::NOW_MS + 14 * HOUR_MS + 10000}) {
        Clock::setFixedMs(at);
        power.checkPowerSchedule();
    }
    Clock::setFixedMs(FuzzEnv::NOW_MS);

    const QList<QByteArray> params {
        QByteArray(), QByteArray(), QByteArray(), QByteArray(), QByteArray(), xml + '\0'};
    const QByteArray frame
        = BuildData::buildPackage(BuildData::FIRST_CONTEXT_ID, ServerProtocol::PROTO_CONTROL,
            ServerProtocol::CMD_SHUTDOWN_SCHEDULE, ServerProtocol::FLAGS, params);
    FUZZ_CHECK(PowerActions::shutdownScheduleText(frame) == xml);
    PowerActions::scheduleShutdown(frame, power.filePath());
    FuzzEnv::checkNothingOutside();
    return 0;
}
