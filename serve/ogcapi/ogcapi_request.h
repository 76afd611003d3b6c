#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "drawing/map_request.h"
#include "drawing/tile_matrix_sets.h"
#include "serve/http/query_string.h"
#include "serve/ogcapi/media_types.h"
#include "serve/ogcapi/ogc_crs.h"

// One request to the OGC API (OGC API - Tiles and - Maps over OGC API -
// Common), read from its path below /ogcapi, its query and its Accept
// header.
enum class OgcResource {
    Landing,         // /
    Conformance,     // /conformance
    ApiDefinition,   // /api: the OpenAPI 3.0 definition
    Collections,     // /collections: one per layer
    Collection,      // /collections/{layer}
    Map,             // /collections/{layer}/map
    Tilesets,        // /collections/{layer}/map/tiles
    Tileset,         // /collections/{layer}/map/tiles/{set}
    Tile,            // /collections/{layer}/map/tiles/{set}/{matrix}/{row}/{col}
    TileMatrixSets,  // /tileMatrixSets
    TileMatrixSet,   // /tileMatrixSets/{set}
};

struct OgcApiRequest {
    OgcResource resource = OgcResource::Landing;
    std::string collection;                    // Collection and below: a served layer
    const TileMatrixSet* matrixSet = nullptr;  // Tileset, Tile, TileMatrixSet
    int32_t level = 0;                         // Tile
    uint32_t row = 0, column = 0;              // Tile
    OgcFormat format = OgcFormat::Json;
    bool formatFromAccept = false;  // chosen by the Accept header, not by f
    MapRequest map;                 // Map and Tile: what to draw
    OgcCrs crs = OgcCrs::Crs84;     // Map: the CRS its answer is in

    // A map or a tile, as opposed to a document.
    bool Image() const { return resource == OgcResource::Map || resource == OgcResource::Tile; }
    // A document's identity: its resource and format (the entity tags of
    // documents are made of it).
    std::string DocumentIdentity() const;
};

// Why a request is refused: the HTTP status (400 for a bad parameter, 404
// for a path that names nothing, 406 for a format not offered, 413 for an
// image beyond the limits), a code and one line.
struct OgcApiError {
    int status = 400;
    const char* code = "InvalidParameterValue";
    std::string message;
};

struct ParsedOgcApi {
    bool valid = false;
    // What the path names, when it names something, even if refused: a
    // refused map still counts as one.
    std::optional<OgcResource> named;
    OgcApiRequest request;
    OgcApiError error;
};

// Reads a request: `path` is what follows /ogcapi, percent-decoded (""
// or "/" for the landing page); `accept` the Accept header, or null.
// `highestLevel` is the deepest tile matrix offered, `layers` the
// collections offered. Pure, and bounded by its input.
ParsedOgcApi ParseOgcApi(const std::string& path, const QueryParameters& query, const std::string* accept,
                         int32_t highestLevel, const std::vector<std::string>& layers = ServedLayers());
