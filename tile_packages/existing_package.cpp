#include "tile_packages/existing_package.h"

#include <algorithm>

namespace tile_packages {

bool RefuseOtherPyramid(const PyramidDescription& stored, const std::string& target, const PyramidDescription& asked,
                        std::string& error) {
    const std::string difference = FirstDifference(stored, asked);
    if (difference.empty()) return true;
    error = target + " holds another tile pyramid (" + difference + "); ask to overwrite it to replace it";
    return false;
}

bool AdoptExisting(TilePackageReader& reader, const std::string& target, const PyramidDescription& asked,
                   std::vector<uint64_t>& present, std::string& error) {
    if (!RefuseOtherPyramid(reader.Description(), target, asked, error)) return false;
    std::vector<PyramidTile> tiles;
    if (!reader.ListTiles(tiles, error)) return false;
    present.clear();
    present.reserve(tiles.size());
    for (const PyramidTile& tile : tiles) present.push_back(PackTile(tile));
    return true;
}

}  // namespace tile_packages
