#include "serve/xyz/tilejson.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "serve/description/xml_text.h"
#include "serve/drawing/map_grid.h"

namespace {

// Where a client opens the layer when it has no view of its own: the map
// page's first view.
constexpr double kCentreLongitude = 10, kCentreLatitude = 50;
constexpr int32_t kCentreLevel = 4;

std::string AttributionHtml(const LayerDescription& layer) {
    if (layer.attribution.empty()) return "";
    const std::string text = EscapeXml(layer.attribution);
    if (layer.attributionUrl.empty()) return text;
    return "<a href=\"" + EscapeXml(layer.attributionUrl) + "\">" + text + "</a>";
}

}  // namespace

std::string TileJsonDocument(const LayerDescription& layer, int32_t highestLevel, const std::string& tilesTemplate) {
    const nlohmann::ordered_json document = {
        {"tilejson", "3.0.0"},
        {"name", layer.title},
        {"description", layer.abstract},
        {"attribution", AttributionHtml(layer)},
        {"scheme", "xyz"},
        {"tiles", {tilesTemplate}},
        {"minzoom", 0},
        {"maxzoom", highestLevel},
        {"bounds", {kCoverageWest, kCoverageSouth, kCoverageEast, kCoverageNorth}},
        {"center", {kCentreLongitude, kCentreLatitude, std::min(kCentreLevel, highestLevel)}},
    };
    // Texts from the operator's files are UTF-8 as read; a stray byte
    // becomes U+FFFD rather than an exception.
    return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
