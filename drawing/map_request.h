#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The grids a map may be drawn on: longitude/latitude (EPSG:4326, CRS:84)
// or spherical Mercator in metres (EPSG:3857).
enum class MapCrs { LonLat, WebMercator };
enum class ImageFormat { Png, Jpeg, Webp };

// Limits on what one map may ask for, whichever door asks; the documents
// advertise them.
constexpr uint32_t kMaxImageWidth = 2048;
constexpr uint32_t kMaxImageHeight = 2048;
// Coordinates past this many degrees (or, in EPSG:3857, this many
// kilometres) are nonsense in either axis; refusing them keeps every span
// and step finite.
constexpr double kMaxCoordinateMagnitude = 1.0e6;

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
    // PNG only: what lies outside the tiles is clear (opacity 0) instead.
    bool transparent = false;
    // Rows beyond the grid's own edges (latitudes past 90 degrees; in
    // EPSG:3857 north or south of its square, which are the world's edges):
    // by default as the rest outside the tiles.
    std::optional<uint32_t> voidColour;
    std::optional<bool> voidTransparent;
};

// Everything of `map` that shapes its image, the box to the bit, as text:
// maps of the same identity are drawn alike (entity tags are made of it).
std::string MapIdentity(const MapRequest& map);

// The names of the layers served, in the order the capabilities list them.
const std::vector<std::string>& ServedLayers();
// Whether `name` is among `layers`, the layers a service offers.
bool IsServedLayer(const std::string& name, const std::vector<std::string>& layers = ServedLayers());

// Names as a sentence lists them: "map, aerial and hybrid".
std::string ListedNames(const std::vector<std::string>& names);
