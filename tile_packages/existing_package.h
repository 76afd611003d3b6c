#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tile_packages/tile_package.h"

namespace tile_packages {

// Refuses, with one line, a package that holds another pyramid than the
// one asked for.
bool RefuseOtherPyramid(const PyramidDescription& stored, const std::string& target, const PyramidDescription& asked,
                        std::string& error);

// Takes over a package that a target already holds: refuses it, with one
// line, when it holds another pyramid than the one asked for; otherwise
// gathers its tiles, packed and ascending.
bool AdoptExisting(TilePackageReader& reader, const std::string& target, const PyramidDescription& asked,
                   std::vector<uint64_t>& present, std::string& error);

}  // namespace tile_packages
