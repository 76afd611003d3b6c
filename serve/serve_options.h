#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line/command_line.h"

// What zarvo-serve was asked to do.
struct ServeOptions {
    std::string tiles;           // any source zarvo-render takes: a directory, a path or URL template, MBTiles, a server
    std::string bind = "127.0.0.1";
    int port = 8080;             // 0: any free port, printed when bound
    std::string plugin;          // empty: next to the executable, else through its RUNPATH
    std::string web;             // the map page's files; empty: the installed ones, else those built with it
    size_t cacheMegabytes = 256;
    int32_t maxZoom = 0;         // 0: what a tile directory holds, else 21
    size_t threads = 0;          // workers that draw maps; 0: one per core
    size_t connections = 1024;   // open at once; more are answered 503
    std::string serviceMetadata; // a JSON file describing the service in its capabilities; empty: defaults
    // Where clients reach the service, e.g. https://maps.example.org/wms-root/
    // (normalized, ending in '/'); empty: from the request.
    std::string publicUrl;
    bool trustProxy = false;     // take the address from Forwarded / X-Forwarded-* headers
    bool pluginGrid = false;     // the plug-in's own positions, not half a tile pixel north-west
    int maxAgeSeconds = 3600;    // Cache-Control max-age of maps and capabilities
    std::vector<std::string> corsOrigins;  // empty: no CORS headers; "*", or origins
    std::string accessLog = "-"; // "-": standard output; "off": none; else a file appended to
};

// Reads zarvo-serve's arguments (those after its name) into `options`;
// the outcome says whether to serve, or carries the help, the version
// line, or one line saying what is wrong.
CommandLineOutcome ParseServeOptions(const std::vector<std::string>& args, const std::string& version,
                                     ServeOptions& options);
