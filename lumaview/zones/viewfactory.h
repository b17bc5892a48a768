#pragma once

#include "formats/xmldata.h"
#include "materials/zoneview.h"

#include <memory>

namespace ZoneViews {

// The kind whose view plays materials of this kind (audio and streams share
// the video view); Unknown for kinds no view plays.
ContentXml::MtlKind viewKind(ContentXml::MtlKind kind);
// A new view for viewKind(kind), or null for Unknown.
std::unique_ptr<ZoneView> createZoneView(ContentXml::MtlKind kind, ZoneContext &zone);

} // namespace ZoneViews
