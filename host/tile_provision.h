#pragma once

// The tiles of one job, from the addresses the plug-in lists to the views it
// draws from: every host program provides its tiles through this, and keeps
// only where they are fetched from and its own limits.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>

#include "host/plugin_host.h"
#include "host/tile_cache.h"
#include "projection/world_tile.h"

// How a host treats tile k of a request's address list. The plug-in lists
// rows beyond the world's edges (and gives them a fixed stand-in tile's
// address) and columns east of the last one (at addresses no service has).
// Hosts fetch neither: a row outside the world is drawn blank, and a column
// past the last is the column that many worlds west.
struct TileSlot {
    WorldTileKey place;     // where the listed tile lies
    // In the world: the tile, held under where it lies (layer, zoom, column
    // and row in the world) and fetched from its address in the world; or,
    // when the listed address is not the service's address of that tile
    // (`asListed`), held and fetched as it is.
    WantedTile tile;
    bool asListed = false;

    bool OutsideWorld() const { return place.OutsideWorld(); }  // a blank, never fetched
};

// The slots of the address list `listed` the plug-in made for `request`.
// False when the list does not match the request's tile grid.
bool PlanTileSlots(const DataRequestBlock& request, const std::vector<std::string>& listed,
                   std::vector<TileSlot>& slots);

// What a program brings to the provision of a job's tiles.
struct TileProvision {
    explicit TileProvision(TileCache& cache) : cache(cache) {}

    TileCache& cache;
    // How the tiles no other job holds or is fetching are fetched. Null: by
    // the cache's fetch threads, and a tile not there by `deadline` fails
    // the job as TileLate. Otherwise by `fetch` on the provider's thread
    // (with a tile source of its own), without a deadline of the cache's.
    TileBatchFetcher fetch;
    TileCache::Clock::time_point deadline = TileCache::Clock::time_point::max();
    // With `fetch`: the job is one part of a drawing made west to east and
    // north to south, so of its tiles only its east column and its south
    // row can be needed again (by the parts east of it and below it); the
    // others are the first to leave the cache.
    bool partsInRowOrder = false;
    // False, with one line why in `error`, when the job needs more tiles
    // (to fetch, rows outside the world not counted) than the program
    // allows; checked before any tile is taken. Null: no bound.
    std::function<bool(size_t tiles, std::string& error)> fitsBudget;
    // Held from before the tiles are taken until the plug-in has drawn
    // them, which may block (a program's bound on the tiles all its jobs
    // hold at once). Null: nothing is held.
    std::function<std::shared_ptr<const void>(size_t tiles)> hold;
    // How a tile that could not be had is named: "<verb> tile ADDRESS
    // (level, column, row): why", ADDRESS the file path or URL tried.
    // Empty: "cannot fetch", or "cannot decode" for a tile that was fetched
    // but is no tile.
    std::string failureVerb;
};

// The tiles for the job of `request`, whose addresses the plug-in listed
// as `listed`: one view per address, the blank tile for rows outside the
// world, owned by the result's `keep`. Of the tiles that fail, the one
// reported is the first in address order that failed itself, not one
// skipped because of it: TileLate when it was not there by the deadline,
// TileUndecodable when it was fetched but is no tile, else TileMissing.
ProvidedTiles ProvideJobTiles(const DataRequestBlock& request, const std::vector<std::string>& listed,
                              const TileProvision& provision);
