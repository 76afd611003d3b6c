#include "serve/mercator_render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <future>
#include <thread>
#include <vector>

namespace {

// A window of fewer rows than this is drawn on the calling thread alone:
// starting a helper would cost more than it saves.
constexpr uint32_t kRowsPerHelper = 64;
constexpr unsigned kMaxHelpers = 3;

// The tiles under the whole window at its zoom, as one request over its box
// would list them (with the plug-in's margin of two world pixels): the
// bands together fetch no more, so an image may not need more than one
// request may hold, as in EPSG:4326.
double WindowTiles(const MercatorWindow& mercator) {
    const MapWindow& w = mercator.window;
    const double size = std::ldexp(256.0, w.zoom - 1);  // world pixels across at the zoom
    auto tileOf = [](double pixel) { return std::floor(pixel / 256.0); };
    const double x0 = (w.west / 360.0 + 0.5) * size, x1 = (w.east / 360.0 + 0.5) * size;
    auto y = [size](double lat) {
        const double s = std::sin(lat * (3.14159265358979323846 / 180.0));
        return (0.5 - std::log((1 + s) / (1 - s)) / (4 * 3.14159265358979323846)) * size;
    };
    const double columns = tileOf(x1 + 2) - tileOf(x0 - 2) + 1;
    const double rows = tileOf(y(w.south) + 2) - tileOf(y(w.north) - 2) + 1;
    return columns * rows;
}

struct Band {
    uint32_t row, rows;
};

// The bands of the window, north first.
std::vector<Band> PlanBands(const std::vector<double>& latitudes) {
    std::vector<Band> bands;
    bands.reserve(latitudes.size() / 2 + 1);
    for (uint32_t row = 0; row < latitudes.size();) {
        const bool pair = row + 1 < latitudes.size() && SecondRowLandsOn(latitudes[row], latitudes[row + 1]);
        bands.push_back(Band{row, pair ? 2u : 1u});
        row += bands.back().rows;
    }
    return bands;
}

// Draws bands [first, end) into `pixels`; the first failure, or Ok.
RenderResult DrawBands(MapRenderer& renderer, const std::string& layer, const MercatorWindow& mercator,
                       const std::vector<Band>& bands, size_t first, size_t end, uint8_t* pixels) {
    try {
        const size_t stride = size_t{mercator.window.columns} * 3;
        MapWindow request = mercator.window;
        std::chrono::steady_clock::duration tileTime{};
        for (size_t b = first; b < end; ++b) {
            request.rows = bands[b].rows;
            request.north = mercator.rowLatitudes[bands[b].row];
            request.south = mercator.rowLatitudes[bands[b].row + bands[b].rows - 1];
            RenderResult drawn = renderer.Render(layer, request);
            if (drawn.status != RenderStatus::Ok) return drawn;
            tileTime += drawn.tileTime;
            std::memcpy(pixels + bands[b].row * stride, drawn.pixels.data(), stride * request.rows);
        }
        RenderResult done{RenderStatus::Ok, "", {}};
        done.tileTime = tileTime;
        return done;
    } catch (const std::bad_alloc&) {
        return RenderResult{RenderStatus::OutOfMemory, "out of memory", {}};
    } catch (const std::exception& e) {
        return RenderResult{RenderStatus::Failed, e.what(), {}};
    }
}

}  // namespace

bool SecondRowLandsOn(double north, double south) {
    // The plug-in's step for two rows and its latitude of row 1.
    const double step = (south - north) / static_cast<double>(1u);
    return north + static_cast<double>(1u) * step == south;
}

RenderResult RenderMercatorWindow(MapRenderer& renderer, const std::string& layer, const MercatorWindow& window) {
    RenderResult whole;
    const double tiles = WindowTiles(window);
    if (!(tiles <= static_cast<double>(renderer.TileBudget()))) {
        whole.status = RenderStatus::TooManyTiles;
        whole.message = "the image needs about " + std::to_string(static_cast<long long>(std::min(tiles, 1e15))) +
                        " tiles, more than the " + std::to_string(renderer.TileBudget()) + " one image may use";
        return whole;
    }
    std::vector<Band> bands;
    try {
        whole.pixels.resize(size_t{window.window.columns} * 3 * window.window.rows);
        bands = PlanBands(window.rowLatitudes);
    } catch (const std::bad_alloc&) {
        whole.status = RenderStatus::OutOfMemory;
        whole.message = "out of memory";
        return whole;
    }
    // Bands are independent requests: tall windows share them out among a
    // few helpers, each drawing a run of bands into its own rows.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t parts = std::min<size_t>({cores, kMaxHelpers + 1, window.window.rows / kRowsPerHelper + 1});
    std::vector<std::future<RenderResult>> helpers;
    const size_t share = (bands.size() + parts - 1) / parts;
    for (size_t part = 1; part < parts; ++part) {
        const size_t first = std::min(bands.size(), part * share), end = std::min(bands.size(), first + share);
        try {
            helpers.push_back(std::async(std::launch::async, DrawBands, std::ref(renderer), std::cref(layer),
                                         std::cref(window), std::cref(bands), first, end, whole.pixels.data()));
        } catch (const std::exception&) {
            // No thread to be had: this thread draws that part too.
            RenderResult drawn = DrawBands(renderer, layer, window, bands, first, end, whole.pixels.data());
            if (drawn.status != RenderStatus::Ok) return drawn;
            whole.tileTime += drawn.tileTime;
        }
    }
    RenderResult mine = DrawBands(renderer, layer, window, bands, 0, std::min(bands.size(), share), whole.pixels.data());
    whole.tileTime += mine.tileTime;
    for (std::future<RenderResult>& helper : helpers) {
        RenderResult drawn = helper.get();  // DrawBands throws nothing
        whole.tileTime += drawn.tileTime;
        if (mine.status == RenderStatus::Ok && drawn.status != RenderStatus::Ok) mine = std::move(drawn);
    }
    if (mine.status != RenderStatus::Ok) return mine;
    whole.status = RenderStatus::Ok;
    return whole;
}
