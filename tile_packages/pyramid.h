#pragma once

#include <cstdint>
#include <string>

// What a tile package holds: the description of one pyramid of tiles that
// someone else draws and encodes. Every target stores this description
// whole, so that a package reopened, or parts to be merged, can be checked
// against the job that asks for them.
namespace tile_packages {

enum class TileFormat { Png, Jpeg, Webp };

// The grid of a tile matrix set as its numbers, so that this library needs
// no table of sets. Coordinates are in the set's CRS, x first (easting or
// longitude), then y (northing or latitude), whatever the CRS's axis order.
struct TileMatrixSet {
    std::string identifier;  // "WebMercatorQuad", "WorldCRS84Quad"
    int epsg = 0;            // 3857 or 4326: the CRS whose definition the GeoPackage carries
    double left = 0;         // the top-left corner of level 0
    double top = 0;
    double tileSpan = 0;     // the width and height of one level-0 tile, CRS units
    uint32_t columns = 0;    // the level-0 matrix; each level doubles both
    uint32_t rows = 0;
};

// Longitudes and latitudes in degrees, west < east, south < north.
struct GeoArea {
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;
};

// Levels above this are refused: a level-24 Web Mercator pixel is under a
// centimetre, and the packed tile keys have room for no more.
constexpr int kMaxLevel = 24;

struct PyramidDescription {
    TileMatrixSet set;
    int tileSize = 256;  // 256 or 512 pixels
    TileFormat format = TileFormat::Png;
    int minLevel = 0;    // the levels stored, both included
    int maxLevel = 0;
    GeoArea area;
    std::string name;    // the layer's name, description and attribution
    std::string description;
    std::string attribution;
    bool overlay = false;  // drawn to lie over a base map, rather than be one
};

// One tile of the pyramid: its level and its place in that level's matrix,
// rows counted from the north (from the top-left corner).
struct PyramidTile {
    int level = 0;
    uint32_t column = 0;
    uint32_t row = 0;
};

inline bool operator==(const PyramidTile& a, const PyramidTile& b) {
    return a.level == b.level && a.column == b.column && a.row == b.row;
}

// The matrix of one level: columns and rows.
uint64_t MatrixWidth(const TileMatrixSet& set, int level);
uint64_t MatrixHeight(const TileMatrixSet& set, int level);

// True for a description every target can take in principle: known CRS,
// sizes and levels in range, an area that is one. Otherwise false, with the
// field that is wrong.
bool CheckDescription(const PyramidDescription& description, std::string& error);

// True when the tile lies inside the description's levels and matrix.
bool InPyramid(const PyramidDescription& description, const PyramidTile& tile);

// The first field in which two descriptions differ, worded for a message
// ("tile size 512, not 256"), or empty when they are the same.
std::string FirstDifference(const PyramidDescription& stored, const PyramidDescription& asked);

// The file name extension of the format: "png", "jpg", "webp".
const char* FileExtension(TileFormat format);

// True when `bytes` begin as a file of `format` does, so that a tile of
// another format is refused before it is stored.
bool LooksLike(TileFormat format, const uint8_t* bytes, size_t size);

// The description as the JSON object every target stores ("tile_pyramid"),
// and back. The numbers survive the round trip exactly.
std::string DescriptionToJson(const PyramidDescription& description);
bool DescriptionFromJson(const std::string& json, PyramidDescription& description, std::string& error);

}  // namespace tile_packages
