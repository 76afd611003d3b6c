#include "serve/description/service_description.h"

#include <cmath>

namespace {

// The scale of a 256-pixel tile holding the whole Mercator world.
constexpr double kWorldTileScale = 559082264.0287178;

}  // namespace

ServiceDescription DefaultServiceDescription(int32_t maxZoom) {
    ServiceDescription d;
    d.title = "Zarvo tile service";
    d.abstract =
        "The map, aerial and hybrid layers of the Zarvo tile service, every pixel sampled by the Zarvo data plug-in "
        "from the tiles, in longitude/latitude (EPSG:4326, CRS:84) and in Web Mercator (EPSG:3857), as WMS maps, "
        "WMTS tiles, and OGC API maps and tiles.";
    d.keywords = {"map", "aerial imagery", "coastlines", "borders", "world", "WMS", "WMTS", "OGC API"};
    d.fees = "none";
    d.accessConstraints = "none";
    d.layers = {
        {"map", "Map",
         "Land and water from GSHHG's shorelines and lakes, with national borders and a 10-degree graticule.", "",
         ""},
        {"aerial", "Aerial imagery", "The NASA Visible Earth world image.", "", ""},
        {"hybrid", "Aerial imagery with coastlines, borders and graticule",
         "The world image of the aerial layer with GSHHG's coastlines, national borders and a 10-degree graticule "
         "drawn over it.",
         "", ""},
    };
    d.maxZoom = maxZoom;
    return d;
}

const LayerDescription* FindLayerDescription(const ServiceDescription& description, const std::string& name) {
    for (const LayerDescription& layer : description.layers) {
        if (layer.name == name) return &layer;
    }
    return nullptr;
}

double MaxScaleDenominator(const ServiceDescription&) {
    return kWorldTileScale;
}

double MinScaleDenominator(const ServiceDescription& description) {
    // Plug-in zoom z has a tile pixel of kWorldTileScale / 2^(z-1); one zoom
    // past the deepest halves it again.
    return std::ldexp(kWorldTileScale, -description.maxZoom);
}
