#pragma once

#include <nlohmann/json.hpp>

#include "tile_packages/pyramid.h"

namespace tile_packages {

// The "tile_pyramid" object every target stores, for the targets whose
// metadata is itself JSON.
nlohmann::json DescriptionObject(const PyramidDescription& description);
bool DescriptionFromObject(const nlohmann::json& object, PyramidDescription& description, std::string& error);

// The metadata a map client reads from a tile set, shared by the targets
// that state it as JSON (PMTiles, TileJSON): name, description,
// attribution, type, version, format, and the pyramid itself.
nlohmann::json ClientMetadata(const PyramidDescription& description);

}  // namespace tile_packages
