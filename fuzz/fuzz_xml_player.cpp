// Every XML reader of the player, on one document stored as a file: the day
// playbill, a template list, a template and a zone. A reader sets a file it
// cannot use aside, so the document is written again for the next one.

#include "formats/xmldata.h"
#include "fuzzenv.h"
#include "xmlguard.h"

#include <QDateTime>
#include <QFile>

using namespace ContentXml;

namespace {
qint64 s_version = 0;

// A new version of the file each time: a bad template is remembered by its
// version on disk and not read again while it is unchanged.
QString stored(const QByteArray &xml)
{
    const QString path = FuzzEnv::dataPath(QStringLiteral("data/mtl/document.xml"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(xml);
        file.flush();
        file.setFileTime(
            QDateTime::fromSecsSinceEpoch(++s_version), QFileDevice::FileModificationTime);
    }
    return path;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml = FuzzEnv::bytes(data, size);

    DAY_PLAY play;
    xml_dayPlay(stored(xml), play);
    TP_LIST list;
    xml_tpList(stored(xml), list);
    TP_CONTENT content;
    xml_tpFileContent(stored(xml), content);
    FUZZ_CHECK(content.areas.size() <= XmlLimits::MAX_TEMPLATE_AREAS);
    ZONE_CTRL zone;
    xml_zoneFileContent(stored(xml), zone);
    FUZZ_CHECK(zone.mtls.size() <= XmlLimits::MAX_ZONE_MATERIALS);
    for (const ZONE_MTL &mtl : qAsConst(zone.mtls))
        FUZZ_CHECK(mtl.len >= 1 && mtl.etimes >= 1);
    return 0;
}
