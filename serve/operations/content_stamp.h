#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// What an answer depends on besides its request: the plug-in that draws it,
// the tiles it is drawn from and where it asks the plug-in to sample them,
// the deepest zoom drawn, the server's own version, and the operator's
// texts. Entity tags are made from these, so they are the same in every
// instance that serves the same plug-in and tiles alike.
struct ContentStamp {
    std::string plugin;         // a hash of the plug-in file's bytes
    std::string tiles;          // a tile directory's newest change, or a tile server's address
    std::time_t lastModified = 0;  // the newest change of a tile directory; 0 for a server
    std::string placement;      // "centres", or "plugin-grid" for the plug-in's own positions
    int32_t maxZoom = 0;        // the deepest plug-in zoom drawn: which WMTS tiles exist
    std::string version;        // the server's: its encoders shape the answers too
    // What the capabilities say besides the tiles' credits: the bytes of
    // --service-metadata's file, "" for the built-in texts.
    std::string description;
};

// Reads the plug-in file and looks at the tile directory's folders down to
// DIR/LAYER/Z/X (not at each tile: a tile replaced in place, without a new
// file name, is not seen until the folder changes).
ContentStamp StampContent(const std::string& pluginPath, const std::string& tileSource);
