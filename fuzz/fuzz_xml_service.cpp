// Every XML reader of the service, on one document: the configuration, the
// day schedule, a template list and a zone, as they arrive and as they are
// stored. (The power schedule has a target of its own.)

#include "content/contentstore.h"
#include "fuzzenv.h"
#include "requests/serverconfig.h"
#include "xmlguard.h"

#include <QDomDocument>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml = FuzzEnv::bytes(data, size);
    XmlGuard::checkLimits(xml, XmlGuard::Encoding::Utf8);
    QDomDocument doc;
    XmlGuard::parse(xml, XmlGuard::Encoding::Declared, doc);

    ServerConfig config;
    readServerConfig(xml, config);
    QList<QByteArray> tplIds;
    QList<QByteArray> zoneIds;
    ContentStore::getDayScheduleTpl(xml, tplIds, zoneIds);
    QList<QString> files;
    ContentStore::getTpFile(xml, files);
    QList<QString> materials;
    ContentStore::getZoneMaterialFile(ContentStore::zoneAsStored(xml), materials);
    FUZZ_CHECK(materials.size() <= XmlLimits::MAX_ZONE_MATERIALS);
    return 0;
}
