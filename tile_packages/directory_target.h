#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tile_packages/package_store.h"

namespace tile_packages {

// One file per tile after a template, each written under a temporary name
// (FILE.partial) and renamed, so that a file under its own name is always
// whole; tilejson.json in the template's root describes the package.
std::unique_ptr<PackageStore> OpenDirectoryTarget(const std::string& target, const PyramidDescription& description,
                                                  bool overwrite, std::vector<uint64_t>& present, std::string& error);

std::unique_ptr<TilePackageReader> OpenDirectoryReader(const std::string& target, std::string& error);

}  // namespace tile_packages
