#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The grids a map may be drawn on: longitude/latitude (EPSG:4326, CRS:84)
// or spherical Mercator in metres (EPSG:3857).
enum class MapCrs { LonLat, WebMercator };
enum class ImageFormat { Png, Jpeg };

// A map's outer edges in the units of its grid: degrees, longitude first
// whatever the axis order it was asked in, or metres in EPSG:3857 (west =
// min x, north = max y).
struct MapBox {
    double west = 0, south = 0, east = 0, north = 0;
};

// One map to draw, whichever door asked for it.
struct MapRequest {
    std::string layer;
    MapCrs crs = MapCrs::LonLat;
    MapBox box;
    uint32_t width = 0, height = 0;
    ImageFormat format = ImageFormat::Png;
    uint32_t background = 0xFFFFFF;  // 0xRRGGBB: fills what lies outside the tiles
    // A PNG whose pixels beyond the world's north and south edges are
    // transparent (their colour still the background).
    bool transparent = false;
};

// Everything of `map` that shapes its image, the box to the bit, as text:
// maps of the same identity are drawn alike (entity tags are made of it).
std::string MapIdentity(const MapRequest& map);

// The names of the layers served, in the order the capabilities list them.
const std::vector<std::string>& ServedLayers();

// Names as a sentence lists them: "map, aerial and hybrid".
std::string ListedNames(const std::vector<std::string>& names);
