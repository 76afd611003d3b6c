#include "serve/drawing/map_drawing.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <future>
#include <thread>
#include <unordered_set>
#include <vector>

#include "projection/tile_range.h"
#include "projection/world_tile.h"

namespace {

// An image of fewer segments than this is drawn on the calling thread
// alone: starting a helper would cost more than it saves.
constexpr size_t kSegmentsPerHelper = 32;
constexpr unsigned kMaxHelpers = 3;
// The requests one image may take: an EPSG:3857 image's rows in pairs, its
// columns in a few blocks, with room to spare.
constexpr size_t kMaxSegments = 4096;

RenderResult Failure(RenderFailure failure, std::string message) {
    RenderResult result;
    result.failure = failure;
    result.message = std::move(message);
    return result;
}

// The distinct tiles of the world the segments draw from, counted up to one
// past `allowed`: neighbouring segments (an EPSG:3857 image's pairs of
// rows) share most of theirs.
size_t DistinctTiles(const RenderPlan& plan, size_t allowed) {
    std::unordered_set<uint64_t> seen;
    for (const Segment& segment : plan.segments) {
        if (segment.nodata) continue;
        const TileRange range = RequestTileRange(segment.request);
        for (size_t k = 0; k < range.Count(); ++k) {
            const WorldTileKey tile = LocateWorldTile(range.Key(k));
            if (tile.OutsideWorld()) continue;
            seen.insert(static_cast<uint64_t>(tile.row) << 32 | static_cast<uint64_t>(tile.column));
            if (seen.size() > allowed) return seen.size();
        }
    }
    return seen.size();
}

void Fill(std::vector<uint8_t>& image, uint32_t width, const Segment& segment, uint32_t background) {
    const uint8_t colour[3] = {static_cast<uint8_t>(background >> 16), static_cast<uint8_t>(background >> 8),
                               static_cast<uint8_t>(background)};
    for (uint32_t row = segment.row0; row < segment.row0 + segment.rows; ++row) {
        uint8_t* pixel = &image[(size_t{row} * width + segment.column0) * 3];
        for (uint32_t column = 0; column < segment.columns; ++column, pixel += 3) std::memcpy(pixel, colour, 3);
    }
}

struct Job {
    MapRenderer& renderer;
    const std::string& layer;
    const RenderPlan& plan;
    uint32_t width;
    size_t allowed;
    uint32_t background;
    TileCache::Clock::time_point deadline;
    std::vector<uint8_t>& image;
};

// Draws segments [first, end) into the image; the first failure, or Ok.
RenderResult DrawSegments(const Job& job, size_t first, size_t end) {
    try {
        RenderResult done;
        for (size_t s = first; s < end; ++s) {
            const Segment& segment = job.plan.segments[s];
            if (segment.nodata) {
                Fill(job.image, job.width, segment, job.background);
                continue;
            }
            RenderResult drawn = job.renderer.Render(job.layer, segment.request, job.allowed, job.deadline);
            if (!drawn.Ok()) return drawn;
            done.tileTime += drawn.tileTime;
            // The request may have a column and a row more than the segment.
            const size_t stride = size_t{segment.request.width} * 3;
            for (uint32_t row = 0; row < segment.rows; ++row) {
                std::memcpy(&job.image[((size_t{segment.row0} + row) * job.width + segment.column0) * 3],
                            &drawn.pixels[row * stride], size_t{segment.columns} * 3);
            }
        }
        return done;
    } catch (const std::bad_alloc&) {
        return Failure(RenderFailure::OutOfMemory, "out of memory");
    } catch (const std::exception& e) {
        return Failure(RenderFailure::HostFailure, e.what());
    }
}

}  // namespace

RenderResult DrawMap(MapRenderer& renderer, const std::string& layer, const PixelGrid& grid,
                     const MapDrawing& drawing, TileCache::Clock::time_point deadline) {
    const size_t allowed = renderer.TileBudget(grid.width, grid.height);
    RenderResult whole;
    RenderPlan plan;
    try {
        SegmentLimits limits;
        limits.maxTiles = allowed;
        limits.maxSegments = kMaxSegments;
        plan = PlanRender(grid, PlacementPolicy{drawing.zoom, drawing.pluginGrid}, limits);
        // Refused alike whether the count or a single pixel's share of it
        // is too large.
        const std::string tooMany =
            "the image needs more tiles than the " + std::to_string(allowed) + " an image of its size may use";
        if (!plan.error.empty()) return Failure(RenderFailure::TooManyTiles, tooMany + " (" + plan.error + ")");
        whole.tiles = DistinctTiles(plan, allowed);
        if (whole.tiles > allowed) return Failure(RenderFailure::TooManyTiles, tooMany);
        // One request for the whole image: its raster is the image.
        const Segment* only = plan.segments.size() == 1 ? &plan.segments[0] : nullptr;
        if (only != nullptr && !only->nodata && only->request.width == grid.width &&
            only->request.height == grid.height) {
            RenderResult drawn = renderer.Render(layer, only->request, allowed, deadline);
            drawn.tiles = whole.tiles;
            return drawn;
        }
        whole.pixels.resize(size_t{grid.width} * grid.height * 3);
    } catch (const std::bad_alloc&) {
        return Failure(RenderFailure::OutOfMemory, "out of memory");
    }
    const Job job{renderer, layer, plan, grid.width, allowed, drawing.background, deadline, whole.pixels};
    // Segments are independent requests: images of many share them out
    // among a few helpers, each drawing a run of segments into its own pixels.
    const size_t segments = plan.segments.size();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t parts = std::min<size_t>({cores, kMaxHelpers + 1, segments / kSegmentsPerHelper + 1});
    const size_t share = (segments + parts - 1) / parts;
    std::vector<std::future<RenderResult>> helpers;
    RenderResult mine;
    for (size_t part = 1; part < parts && mine.Ok(); ++part) {
        const size_t first = std::min(segments, part * share), end = std::min(segments, first + share);
        try {
            helpers.push_back(std::async(std::launch::async, DrawSegments, std::cref(job), first, end));
        } catch (const std::exception&) {
            // No thread to be had: this thread draws that part too.
            mine = DrawSegments(job, first, end);
            whole.tileTime += mine.tileTime;
        }
    }
    if (mine.Ok()) {
        mine = DrawSegments(job, 0, std::min(segments, share));
        whole.tileTime += mine.tileTime;
    }
    for (std::future<RenderResult>& helper : helpers) {
        RenderResult drawn = helper.get();  // DrawSegments throws nothing
        whole.tileTime += drawn.tileTime;
        if (mine.Ok() && !drawn.Ok()) mine = std::move(drawn);
    }
    if (!mine.Ok()) return mine;
    return whole;
}
