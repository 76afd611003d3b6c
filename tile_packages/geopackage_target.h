#pragma once

#include "tile_packages/sqlite_tiles.h"

namespace tile_packages {

// A GeoPackage holding one tile table: the set's CRS, contents, tile
// matrix set and a matrix row for every level, and the pyramid's record in
// the metadata extension.
extern const SqliteTarget kGeopackageTarget;

}  // namespace tile_packages
