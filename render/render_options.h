#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What zarvo-render was asked to do.
struct RenderOptions {
    std::string layer;
    int32_t zoom = 0;
    double west = 0, south = 0, east = 0, north = 0;
    uint32_t width = 0, height = 0;
    std::string tiles;  // a directory, or http://HOST:PORT
    std::string out;
    std::string plugin = "build/libzarvo_data_plugin.so";
    int32_t layerId = 1;
    bool quiet = false;
};

extern const char kRenderUsage[];

// False, with one line saying what is wrong in `error`, for a bad or
// missing argument.
bool ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options, std::string& error);
