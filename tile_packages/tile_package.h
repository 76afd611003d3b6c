#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tile_packages/pyramid.h"

// Offline tile packages: tiles drawn and encoded elsewhere, stored in one of
// four targets chosen by the target's name:
//   NAME.mbtiles   an MBTiles file (WebMercatorQuad only)
//   NAME.gpkg      a GeoPackage tile table
//   NAME.pmtiles   a PMTiles version 3 archive (WebMercatorQuad only)
//   a template with {z}, {x} and {y}, e.g. out/{z}/{x}/{y}.png: one file
//                  per tile, rows from the north, with tilejson.json in the
//                  folder that holds the template's first variable part
// Every failure is a false (or null) with one line naming the culprit.
namespace tile_packages {

// The largest tile stored or read back; larger ones are refused, so that a
// damaged package cannot make a reader allocate without bound.
constexpr size_t kMaxTileBytes = 16u << 20;

// Tiles per transaction: large enough that the commits' syncs cost little
// beside the inserts, small enough that a kill loses seconds of drawing.
constexpr size_t kDefaultBatchTiles = 1024;

struct OpenOptions {
    // Replace a target that holds another pyramid instead of refusing it.
    bool overwrite = false;
    // Tiles per committed batch (at least 1). A batch also ends at 64 MiB
    // of tile bytes.
    size_t batchTiles = kDefaultBatchTiles;
};

class PackageStore;

// Writes one package. Open it with the pyramid's description: a new target
// is made; a target holding the same description resumes, telling which
// tiles it holds already; a target holding another is refused unless
// overwrite is asked. Tiles are committed in batches: a process killed at
// any moment leaves a valid package with every tile of every finished
// batch. Put, Flush and Finish may be called from several threads at once.
class TilePackageWriter {
public:
    static std::unique_ptr<TilePackageWriter> Open(const std::string& target, const PyramidDescription& description,
                                                   const OpenOptions& options, std::string& error);
    // Commits what is put but not committed; finishes nothing.
    ~TilePackageWriter();
    TilePackageWriter(const TilePackageWriter&) = delete;
    TilePackageWriter& operator=(const TilePackageWriter&) = delete;

    const PyramidDescription& Description() const { return description; }

    // The tiles the package held when it was opened, so that the caller
    // draws only the others.
    bool IsPresent(const PyramidTile& tile) const;
    size_t PresentCount() const { return present.size(); }

    // Stores one encoded tile, replacing the one at its place. Refused: a
    // tile outside the pyramid, an empty or oversized one, or one that is
    // not of the pyramid's format.
    bool Put(const PyramidTile& tile, const uint8_t* bytes, size_t size, std::string& error);
    bool Put(const PyramidTile& tile, const std::vector<uint8_t>& bytes, std::string& error) {
        return Put(tile, bytes.data(), bytes.size(), error);
    }

    // Ends the current batch now (a caller stopping on a signal calls this).
    bool Flush(std::string& error);

    // Commits the last batch and completes the package: for PMTiles, builds
    // the archive from its staging file and puts it in place. Nothing may be
    // put after.
    bool Finish(std::string& error);

private:
    TilePackageWriter(PyramidDescription description, OpenOptions options, std::vector<uint64_t> present,
                      std::unique_ptr<PackageStore> store);
    bool CommitLocked(std::string& error);

    const PyramidDescription description;
    const OpenOptions options;
    const std::vector<uint64_t> present;  // packed tiles, ascending
    std::mutex mutex;
    std::unique_ptr<PackageStore> store;  // null once finished
    size_t batchTiles = 0;
    size_t batchBytes = 0;
};

// Reads a package this library wrote (a finished one or one interrupted,
// whose PMTiles tiles then sit in the staging file). Not thread-safe.
class TilePackageReader {
public:
    static std::unique_ptr<TilePackageReader> Open(const std::string& target, std::string& error);
    virtual ~TilePackageReader() = default;

    virtual const PyramidDescription& Description() const = 0;
    // Every tile the package holds, ordered by level, column, row.
    virtual bool ListTiles(std::vector<PyramidTile>& tiles, std::string& error) = 0;
    // The bytes of one tile; false with an empty error when there is none.
    virtual bool ReadTile(const PyramidTile& tile, std::vector<uint8_t>& bytes, std::string& error) = 0;
};

struct MergeReport {
    size_t tiles = 0;       // tiles in the merged package
    size_t duplicates = 0;  // tiles found in more than one part with the same bytes
};

// Joins parts drawn separately into the package one process would have
// made: the same tiles, bytes and metadata (a PMTiles archive to the
// byte). Refuses parts whose descriptions differ and parts that hold one
// tile with different bytes (naming the first such tile), before writing
// anything.
bool MergeParts(const std::vector<std::string>& parts, const std::string& target, const OpenOptions& options,
                MergeReport& report, std::string& error);

// The tile packed into one number ordered by level, column, row: the
// order ListTiles gives.
uint64_t PackTile(const PyramidTile& tile);
PyramidTile UnpackTile(uint64_t packed);

}  // namespace tile_packages
