#include "serve/mercator_render.h"

#include <cstring>

bool SecondRowLandsOn(double north, double south) {
    // The plug-in's step for two rows and its latitude of row 1.
    const double step = (south - north) / static_cast<double>(1u);
    return north + static_cast<double>(1u) * step == south;
}

RenderResult RenderMercatorWindow(MapRenderer& renderer, const std::string& layer, const MercatorWindow& window) {
    RenderResult whole;
    const size_t stride = size_t{window.columns} * 3;
    try {
        whole.pixels.resize(stride * window.rows);
    } catch (const std::bad_alloc&) {
        whole.status = RenderStatus::OutOfMemory;
        whole.message = "out of memory";
        return whole;
    }
    MapWindow band;
    band.empty = false;
    band.columns = window.columns;
    band.west = window.west;
    band.east = window.east;
    band.zoom = window.zoom;
    for (uint32_t row = 0; row < window.rows; row += band.rows) {
        band.north = window.rowLatitudes[row];
        const bool pair = row + 1 < window.rows && SecondRowLandsOn(band.north, window.rowLatitudes[row + 1]);
        band.rows = pair ? 2 : 1;
        band.south = pair ? window.rowLatitudes[row + 1] : band.north;
        RenderResult drawn = renderer.Render(layer, band);
        if (drawn.status != RenderStatus::Ok) return drawn;
        std::memcpy(&whole.pixels[row * stride], drawn.pixels.data(), stride * band.rows);
    }
    whole.status = RenderStatus::Ok;
    return whole;
}
