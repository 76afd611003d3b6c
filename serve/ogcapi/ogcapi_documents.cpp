#include "serve/ogcapi/ogcapi_documents.h"

#include "drawing/map_grid.h"
#include "serve/ogcapi/document_links.h"
#include "serve/ogcapi/openapi_definition.h"
#include "serve/ogcapi/tiling_documents.h"

namespace {

using Json = nlohmann::ordered_json;

Json LandingPage(const ServiceDescription& d, const DocumentLinks& links) {
    Json list = links.SelfAndAlternate("/", "This document");
    list.push_back(DocumentLinks::Link(links.Address("/api", OgcFormat::OpenApi), "service-desc",
                                       MediaTypeOf(OgcFormat::OpenApi), "The API definition (OpenAPI 3.0)"));
    list.push_back(DocumentLinks::Link(links.Address("/api", OgcFormat::Html), "service-doc",
                                       MediaTypeOf(OgcFormat::Html), "The API definition, as a page"));
    // Each relation under both its names: clients look for either.
    for (const char* rel : {"conformance", "data"}) {
        const std::string path = rel[0] == 'c' ? "/conformance" : "/collections";
        const std::string title =
            rel[0] == 'c' ? "The conformance classes the API declares" : "The collections: the layers";
        list.push_back(links.To(path, rel, title));
        list.push_back(links.To(path, OgcRelation(rel), title));
    }
    list.push_back(links.To("/tileMatrixSets", OgcRelation("tiling-schemes"), "The tile matrix sets of the tiles"));
    return Json{{"title", d.title}, {"description", d.abstract}, {"links", list}};
}

Json Conformance(const DocumentLinks& links) {
    return Json{{"conformsTo", ConformanceClasses()},
                {"links", links.SelfAndAlternate("/conformance", "This document")}};
}

Json CollectionOf(const LayerDescription& layer, const ServiceDescription& d, const DocumentLinks& links) {
    const std::string path = "/collections/" + layer.name;
    Json list = links.SelfAndAlternate(path, layer.title);
    for (OgcFormat format : {OgcFormat::Png, OgcFormat::Jpeg, OgcFormat::Webp}) {
        list.push_back(
            links.Image(path + "/map", OgcRelation("map"), format, layer.title + ", drawn as " + MediaTypeOf(format)));
    }
    list.push_back(links.To(path + "/map/tiles", OgcRelation("tilesets-map"), layer.title + ", as tiles"));
    if (!layer.attributionUrl.empty()) {
        list.push_back(DocumentLinks::Link(layer.attributionUrl, "license", "text/html", "Whose data the layer shows"));
    }
    Json crs = Json::array();
    for (OgcCrs each : kOgcCrses) crs.push_back(CrsUri(each));
    Json collection{
        {"id", layer.name},
        {"title", layer.title},
        {"description", layer.abstract},
        {"dataType", "map"},
        {"extent",
         {{"spatial",
           {{"bbox", Json::array({Json::array({kCoverageWest, kCoverageSouth, kCoverageEast, kCoverageNorth})})},
            {"crs", CrsUri(OgcCrs::Crs84)}}}}},
        {"crs", crs},
        {"minScaleDenominator", MinScaleDenominator(d)},
        {"maxScaleDenominator", MaxScaleDenominator(d)},
        {"links", list},
    };
    if (!layer.attribution.empty()) collection["attribution"] = layer.attribution;
    return collection;
}

Json Collections(const ServiceDescription& d, const DocumentLinks& links) {
    Json collections = Json::array();
    for (const LayerDescription& layer : d.layers) collections.push_back(CollectionOf(layer, d, links));
    return Json{{"links", links.SelfAndAlternate("/collections", "This document")}, {"collections", collections}};
}

}  // namespace

std::string OgcRelation(const char* name) {
    return std::string("http://www.opengis.net/def/rel/ogc/1.0/") + name;
}

const std::vector<std::string>& ConformanceClasses() {
    static const std::vector<std::string> classes = {
        "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/core",
        "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/landing-page",
        "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/json",
        "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/html",
        "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/oas30",
        "http://www.opengis.net/spec/ogcapi-common-2/1.0/conf/collections",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/core",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/collection-map",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/spatial-subsetting",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/crs",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/scaling",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/background",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/tilesets",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/png",
        "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/jpeg",
        "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/core",
        "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/tileset",
        "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/tilesets-list",
        "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/geodata-tilesets",
        "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/png",
        "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/jpeg",
        "http://www.opengis.net/spec/tms/2.0/conf/tilematrixset",
        "http://www.opengis.net/spec/tms/2.0/conf/json-tilematrixset",
        "http://www.opengis.net/spec/tms/2.0/conf/tilesetmetadata",
        "http://www.opengis.net/spec/tms/2.0/conf/json-tilesetmetadata",
        "http://www.opengis.net/spec/tms/2.0/conf/tilematrixsetlimits",
        "http://www.opengis.net/spec/tms/2.0/conf/json-tilematrixsetlimits",
    };
    return classes;
}

OgcDocument DocumentFor(const OgcApiRequest& request, const ServiceDescription& d, const std::string& root) {
    const DocumentLinks links(root, request.format == OgcFormat::Html ? OgcFormat::Html : OgcFormat::Json);
    const LayerDescription* layer = FindLayerDescription(d, request.collection);
    const std::string layerTitle = layer != nullptr ? layer->title : request.collection;
    switch (request.resource) {
        case OgcResource::Landing: return {d.title, LandingPage(d, links)};
        case OgcResource::Conformance: return {"Conformance classes", Conformance(links)};
        case OgcResource::ApiDefinition: return {"The API definition", OpenApiDefinition(d, root)};
        case OgcResource::Collections: return {"Collections", Collections(d, links)};
        case OgcResource::Collection:
            if (layer != nullptr) return {layerTitle, CollectionOf(*layer, d, links)};
            break;
        case OgcResource::Tilesets:
            return {layerTitle + ": tilesets", TilesetsDocument(request.collection, layerTitle, links)};
        case OgcResource::Tileset:
            return {layerTitle + " in " + request.matrixSet->identifier,
                    TilesetDocument(request.collection, layerTitle, *request.matrixSet, d.maxZoom, links)};
        case OgcResource::TileMatrixSets: return {"Tile matrix sets", TileMatrixSetsDocument(links)};
        case OgcResource::TileMatrixSet:
            return {request.matrixSet->identifier, TileMatrixSetDocument(*request.matrixSet, links)};
        case OgcResource::Map:
        case OgcResource::Tile: break;
    }
    return {"", Json::object()};
}
