#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/tile_intake.h"

// What zarvo-render was asked to do.
struct RenderOptions {
    enum class Action { Render, Help, Version };
    Action action = Action::Render;

    std::string layer;
    int32_t zoom = 0;
    double west = 0, south = 0, east = 0, north = 0;
    uint32_t width = 0, height = 0;
    std::string tiles;   // a directory, http://HOST:PORT or a URL template
    std::string out;
    std::string plugin;  // empty: the library next to the program
    int32_t layerId = 1;
    MissingTiles missing = MissingTiles::Blank;
    uint64_t memoryBudgetBytes = uint64_t{2048} << 20;
    FetchLimits limits;
    bool quiet = false;
    bool verbose = false;
};

extern const char kRenderUsage[];

// False, with one line saying what is wrong in `error`, for a bad or
// missing argument. --help and --version need nothing else.
bool ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options, std::string& error);
