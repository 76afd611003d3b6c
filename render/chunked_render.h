#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/placement.h"
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

// Draws every segment of `plan` with `host`, one request each, and writes
// it into `output` as it comes, under one progress display. False, with one
// line in `error`, at the first request that fails.
bool DrawPlan(RenderHost& host, const RenderPlan& plan, int32_t layerId, RasterOutput& output, ProgressStyle progress,
              RenderTotals& totals, std::string& error);
