#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What zarvo-serve was asked to do.
struct ServeOptions {
    std::string tiles;           // a directory in the service layout, or http://HOST:PORT
    std::string bind = "127.0.0.1";
    int port = 8080;             // 0: any free port, printed when bound
    std::string plugin;          // empty: next to the executable
    std::string web;             // the map page's files; empty: the ones built with the program
    size_t cacheMegabytes = 256;
    int32_t maxZoom = 0;         // 0: what a tile directory holds, else 21
    size_t threads = 32;         // an open keep-alive connection holds one
    std::string serviceMetadata; // a JSON file describing the service in its capabilities; empty: defaults
};

extern const char kServeUsage[];

// False, with one line saying what is wrong in `error`.
bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& options, std::string& error);
