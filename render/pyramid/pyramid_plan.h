#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drawing/map_request.h"
#include "drawing/tile_matrix_sets.h"
#include "render/pyramid/pyramid_options.h"
#include "tile_packages/pyramid.h"

// The tiles of one level that cover the area: columns [column0, column0 +
// columns) and rows [row0, row0 + rows) of the level's matrix, rows from
// the north.
struct LevelTiles {
    int32_t level = 0;
    uint32_t column0 = 0, columns = 0, row0 = 0, rows = 0;
    // The plug-in zoom the level's tiles are drawn from, by the drawing's
    // zoom rule.
    int32_t sourceZoom = 1;

    uint64_t Count() const { return uint64_t{columns} * rows; }
};

// Consecutive levels drawn from one source zoom (those the zoom rule caps
// at the deepest zoom of the tiles): drawn together, so that a source tile
// serves every level while it is held. Indices into PyramidPlan::levels.
struct PyramidPass {
    size_t first = 0, last = 0;  // `last` is the deepest level
};

// A whole pyramid: the levels' tiles over the area, coarsest first, and
// the passes they are drawn in.
struct PyramidPlan {
    const TileMatrixSet* set = nullptr;
    std::string layer;
    ImageFormat format = ImageFormat::Png;
    bool writeEmpty = false;
    tile_packages::GeoArea area;  // degrees, within the set's coverage
    std::vector<LevelTiles> levels;
    std::vector<PyramidPass> passes;

    uint64_t TileCount() const;
};

// The plan of the pyramid `options` asks for over `area` (degrees; none:
// the whole set) for `layer`, whose tiles are drawn at plug-in zooms up to
// `maxZoom`, as zarvo-serve draws its WMTS tiles. False, with one line,
// for levels beyond those zarvo-serve offers over the same tiles, and for
// an area with no tile of the set.
bool PlanPyramid(const PyramidOptions& options, const std::string& layer,
                 const std::optional<tile_packages::GeoArea>& area, int32_t maxZoom, PyramidPlan& plan,
                 std::string& error);

// What a package stores of the plan: the set's grid, the levels, the area
// and the layer's texts.
struct LayerTexts {
    std::string name, description, attribution;
};
tile_packages::PyramidDescription DescribePyramid(const PyramidPlan& plan, const LayerTexts& texts);
