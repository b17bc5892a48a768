#include "materials/zoneview.h"

#include "materials/clockview.h"
#include "materials/mediaview.h"
#include "materials/pdfview.h"
#include "materials/pictureview.h"
#include "materials/textview.h"
#include "materials/weatherview.h"
#include "materials/webpageview.h"

using ContentXml::MtlKind;

namespace ZoneViews {

MtlKind viewKind(MtlKind kind)
{
    switch (kind) {
    case MtlKind::Audio:
    case MtlKind::Stream:
        return MtlKind::Video;
    default:
        return kind;
    }
}

std::unique_ptr<ZoneView> createZoneView(MtlKind kind, ZoneContext &zone)
{
    switch (viewKind(kind)) {
    case MtlKind::Picture:
        return std::make_unique<PictureView>(zone);
    case MtlKind::Video:
        return std::make_unique<MediaView>(zone);
    case MtlKind::Web:
        return std::make_unique<WebPageView>(zone);
    case MtlKind::Pdf:
        return std::make_unique<PdfView>(zone);
    case MtlKind::Text:
        return std::make_unique<TextView>(zone);
    case MtlKind::Clock:
        return std::make_unique<ClockView>(zone);
    case MtlKind::Weather:
        return std::make_unique<WeatherView>(zone);
    default:
        return nullptr;
    }
}

} // namespace ZoneViews
