#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line/command_line.h"
#include "host/placement.h"
#include "host/tile_intake.h"
#include "render/output_claim.h"
#include "render/pyramid/pyramid_options.h"
#include "render/raster_output.h"

// What zarvo-render was asked to do.
struct RenderOptions {
    RenderMode mode = RenderMode::Raster;
    PyramidOptions pyramid;  // a pyramid's own options
    std::string layer;
    int32_t zoom = 0;       // 0: --zoom auto
    int32_t maxZoom = 0;    // the deepest --zoom auto picks; 0: the deepest the source holds
    // The box: pixel centres on its edges (--bbox), or its outer edges (-te).
    bool edges = false;
    double west = 0, south = 0, east = 0, north = 0;  // east > west; east may pass 180
    uint32_t width = 0, height = 0;                   // from --size/-ts, or -tr
    std::string tiles;   // see MakeTileSource
    std::string plugin;  // empty: the library next to the program
    int32_t layerId = 1;
    OutputSettings output;
    OutputRules outputRules;
    bool pluginGrid = false;
    uint32_t chunkIndex = 0, chunkCount = 0;  // --chunk K/N: K of 1..N; 0: the whole grid
    MissingTiles missing = MissingTiles::Blank;
    uint64_t memoryBudgetBytes = uint64_t{2048} << 20;
    FetchLimits limits;
    bool quiet = false;
    bool verbose = false;

    // The output grid (the whole one, before --chunk).
    PixelGrid Grid() const;
};

// Reads zarvo-render's arguments (those after its name) into `options`;
// the outcome says whether to render, or carries the help, the version
// line, or one line saying what is wrong. --help and --version need
// nothing else.
CommandLineOutcome ParseRenderOptions(const std::vector<std::string>& args, const std::string& version,
                                      RenderOptions& options);
