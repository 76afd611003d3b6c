#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tile_packages/package_store.h"

namespace tile_packages {

// A PMTiles archive cannot take tiles once written, so its tiles are
// staged in an MBTiles file beside it, TARGET.unfinished.mbtiles, itself a
// valid package; Finish builds the archive from it under
// TARGET.building, renames that into place and removes the staging file.
std::string PmtilesStagingPath(const std::string& target);

std::unique_ptr<PackageStore> OpenPmtilesTarget(const std::string& target, const PyramidDescription& description,
                                                bool overwrite, std::vector<uint64_t>& present, std::string& error);

// The staging file while there is one (it holds every tile of the archive
// and more), else the archive.
std::unique_ptr<TilePackageReader> OpenPmtilesReader(const std::string& target, std::string& error);

}  // namespace tile_packages
