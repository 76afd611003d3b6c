#include <algorithm>
#include <cmath>

#include "tile_packages/directory_target.h"
#include "tile_packages/geopackage_target.h"
#include "tile_packages/mbtiles_target.h"
#include "tile_packages/package_store.h"
#include "tile_packages/pmtiles_target.h"
#include "tile_packages/tile_package.h"

namespace tile_packages {
namespace {

// A batch ends at this many tile bytes too, which bounds what a
// transaction holds when tiles are large.
constexpr size_t kMaxBatchBytes = 64u << 20;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Where(const PyramidTile& tile) {
    return "level " + std::to_string(tile.level) + " column " + std::to_string(tile.column) + " row " +
           std::to_string(tile.row);
}

}  // namespace

bool KindOfTarget(const std::string& target, TargetKind& kind, std::string& error) {
    if (target.find("{z}") != std::string::npos || target.find("{x}") != std::string::npos ||
        target.find("{y}") != std::string::npos) {
        kind = TargetKind::Directory;
    } else if (EndsWith(target, ".mbtiles")) {
        kind = TargetKind::Mbtiles;
    } else if (EndsWith(target, ".gpkg")) {
        kind = TargetKind::Geopackage;
    } else if (EndsWith(target, ".pmtiles")) {
        kind = TargetKind::Pmtiles;
    } else {
        error = target + " is no tile package target: name a .mbtiles, .gpkg or .pmtiles file or a directory "
                         "template with {z}, {x} and {y}";
        return false;
    }
    return true;
}

bool KindTakesSet(TargetKind kind, const std::string& target, const TileMatrixSet& set, std::string& error) {
    if (kind == TargetKind::Geopackage || kind == TargetKind::Directory) return true;
    // The one Web Mercator grid, whatever the caller calls it: one level-0
    // tile, centred on the origin.
    const double half = set.tileSpan / 2;
    const bool webMercator = set.epsg == 3857 && set.columns == 1 && set.rows == 1 &&
                             std::abs(set.left + half) <= 1e-6 * half && std::abs(set.top - half) <= 1e-6 * half;
    if (webMercator) return true;
    error = target + " cannot hold " + set.identifier + " tiles: .mbtiles and .pmtiles take WebMercatorQuad only; " +
            set.identifier + " goes into a .gpkg or a directory template";
    return false;
}

uint64_t PackTile(const PyramidTile& tile) {
    return uint64_t{static_cast<uint32_t>(tile.level)} << 58 | uint64_t{tile.column} << 29 | tile.row;
}

PyramidTile UnpackTile(uint64_t packed) {
    const uint64_t mask = (uint64_t{1} << 29) - 1;
    return {static_cast<int>(packed >> 58), static_cast<uint32_t>(packed >> 29 & mask),
            static_cast<uint32_t>(packed & mask)};
}

void SortTiles(std::vector<PyramidTile>& tiles) {
    std::sort(tiles.begin(), tiles.end(),
              [](const PyramidTile& a, const PyramidTile& b) { return PackTile(a) < PackTile(b); });
}

std::unique_ptr<TilePackageWriter> TilePackageWriter::Open(const std::string& target,
                                                           const PyramidDescription& description,
                                                           const OpenOptions& options, std::string& error) {
    TargetKind kind;
    std::string invalid;
    if (!CheckDescription(description, invalid)) {
        error = "cannot write " + target + ": " + invalid;
        return nullptr;
    }
    if (!KindOfTarget(target, kind, error) || !KindTakesSet(kind, target, description.set, error)) return nullptr;
    if (options.batchTiles < 1) {
        error = "cannot write " + target + ": a batch needs at least one tile";
        return nullptr;
    }
    std::vector<uint64_t> present;
    std::unique_ptr<PackageStore> store;
    switch (kind) {
        case TargetKind::Mbtiles:
            store = OpenSqliteTarget(kMbtilesTarget, target, description, options.overwrite, present, error);
            break;
        case TargetKind::Geopackage:
            store = OpenSqliteTarget(kGeopackageTarget, target, description, options.overwrite, present, error);
            break;
        case TargetKind::Pmtiles:
            store = OpenPmtilesTarget(target, description, options.overwrite, present, error);
            break;
        case TargetKind::Directory:
            store = OpenDirectoryTarget(target, description, options.overwrite, present, error);
            break;
    }
    if (!store) return nullptr;
    std::sort(present.begin(), present.end());
    return std::unique_ptr<TilePackageWriter>(
        new TilePackageWriter(description, options, std::move(present), std::move(store)));
}

TilePackageWriter::TilePackageWriter(PyramidDescription description, OpenOptions options,
                                     std::vector<uint64_t> present, std::unique_ptr<PackageStore> store)
    : description(std::move(description)), options(options), present(std::move(present)), store(std::move(store)) {}

TilePackageWriter::~TilePackageWriter() {
    std::string ignored;
    const std::lock_guard<std::mutex> lock(mutex);
    if (store) CommitLocked(ignored);
}

bool TilePackageWriter::IsPresent(const PyramidTile& tile) const {
    return std::binary_search(present.begin(), present.end(), PackTile(tile));
}

bool TilePackageWriter::Put(const PyramidTile& tile, const uint8_t* bytes, size_t size, std::string& error) {
    if (!InPyramid(description, tile)) {
        error = "the tile at " + Where(tile) + " lies outside the pyramid";
        return false;
    }
    if (size == 0 || size > kMaxTileBytes) {
        error = "the tile at " + Where(tile) + " has " + std::to_string(size) + " bytes; a tile has 1 to " +
                std::to_string(kMaxTileBytes);
        return false;
    }
    if (!LooksLike(description.format, bytes, size)) {
        error = "the tile at " + Where(tile) + " is no " + FileExtension(description.format) + " image";
        return false;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (!store) {
        error = "the package is finished: no tile may be put after Finish";
        return false;
    }
    if (!store->Put(tile, bytes, size, error)) return false;
    ++batchTiles;
    batchBytes += size;
    if (batchTiles >= options.batchTiles || batchBytes >= kMaxBatchBytes) return CommitLocked(error);
    return true;
}

bool TilePackageWriter::CommitLocked(std::string& error) {
    batchTiles = 0;
    batchBytes = 0;
    return store->Commit(error);
}

bool TilePackageWriter::Flush(std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex);
    return !store || CommitLocked(error);
}

bool TilePackageWriter::Finish(std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!store) return true;
    batchTiles = 0;
    batchBytes = 0;
    const bool finished = store->Finish(error);
    if (finished) store.reset();
    return finished;
}

std::unique_ptr<TilePackageReader> TilePackageReader::Open(const std::string& target, std::string& error) {
    TargetKind kind;
    if (!KindOfTarget(target, kind, error)) return nullptr;
    switch (kind) {
        case TargetKind::Mbtiles: return OpenSqliteReader(kMbtilesTarget, target, error);
        case TargetKind::Geopackage: return OpenSqliteReader(kGeopackageTarget, target, error);
        case TargetKind::Pmtiles: return OpenPmtilesReader(target, error);
        case TargetKind::Directory: return OpenDirectoryReader(target, error);
    }
    return nullptr;
}

}  // namespace tile_packages
