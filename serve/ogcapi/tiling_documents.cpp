#include "serve/ogcapi/tiling_documents.h"

#include <cmath>
#include <limits>

#include "drawing/map_grid.h"
#include "serve/ogcapi/ogc_crs.h"
#include "serve/ogcapi/ogcapi_documents.h"

namespace {

using Json = nlohmann::ordered_json;

struct Registered {
    const char* identifier;
    const char* title;
};

// The sets registered with OGC under their identifiers, and their titles there.
constexpr Registered kRegistered[] = {
    {"WebMercatorQuad", "Google Maps Compatible for the World"},
    {"WorldCRS84Quad", "CRS84 for the World"},
};

const Registered* RegisteredAs(const TileMatrixSet& set) {
    for (const Registered& registered : kRegistered) {
        if (std::string(set.identifier) == registered.identifier) return &registered;
    }
    return nullptr;
}

std::string Title(const TileMatrixSet& set) {
    const Registered* registered = RegisteredAs(set);
    return registered != nullptr ? registered->title : set.identifier;
}

OgcCrs CrsOf(const TileMatrixSet& set) {
    return set.mapCrs == MapCrs::LonLat ? OgcCrs::Crs84 : OgcCrs::Epsg3857;
}

// Members common to the list and the definition: id, title, uri (when
// registered), crs.
Json Identification(const TileMatrixSet& set) {
    Json json{{"id", set.identifier}, {"title", Title(set)}, {"crs", CrsUri(CrsOf(set))}};
    if (RegisteredAs(set) != nullptr) {
        json["uri"] = std::string("http://www.opengis.net/def/tilematrixset/OGC/1.0/") + set.identifier;
    }
    return json;
}

// The area the layers cover, in the set's CRS, as the encoding's 2D bounding box.
Json DataBoundingBox(const TileMatrixSet& set) {
    const bool geographic = set.mapCrs == MapCrs::LonLat;
    const double west = geographic ? kCoverageWest : -kMercatorHalfWorld;
    const double south = geographic ? kCoverageSouth : -kMercatorHalfWorld;
    return Json{{"lowerLeft", {west, south}}, {"upperRight", {-west, -south}}, {"crs", CrsUri(CrsOf(set))}};
}

std::string SetPath(const TileMatrixSet& set) {
    return std::string("/tileMatrixSets/") + set.identifier;
}

Json TilesetSummary(const std::string& layer, const std::string& layerTitle, const TileMatrixSet& set,
                    const DocumentLinks& links) {
    Json summary{{"title", layerTitle + " in " + set.identifier}, {"dataType", "map"}, {"crs", CrsUri(CrsOf(set))}};
    const Json identification = Identification(set);
    if (identification.contains("uri")) summary["tileMatrixSetURI"] = identification["uri"];
    summary["links"] = Json::array({links.To("/collections/" + layer + "/map/tiles/" + set.identifier, "self",
                                             summary["title"].get<std::string>()),
                                    links.To(SetPath(set), OgcRelation("tiling-scheme"), Title(set))});
    return summary;
}

}  // namespace

Json TilesetsDocument(const std::string& layer, const std::string& layerTitle, const DocumentLinks& links) {
    const std::string path = "/collections/" + layer;
    Json list = links.SelfAndAlternate(path + "/map/tiles", layerTitle + ": tilesets");
    list.push_back(links.To(path, OgcRelation("geodata"), layerTitle));
    Json tilesets = Json::array();
    for (const TileMatrixSet& set : TileMatrixSets()) tilesets.push_back(TilesetSummary(layer, layerTitle, set, links));
    return Json{{"links", list}, {"tilesets", tilesets}};
}

Json TilesetDocument(const std::string& layer, const std::string& layerTitle, const TileMatrixSet& set, int32_t maxZoom,
                     const DocumentLinks& links) {
    Json tileset = TilesetSummary(layer, layerTitle, set, links);
    const std::string path = "/collections/" + layer + "/map/tiles/" + set.identifier;
    Json list = links.SelfAndAlternate(path, tileset["title"].get<std::string>());
    list.push_back(tileset["links"][1]);
    for (OgcFormat format : {OgcFormat::Png, OgcFormat::Jpeg, OgcFormat::Webp}) {
        Json item =
            DocumentLinks::Link(links.Root() + path + "/{tileMatrix}/{tileRow}/{tileCol}?f=" + FormatName(format),
                                "item", MediaTypeOf(format), std::string("A tile, as ") + MediaTypeOf(format));
        item["templated"] = true;
        list.push_back(item);
    }
    list.push_back(links.To("/collections/" + layer, OgcRelation("geodata"), layerTitle));
    tileset["links"] = list;
    tileset["mediaTypes"] = {MediaTypeOf(OgcFormat::Png), MediaTypeOf(OgcFormat::Jpeg), MediaTypeOf(OgcFormat::Webp)};
    tileset["boundingBox"] = DataBoundingBox(set);
    Json limits = Json::array();
    for (int32_t level = 0; level <= HighestTileMatrix(maxZoom); ++level) {
        limits.push_back({{"tileMatrix", std::to_string(level)},
                          {"minTileRow", 0},
                          {"maxTileRow", MatrixHeight(set, level) - 1},
                          {"minTileCol", 0},
                          {"maxTileCol", MatrixWidth(set, level) - 1}});
    }
    tileset["tileMatrixSetLimits"] = limits;
    return tileset;
}

Json TileMatrixSetsDocument(const DocumentLinks& links) {
    Json sets = Json::array();
    for (const TileMatrixSet& set : TileMatrixSets()) {
        Json entry = Identification(set);
        entry["links"] = Json::array({links.To(SetPath(set), "self", Title(set))});
        sets.push_back(entry);
    }
    return Json{{"links", links.SelfAndAlternate("/tileMatrixSets", "This document")}, {"tileMatrixSets", sets}};
}

Json TileMatrixSetDocument(const TileMatrixSet& set, const DocumentLinks& links) {
    Json definition = Identification(set);
    const bool geographic = set.mapCrs == MapCrs::LonLat;
    definition["orderedAxes"] = geographic ? Json{"Lon", "Lat"} : Json{"X", "Y"};
    if (set.wellKnownScaleSet != nullptr) {
        // urn:ogc:def:wkss:OGC:1.0:NAME as the URI the encoding takes.
        const std::string urn = set.wellKnownScaleSet;
        definition["wellKnownScaleSet"] = "http://www.opengis.net/def/wkss/OGC/1.0/" + urn.substr(urn.rfind(':') + 1);
    }
    const uint32_t size = set.tileSize;
    const double width = set.level0TileSpan * set.level0Columns, height = set.level0TileSpan * set.level0Rows;
    definition["boundingBox"] = Json{{"lowerLeft", {set.left, set.top - height}},
                                     {"upperRight", {set.left + width, set.top}},
                                     {"crs", definition["crs"]}};
    Json matrices = Json::array(), firstVersion = Json::array();
    const int32_t deepest = HighestTileMatrix(std::numeric_limits<int32_t>::max());
    for (int32_t level = 0; level <= deepest; ++level) {
        const std::string id = std::to_string(level);
        const double scale = std::ldexp(set.level0Scale, -level);
        const Json corner = {set.left, set.top};
        matrices.push_back({{"id", id},
                            {"scaleDenominator", scale},
                            {"cellSize", std::ldexp(set.level0TileSpan / size, -level)},
                            {"cornerOfOrigin", "topLeft"},
                            {"pointOfOrigin", corner},
                            {"tileWidth", size},
                            {"tileHeight", size},
                            {"matrixWidth", MatrixWidth(set, level)},
                            {"matrixHeight", MatrixHeight(set, level)}});
        firstVersion.push_back({{"type", "TileMatrixType"},
                                {"identifier", id},
                                {"scaleDenominator", scale},
                                {"topLeftCorner", corner},
                                {"tileWidth", size},
                                {"tileHeight", size},
                                {"matrixWidth", MatrixWidth(set, level)},
                                {"matrixHeight", MatrixHeight(set, level)}});
    }
    definition["tileMatrices"] = matrices;
    definition["type"] = "TileMatrixSetType";
    definition["identifier"] = set.identifier;
    definition["supportedCRS"] = definition["crs"];
    definition["tileMatrix"] = firstVersion;
    definition["links"] = links.SelfAndAlternate(SetPath(set), Title(set));
    return definition;
}
