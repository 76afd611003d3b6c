#include "render/pyramid/pyramid_drawing.h"

#include <exception>
#include <new>
#include <thread>
#include <vector>

#include "drawing/map_grid.h"
#include "drawing/tile_matrix_sets.h"

namespace {

std::string Where(const tile_packages::PyramidTile& tile) {
    return "level " + std::to_string(tile.level) + " column " + std::to_string(tile.column) + " row " +
           std::to_string(tile.row);
}

}  // namespace

PyramidDrawing::PyramidDrawing(const PyramidPlan& plan, TileWalk& walk, MapMaker& maps,
                               tile_packages::TilePackageWriter& package, ProgressStyle progress)
    : plan(plan), walk(walk), maps(maps), package(package), progress(progress, stderr, walk.Count()) {}

bool PyramidDrawing::Run(unsigned threads, std::string& error) {
    progress.Update(0, 0);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back([this] { Work(); });
        } catch (const std::exception&) {
            break;  // no thread to be had: fewer draw
        }
    }
    Work();
    for (std::thread& helper : helpers) helper.join();
    const std::lock_guard<std::mutex> lock(totalsMutex);
    progress.Finish();
    error = failure;
    return failure.empty();
}

PyramidTotals PyramidDrawing::Totals() const {
    const std::lock_guard<std::mutex> lock(totalsMutex);
    return totals;
}

void PyramidDrawing::Work() {
    tile_packages::PyramidTile tile;
    try {
        while (!stop) {
            {
                const std::lock_guard<std::mutex> lock(walkMutex);
                if (!walk.Next(tile)) return;
            }
            if (!Draw(tile)) return;
        }
    } catch (const std::bad_alloc&) {
        Fail(tile, "out of memory");
    } catch (const std::exception& e) {
        Fail(tile, e.what());
    } catch (...) {
        Fail(tile, "failed");
    }
}

bool PyramidDrawing::Draw(const tile_packages::PyramidTile& tile) {
    if (package.IsPresent(tile)) {
        Advance(&PyramidTotals::present);
        return true;
    }
    const MapRequest map = TileMap(plan.layer, *plan.set, tile.level, tile.row, tile.column, plan.format);
    // Tiles wholly beyond the world's edges are known before drawing.
    if (!plan.writeEmpty && !MapTouchesTheWorld(map)) {
        Advance(&PyramidTotals::empty);
        return true;
    }
    const EncodedMap made = maps.Make(map);
    if (made.failure) {
        Fail(tile, made.failure->message);
        return false;
    }
    if (!plan.writeEmpty && made.statistics.tiles == 0) {
        Advance(&PyramidTotals::empty);
        return true;
    }
    std::string error;
    if (!package.Put(tile, reinterpret_cast<const uint8_t*>(made.bytes.data()), made.bytes.size(), error)) {
        Fail(tile, error);
        return false;
    }
    Advance(&PyramidTotals::drawn);
    return true;
}

void PyramidDrawing::Advance(uint64_t PyramidTotals::*counter) {
    const std::lock_guard<std::mutex> lock(totalsMutex);
    ++(totals.*counter);
    progress.Update(totals.drawn + totals.present + totals.empty, totals.drawn);
}

void PyramidDrawing::Fail(const tile_packages::PyramidTile& tile, const std::string& why) {
    stop = true;
    const std::lock_guard<std::mutex> lock(totalsMutex);
    // The first failure is the one told.
    if (failure.empty()) failure = "the tile at " + Where(tile) + ": " + why;
}
