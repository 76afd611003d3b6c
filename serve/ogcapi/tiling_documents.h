#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "drawing/tile_matrix_sets.h"
#include "serve/ogcapi/document_links.h"

// The documents of a layer's map tiles in the two-dimensional tile matrix
// set standard's JSON encoding: the tilesets of a layer, one per tile
// matrix set, each tileset's metadata with the levels its tile set has,
// and the tile matrix sets' definitions. Every set drawing/ offers is
// listed.

nlohmann::ordered_json TilesetsDocument(const std::string& layer, const std::string& layerTitle,
                                        const DocumentLinks& links);

// `maxZoom` is the tile set's deepest plug-in zoom: the levels offered.
nlohmann::ordered_json TilesetDocument(const std::string& layer, const std::string& layerTitle,
                                       const TileMatrixSet& set, int32_t maxZoom, const DocumentLinks& links);

nlohmann::ordered_json TileMatrixSetsDocument(const DocumentLinks& links);

// A set's definition, its levels down to the deepest the plug-in draws.
// It also carries the members of the encoding's first version (type,
// identifier, supportedCRS, tileMatrix with topLeftCorner), which clients
// of that version read, Debian's GDAL 3.6 among them.
nlohmann::ordered_json TileMatrixSetDocument(const TileMatrixSet& set, const DocumentLinks& links);
