#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "drawing/map_maker.h"
#include "render/progress.h"
#include "render/pyramid/pyramid_plan.h"
#include "render/pyramid/pyramid_progress.h"
#include "render/pyramid/tile_walk.h"
#include "tile_packages/tile_package.h"

// What a pyramid's drawing came to.
struct PyramidTotals {
    uint64_t drawn = 0;    // drawn and put into the package
    uint64_t present = 0;  // skipped: the package held them when it was opened
    uint64_t empty = 0;    // no pixel on the tiled world: not written
};

// Draws the tiles of `walk` that the package does not hold, each through
// `maps` as zarvo-serve draws its WMTS tiles, on a few threads, and puts
// each into the package as it is done. The threads take the tiles in the
// walk's order, so that they draw neighbours at the same time and share
// their source tiles.
class PyramidDrawing {
public:
    PyramidDrawing(const PyramidPlan& plan, TileWalk& walk, MapMaker& maps, tile_packages::TilePackageWriter& package,
                   ProgressStyle progress);

    // Draws until the walk ends, a tile fails or Stop is called. False,
    // with one line naming the tile, when a tile fails; Totals tells what
    // was done either way.
    bool Run(unsigned threads, std::string& error);

    // Asks the threads to end after the tiles they are drawing; from any
    // thread (a signal's).
    void Stop() { stop = true; }
    bool Stopped() const { return stop.load(); }

    PyramidTotals Totals() const;

private:
    // One drawing thread; nothing thrown leaves it.
    void Work();
    // Draws one tile; false when it failed (the failure is kept).
    bool Draw(const tile_packages::PyramidTile& tile);
    void Fail(const tile_packages::PyramidTile& tile, const std::string& why);
    void Advance(uint64_t PyramidTotals::*counter);

    const PyramidPlan& plan;
    TileWalk& walk;
    MapMaker& maps;
    tile_packages::TilePackageWriter& package;

    std::atomic<bool> stop{false};
    std::mutex walkMutex;            // the walk
    mutable std::mutex totalsMutex;  // the totals, the progress and the failure
    PyramidTotals totals;
    PyramidProgress progress;
    std::string failure;
};
