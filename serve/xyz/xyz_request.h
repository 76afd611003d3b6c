#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "drawing/image_formats.h"
#include "drawing/map_request.h"
#include "drawing/tile_matrix_sets.h"

// One request at the XYZ door, read from what follows "/tiles/":
//   {layer}/{tileMatrixSetId}/tilejson.json          the TileJSON document
//   {layer}/{tileMatrixSetId}/{z}/{x}/{y}.{ext}      a tile, ext png, jpeg or webp
//   {layer}/{tileMatrixSetId}/{z}/{x}/{y}            a tile in the format Accept
//                                                    takes most
// with "@2x" after {y} for the tile of the set's 512 px twin. Column x from
// the west, row y from the north: the WMTS tile of row y and column x.
enum class XyzResource { TileJson, Tile };

struct XyzRequest {
    XyzResource resource = XyzResource::Tile;
    std::string layer;
    // The set of the address: its TileJSON, or the tile's (the twin for @2x).
    const TileMatrixSet* set = nullptr;
    // The format came from Accept: the answer varies by it.
    bool negotiated = false;
    MapRequest map;  // Tile only
};

// Why a request cannot be served: 404 for an address that names nothing,
// 406 when Accept takes none of the formats.
struct XyzError {
    int status = 404;
    std::string message;
    bool namedTile = false;  // it had a tile's shape: counted as a tile
};

struct ParsedXyz {
    bool valid = false;
    XyzRequest request;
    XyzError error;
};

// `path` is percent-decoded; `accept` the Accept header ("" when none);
// `highestLevel` the deepest level offered; `layers` the layers offered.
ParsedXyz ParseXyzPath(const std::string& path, std::string_view accept, int32_t highestLevel,
                       const std::vector<std::string>& layers = ServedLayers());

// The format an extension-less tile of `layer` is answered in: the one
// Accept takes most, then the one it names most specifically, then the
// layer's own (JPEG for aerial, else PNG), WebP, the rest. Null when it
// takes none.
const ImageFormatEntry* NegotiateFormat(std::string_view accept, const std::string& layer);
