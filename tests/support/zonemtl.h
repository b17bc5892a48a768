#pragma once

#include "formats/xmldata.h"

// A material as a zone file would give it, for zone tests.
inline ContentXml::ZONE_MTL mtl(
    const QString &name, int len, const QString &type = QStringLiteral("pic"), int etimes = 1)
{
    ContentXml::ZONE_MTL m;
    m.name = name;
    m.len = len;
    m.etimes = etimes;
    m.type = type;
    m.kind = ContentXml::mtlKind(type);
    return m;
}
