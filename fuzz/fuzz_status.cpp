// status.json as both programs read it: the input is the file. The service
// loads its session settings and its start-up settings and saves the file
// back; the player takes the status, the volume and the screen switch.

#include "fuzzenv.h"
#include "schedule/playbillscheduler.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"
#include "statusfile.h"

#include <QJsonObject>

namespace {
class Sink : public PlaybillScheduler::Sink
{
public:
    void statusRead(const StatusRecord &) override { }
    void templateLoaded(const ContentXml::TP_CONTENT &) override { }
    void zonesLoaded(const ContentXml::TP_ZONE_CTRL &, int) override { }
};
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::freshDataFolder();
    const QString path = StatusFile::defaultPath();
    FuzzEnv::writeFile(path, FuzzEnv::bytes(data, size));

    Sink sink;
    PlaybillScheduler scheduler(&sink);
    scheduler.readStatus();

    ServiceSettings settings;

    settings.runner = FuzzEnv::noCommands();
    TerminalStatus status(path, settings);
    status.reloadForSession();
    status.getClearType();
    status.loadAtStartup([] { return QStringLiteral("00-1A-2B-3C-4D-5E"); });
    const QJsonObject saved = StatusFile::read(path);
    FUZZ_CHECK(saved.value(QStringLiteral("terminalId")).toString() == settings.terminalId.get());
    FUZZ_CHECK(status.writeVolume(0.5));
    FUZZ_CHECK(status.reloadForSession().volume == 0.5);
    FuzzEnv::checkNothingOutside();
    return 0;
}
