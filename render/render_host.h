#pragma once

// zarvo-render's side of the conversation with the plug-in: where its tiles
// come from. The conversation itself is host/plugin_host.h's.

#include <cstdint>
#include <string>

#include "host/plugin_host.h"
#include "host/tile_cache.h"
#include "host/tile_intake.h"
#include "host/tile_source.h"

struct RenderSettings {
    IntakeOptions intake;
    uint64_t memoryBudgetBytes = uint64_t{2048} << 20;
    // Decoded tiles shared with the other requests of the render, so that a
    // tile two neighbouring parts need is fetched once; null: none kept.
    TileCache* sharedTiles = nullptr;
};

// What the tile intake of one raster came to.
struct IntakeReport {
    size_t tiles = 0;           // fetched by this raster (not those it shared)
    size_t missing = 0;         // of those, tiles drawn blank
    std::string firstMissing;   // the first of them in address order
    uint64_t tileBytes = 0;     // encoded bytes fetched
};

// The tiles of the job of `request` from `source`, fetched and decoded on
// the thread the provider runs on, the missing ones drawn as the blank tile.
// Rows beyond the world's edges are not fetched (blank) and columns past
// the world's last are fetched as the columns they wrap to. A job whose
// decoded tiles would not fit the memory budget fails before a single tile
// is fetched. `report` is written by the provider's thread and read once
// the render has returned; `source` and `report` outlive the render.
TileProvider RenderTileProvider(TileSource& source, const RenderSettings& settings, const DataRequestBlock& request,
                                IntakeReport& report);
