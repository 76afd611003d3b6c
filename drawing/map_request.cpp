#include "drawing/map_request.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "projection/tile_service.h"
#include "drawing/image_formats.h"

namespace {

unsigned long long Bits(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace

std::string MapIdentity(const MapRequest& map) {
    char text[160];
    std::snprintf(text, sizeof text, " %s %016llx %016llx %016llx %016llx %ux%u %s %06x",
                  map.crs == MapCrs::WebMercator ? "EPSG:3857" : "lonlat", Bits(map.box.west), Bits(map.box.south),
                  Bits(map.box.east), Bits(map.box.north), map.width, map.height,
                  ImageFormatOf(map.format).extension, map.background);
    std::string identity = map.layer + text;
    // Only what departs from an opaque background, so that the maps of
    // every other door keep the identity they had.
    if (map.transparent) identity += " clear";
    if (map.voidColour) {
        std::snprintf(text, sizeof text, " void %06x", *map.voidColour);
        identity += text;
    }
    if (map.voidTransparent) identity += *map.voidTransparent ? " void-clear" : " void-opaque";
    return identity;
}

const std::vector<std::string>& ServedLayers() {
    static const std::vector<std::string> layers(std::begin(kServiceLayers), std::end(kServiceLayers));
    return layers;
}

bool IsServedLayer(const std::string& name, const std::vector<std::string>& layers) {
    for (const std::string& served : layers) {
        if (name == served) return true;
    }
    return false;
}

std::string ListedNames(const std::vector<std::string>& names) {
    std::string listed;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) listed += i + 1 == names.size() ? " and " : ", ";
        listed += names[i];
    }
    return listed;
}
