#pragma once

#include <memory>
#include <string>

#include "tile_packages/tile_package.h"

namespace tile_packages {

// Writes the archive of every tile `source` holds to `path`: header, root
// directory, metadata, leaf directories, then the tile data in tile-id
// order, each distinct content once, runs of one content in one entry.
// The same tiles and description give the same bytes, however and in
// whatever order they were put. The file is synced before this returns.
bool BuildPmtilesArchive(TilePackageReader& source, const std::string& path, std::string& error);

// A finished archive, read through its directories.
std::unique_ptr<TilePackageReader> OpenPmtilesArchive(const std::string& path, std::string& error);

}  // namespace tile_packages
