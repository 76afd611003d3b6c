#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tile_packages/pyramid.h"
#include "tile_packages/tile_package.h"

namespace tile_packages {

// One target's storage, behind TilePackageWriter, which checks the tiles
// and decides where batches end. Called under the writer's lock.
class PackageStore {
public:
    virtual ~PackageStore() = default;
    // Stores the tile in the open batch.
    virtual bool Put(const PyramidTile& tile, const uint8_t* bytes, size_t size, std::string& error) = 0;
    // Makes the open batch durable: after this a kill loses none of it.
    virtual bool Commit(std::string& error) = 0;
    // Commits and completes the package.
    virtual bool Finish(std::string& error) = 0;
};

// What the target already holds, as TilePackageWriter::Open needs it.
struct ExistingPackage {
    bool exists = false;                  // false: a new package is made
    PyramidDescription description;       // when it exists
    std::unique_ptr<TilePackageReader> reader;
};

// Puts tiles in the order ListTiles promises: level, column, row.
void SortTiles(std::vector<PyramidTile>& tiles);

// The kinds of target, chosen by name.
enum class TargetKind { Mbtiles, Geopackage, Pmtiles, Directory };

// The kind `target` names; false, with what a target may be, for a name of
// none of them.
bool KindOfTarget(const std::string& target, TargetKind& kind, std::string& error);

// Refuses, with the targets that take it, a set the kind cannot hold.
bool KindTakesSet(TargetKind kind, const std::string& target, const TileMatrixSet& set, std::string& error);

}  // namespace tile_packages
