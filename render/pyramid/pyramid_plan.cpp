#include "render/pyramid/pyramid_plan.h"

#include <algorithm>
#include <cmath>

#include "drawing/map_grid.h"
#include "projection/mercator.h"

namespace {

// Where a point lies in the set's level-0 matrix, in tiles from its
// top-left corner. A level's place is this times 2^level, exactly, so that
// the tiles a level covers are the parents of those of the level below.
struct MatrixPoint {
    double x = 0, y = 0;
};

MatrixPoint Level0Point(const TileMatrixSet& set, double lon, double lat) {
    if (set.mapCrs == MapCrs::WebMercator) {
        // MercatorX and MercatorY in a world of one 256-pixel tile.
        return {MercatorX(lon, 1.0) / 256.0, MercatorY(lat, 1.0) / 256.0};
    }
    return {(lon - set.left) / set.level0TileSpan, (set.top - lat) / set.level0TileSpan};
}

// [floor(from * 2^level), ceil(to * 2^level)) within [0, size).
void CoverRange(double from, double to, int32_t level, uint32_t size, uint32_t& first, uint32_t& count) {
    const double low = std::floor(std::ldexp(from, level));
    const double high = std::ceil(std::ldexp(to, level));
    const double clampedLow = std::min<double>(std::max(low, 0.0), size);
    const double clampedHigh = std::min<double>(std::max(high, clampedLow), size);
    first = static_cast<uint32_t>(clampedLow);
    count = static_cast<uint32_t>(clampedHigh - clampedLow);
}

tile_packages::GeoArea Coverage(const TileMatrixSet& set) {
    if (set.mapCrs == MapCrs::WebMercator) return {-180.0, kWorldSouth, 180.0, kWorldNorth};
    return {-180.0, -90.0, 180.0, 90.0};
}

}  // namespace

uint64_t PyramidPlan::TileCount() const {
    uint64_t count = 0;
    for (const LevelTiles& level : levels) count += level.Count();
    return count;
}

bool PlanPyramid(const PyramidOptions& options, const std::string& layer,
                 const std::optional<tile_packages::GeoArea>& area, int32_t maxZoom, PyramidPlan& plan,
                 std::string& error) {
    plan = PyramidPlan{};
    // 512-pixel tiles are those of the set's twin, as every door serves them.
    const TileMatrixSet& set =
        options.tileSize == 512 ? *HiDpiTwin(TileMatrixSetOf(options.set)) : TileMatrixSetOf(options.set);
    const int32_t highest = HighestTileMatrix(maxZoom);
    if (options.maxLevel > highest) {
        error = "--levels " + std::to_string(options.minLevel) + "-" + std::to_string(options.maxLevel) +
                ": the tiles hold levels 0 to " + std::to_string(highest) + " of " + set.identifier +
                " (as zarvo-serve offers them over the same tiles)";
        return false;
    }
    const tile_packages::GeoArea whole = Coverage(set);
    tile_packages::GeoArea asked = area.value_or(whole);
    asked.south = std::max(asked.south, whole.south);
    asked.north = std::min(asked.north, whole.north);
    if (!(asked.south < asked.north)) {
        error = "the area lies beyond the edges of " + std::string(set.identifier) + " (latitudes " +
                std::to_string(whole.south) + " to " + std::to_string(whole.north) + ")";
        return false;
    }
    plan.set = &set;
    plan.layer = layer;
    plan.format = options.format;
    plan.writeEmpty = options.writeEmpty;
    plan.area = asked;
    const MatrixPoint northWest = Level0Point(set, asked.west, asked.north);
    const MatrixPoint southEast = Level0Point(set, asked.east, asked.south);
    for (int32_t level = options.minLevel; level <= options.maxLevel; ++level) {
        LevelTiles tiles;
        tiles.level = level;
        CoverRange(northWest.x, southEast.x, level, MatrixWidth(set, level), tiles.column0, tiles.columns);
        CoverRange(northWest.y, southEast.y, level, MatrixHeight(set, level), tiles.row0, tiles.rows);
        if (tiles.Count() == 0) {
            error = "the area covers no tile of " + std::string(set.identifier) + " at level " + std::to_string(level);
            return false;
        }
        // The zoom rule depends on the size of a tile's pixels, which is
        // one at each level of these sets: any tile of the level tells it.
        const MapRequest map = TileMap(layer, set, level, tiles.row0, tiles.column0, options.format);
        tiles.sourceZoom = MapZoom(map.box, map.crs, map.width, map.height, maxZoom);
        if (!plan.levels.empty() && plan.levels.back().sourceZoom == tiles.sourceZoom) {
            plan.passes.back().last = plan.levels.size();
        } else {
            plan.passes.push_back(PyramidPass{plan.levels.size(), plan.levels.size()});
        }
        plan.levels.push_back(tiles);
    }
    return true;
}

tile_packages::PyramidDescription DescribePyramid(const PyramidPlan& plan, const LayerTexts& texts) {
    tile_packages::PyramidDescription d;
    const TileMatrixSet& set = *plan.set;
    d.set.identifier = set.identifier;
    d.set.epsg = set.mapCrs == MapCrs::WebMercator ? 3857 : 4326;
    d.set.left = set.left;
    d.set.top = set.top;
    d.set.tileSpan = set.level0TileSpan;
    d.set.columns = set.level0Columns;
    d.set.rows = set.level0Rows;
    d.tileSize = static_cast<int>(set.tileSize);
    switch (plan.format) {
        case ImageFormat::Png: d.format = tile_packages::TileFormat::Png; break;
        case ImageFormat::Jpeg: d.format = tile_packages::TileFormat::Jpeg; break;
        case ImageFormat::Webp: d.format = tile_packages::TileFormat::Webp; break;
    }
    d.minLevel = plan.levels.front().level;
    d.maxLevel = plan.levels.back().level;
    d.area = plan.area;
    d.name = texts.name;
    d.description = texts.description;
    d.attribution = texts.attribution;
    return d;
}
