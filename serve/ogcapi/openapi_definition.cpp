#include "serve/ogcapi/openapi_definition.h"

#include <utility>
#include <vector>

#include "drawing/tile_matrix_sets.h"
#include "serve/ogcapi/ogc_crs.h"

namespace {

using Json = nlohmann::ordered_json;

Json Reference(const char* kind, const std::string& name) {
    return Json{{"$ref", std::string("#/components/") + kind + "/" + name}};
}

Json Parameter(const char* name, const char* in, const char* description, Json schema) {
    return Json{{"name", name},
                {"in", in},
                {"description", description},
                {"required", std::string(in) == "path"},
                {"schema", std::move(schema)}};
}

// The collections are the layers the tiles hold, as /collections lists them.
Json Parameters(const ServiceDescription& description) {
    Json layers = Json::array(), sets = Json::array(), crses = Json::array();
    for (const LayerDescription& layer : description.layers) layers.push_back(layer.name);
    for (const TileMatrixSet& set : TileMatrixSets()) sets.push_back(set.identifier);
    for (OgcCrs crs : kOgcCrses) crses.push_back(CrsUri(crs));
    const Json crs{{"type", "string"}, {"enum", crses}, {"default", CrsUri(OgcCrs::Crs84)}};
    const Json colour{{"type", "string"}, {"default", "0xFFFFFF"}};
    const auto numbers = [](size_t count) {
        return Json{{"type", "array"}, {"minItems", count}, {"maxItems", count}, {"items", {{"type", "number"}}}};
    };
    const auto side = [](uint32_t limit) { return Json{{"type", "integer"}, {"minimum", 1}, {"maximum", limit}}; };
    Json p{
        {"f-metadata", Parameter("f", "query",
                                 "The format of the document: json or html (default: by the Accept header, "
                                 "else json).",
                                 {{"type", "string"}, {"enum", {"json", "html"}}})},
        {"f-map",
         Parameter("f", "query", "The format of the image: png, jpeg or webp (default: by the Accept header, else png).",
                   {{"type", "string"}, {"enum", {"png", "jpeg", "webp"}}})},
        {"collectionId", Parameter("collectionId", "path", "A layer.", {{"type", "string"}, {"enum", layers}})},
        {"tileMatrixSetId",
         Parameter("tileMatrixSetId", "path", "A tile matrix set.", {{"type", "string"}, {"enum", sets}})},
        {"tileMatrix",
         Parameter("tileMatrix", "path", "A level of the tile matrix set, from 0.", {{"type", "string"}})},
        {"tileRow", Parameter("tileRow", "path", "A row of the tile matrix, from 0 at the top.",
                              {{"type", "integer"}, {"minimum", 0}})},
        {"tileCol", Parameter("tileCol", "path", "A column of the tile matrix, from 0 at the left.",
                              {{"type", "integer"}, {"minimum", 0}})},
        {"bbox", Parameter("bbox", "query",
                           "The map's outer edges: lower corner, upper corner, in bbox-crs's axis order. "
                           "A west edge east of the east edge crosses longitude 180.",
                           numbers(4))},
        {"bbox-crs", Parameter("bbox-crs", "query", "The CRS of bbox.", crs)},
        {"subset",
         Parameter("subset", "query", "The map's area as ranges, e.g. Lat(40:60),Lon(-10:20); * for an open end.",
                   {{"type", "string"}})},
        {"subset-crs", Parameter("subset-crs", "query", "The CRS of subset.", crs)},
        {"center", Parameter("center", "query", "The map's centre, in center-crs's axis order.", numbers(2))},
        {"center-crs", Parameter("center-crs", "query", "The CRS of center.", crs)},
        {"crs", Parameter("crs", "query", "The CRS of the map.", crs)},
        {"width", Parameter("width", "query", "The map's width in pixels.", side(kMaxImageWidth))},
        {"height", Parameter("height", "query", "The map's height in pixels.", side(kMaxImageHeight))},
        {"scale-denominator",
         Parameter("scale-denominator", "query", "The map's scale, for 0.28 mm pixels, at the middle of its area.",
                   {{"type", "number"}, {"minimum", 0}, {"exclusiveMinimum", true}})},
        {"bgcolor", Parameter("bgcolor", "query",
                              "The colour where there are no tiles: 0xRRGGBB or a W3C web colour name.", colour)},
        {"transparent", Parameter("transparent", "query",
                                  "Whether what has no tiles is clear (PNG): true without bgcolor, false with it.",
                                  {{"type", "boolean"}})},
        {"void-color",
         Parameter("void-color", "query", "The colour beyond the CRS's own edges (default: as bgcolor).", colour)},
        {"void-transparent",
         Parameter("void-transparent", "query",
                   "Whether what lies beyond the CRS's own edges is clear (default: as transparent).",
                   {{"type", "boolean"}})},
    };
    for (const char* name : {"bbox", "center"}) {
        p[name]["style"] = "form";
        p[name]["explode"] = false;
    }
    return p;
}

Json Answers(const std::vector<std::pair<const char*, const char*>>& content) {
    Json types = Json::object();
    for (const auto& [type, schema] : content) {
        types[type] = Json{{"schema", std::string(schema) == "binary" ? Json{{"type", "string"}, {"format", "binary"}}
                                                                      : Json{{"type", schema}}}};
    }
    Json answers{{"200", {{"description", "The resource."}, {"content", types}}}};
    for (const char* status : {"400", "404", "406", "500"}) answers[status] = Reference("responses", "Problem");
    return answers;
}

Json Operation(const char* id, const char* summary, std::vector<const char*> parameters, Json answers) {
    Json list = Json::array();
    for (const char* name : parameters) list.push_back(Reference("parameters", name));
    return Json{{"get", {{"operationId", id}, {"summary", summary}, {"parameters", list}, {"responses", answers}}}};
}

}  // namespace

Json OpenApiDefinition(const ServiceDescription& d, const std::string& root) {
    const Json document = Answers({{"application/json", "object"}, {"text/html", "string"}});
    const Json image = Answers({{"image/png", "binary"}, {"image/jpeg", "binary"}, {"image/webp", "binary"}});
    const char* const map = "/collections/{collectionId}/map";
    Json paths{
        {"/", Operation("getLandingPage", "The landing page.", {"f-metadata"}, document)},
        {"/conformance",
         Operation("getConformance", "The conformance classes the API declares.", {"f-metadata"}, document)},
        {"/api",
         Operation("getApiDefinition", "This definition.", {"f-metadata"},
                   Answers({{"application/vnd.oai.openapi+json;version=3.0", "object"}, {"text/html", "string"}}))},
        {"/collections", Operation("getCollections", "The collections: one per layer.", {"f-metadata"}, document)},
        {"/collections/{collectionId}",
         Operation("getCollection", "A layer's description.", {"collectionId", "f-metadata"}, document)},
        {map,
         Operation("getCollectionMap", "A layer as a map.",
                   {"collectionId", "bbox", "bbox-crs", "subset", "subset-crs", "center", "center-crs", "crs", "width",
                    "height", "scale-denominator", "bgcolor", "transparent", "void-color", "void-transparent", "f-map"},
                   image)},
        {std::string(map) + "/tiles",
         Operation("getCollectionMapTileSets", "A layer's tilesets, one per tile matrix set.",
                   {"collectionId", "f-metadata"}, document)},
        {std::string(map) + "/tiles/{tileMatrixSetId}",
         Operation("getCollectionMapTileSet", "A tileset's metadata.",
                   {"collectionId", "tileMatrixSetId", "f-metadata"}, document)},
        {std::string(map) + "/tiles/{tileMatrixSetId}/{tileMatrix}/{tileRow}/{tileCol}",
         Operation("getCollectionMapTile", "A tile of a layer's map.",
                   {"collectionId", "tileMatrixSetId", "tileMatrix", "tileRow", "tileCol", "bgcolor", "transparent",
                    "void-color", "void-transparent", "f-map"},
                   image)},
        {"/tileMatrixSets", Operation("getTileMatrixSets", "The tile matrix sets.", {"f-metadata"}, document)},
        {"/tileMatrixSets/{tileMatrixSetId}",
         Operation("getTileMatrixSet", "A tile matrix set's definition.", {"tileMatrixSetId", "f-metadata"}, document)},
    };
    const Json problem{{"type", "object"},
                       {"required", {"title", "status"}},
                       {"properties",
                        {{"type", {{"type", "string"}}},
                         {"title", {{"type", "string"}}},
                         {"status", {{"type", "integer"}}},
                         {"detail", {{"type", "string"}}},
                         {"code", {{"type", "string"}}}}}};
    Json info{{"title", d.title},
              {"description", d.abstract},
              {"version", "1.0.0"},
              {"x-OGC-limits", {{"maps", {{"maxWidth", kMaxImageWidth}, {"maxHeight", kMaxImageHeight}}}}}};
    if (!d.contact.email.empty()) info["contact"] = Json{{"email", d.contact.email}};
    return Json{
        {"openapi", "3.0.3"},
        {"info", info},
        {"servers", {{{"url", root}}}},
        {"paths", paths},
        {"components",
         {{"parameters", Parameters(d)},
          {"schemas", {{"problem", problem}}},
          {"responses",
           {{"Problem",
             {{"description", "Why the request cannot be answered."},
              {"content", {{"application/problem+json", {{"schema", Reference("schemas", "problem")}}}}}}}}}}},
    };
}
