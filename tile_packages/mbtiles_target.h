#pragma once

#include "tile_packages/sqlite_tiles.h"

namespace tile_packages {

// An MBTiles file: the metadata table as map clients read it, tiles in
// "tiles" with rows counted from the south. The PMTiles target stages its
// tiles in one too.
extern const SqliteTarget kMbtilesTarget;

}  // namespace tile_packages
