// The weather server's reply, and what the weather panel makes of a report:
// its title, colours, icon and temperature text.

#include "fuzzenv.h"
#include "weather/weatherdata.h"
#include "weather/weatherlook.h"

using namespace ContentXml;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    WEATHER_RESP resp;
    if (!xml_weatherResponse(FuzzEnv::bytes(data, size), resp))
        return 0;
    const WEATHER_RESP_DAY &day = resp.city.day;
    for (const int code : {day.wsId, day.wsId2}) {
        WeatherLook::statusTitle(code);
        WeatherLook::statusColor(code);
        WeatherLook::iconResource(code, 12);
        WeatherLook::iconResource(code, 23);
    }
    const WeatherLook::Temperature temperature = WeatherLook::temperature(day.temperature);
    FUZZ_CHECK(!temperature.color.isEmpty());
    WeatherLook::requestBody(resp.city.name, resp.dt);
    return 0;
}
