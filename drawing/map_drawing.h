#pragma once

#include <string>

#include "drawing/map_renderer.h"
#include "host/placement.h"

// How a GetMap image is drawn: the hosts' shared placement, the plug-in
// asked half a tile pixel west and north of each pixel centre (or at the
// centres themselves, `pluginGrid`), so that every tile pixel's value lands
// where GIS tools place it; pixels whose centres lie beyond the world's
// edges in `background`; columns west of -180 or east of 180 drawn from the
// world they fall in.
struct MapDrawing {
    int32_t zoom = 1;
    bool pluginGrid = false;
    uint32_t background = 0xFFFFFF;  // 0xRRGGBB
};

// The image of `grid` (3 bytes per pixel, north first). Each of its
// segments is one DataRequest; an EPSG:3857 grid's rows come in pairs, as
// the plug-in samples a request's first row exactly at its `north` and its
// second exactly at its `south` when both lie on the placement's grid of
// positions, so every pixel is the plug-in's own sample at its position.
// Before any tile is fetched, the image is refused (TooManyTiles) when its
// segments together need more tiles than an image of its size may use.
// Tiles not there by `deadline` end the render as TileLate. When no pixel
// lies on the tiles, the result is Ok with no tiles and no DataRequest.
RenderResult DrawMap(MapRenderer& renderer, const std::string& layer, const PixelGrid& grid,
                     const MapDrawing& drawing,
                     TileCache::Clock::time_point deadline = TileCache::Clock::time_point::max());
