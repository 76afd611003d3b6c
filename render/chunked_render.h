#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/placement.h"
#include "host/plugin_host.h"
#include "host/tile_source.h"
#include "render/progress.h"
#include "render/raster_output.h"
#include "render/render_host.h"

// What a whole render came to, over all its requests.
struct RenderTotals {
    size_t requests = 0;
    size_t tiles = 0;       // fetched (rows outside the world are not)
    size_t missing = 0;     // drawn blank
    std::string firstMissing;
    uint64_t tileBytes = 0;
};

struct DrawSettings {
    RenderSettings render;  // per request in flight: its memory budget is its share
    int32_t layerId = 1;
    unsigned threads = 2;   // requests in flight at once
    Progress* progress = nullptr;  // told of the pixels drawn; null: none
};

// A tile source of its own for each thread that draws.
using TileSourceFactory = std::function<std::unique_ptr<TileSource>(std::string& error)>;

// Draws every segment of `plan` with `host`, one request each and several
// in flight, and writes each into `output` as it is done, telling
// settings.progress (its caller ends its line). False, with one line in `error`, when a request fails
// (of several, the earliest in the plan); nothing more is started then.
bool DrawPlan(PluginHost& host, const RenderPlan& plan, const TileSourceFactory& sources, const DrawSettings& settings,
              RasterOutput& output, RenderTotals& totals, std::string& error);
