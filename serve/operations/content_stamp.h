#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The tile source's part of what an answer depends on: a tile directory's
// newest change down to DIR/LAYER/Z/X (not each tile: a tile replaced in
// place, without a new file name, is not seen until its folder changes),
// an MBTiles file's, or for a server or a template the source's own text.
struct TileSetStamp {
    std::string tiles;
    std::time_t lastModified = 0;  // the newest change of what it was made from; 0 when unknown
};

// What an answer depends on besides its request: the plug-in that draws it,
// the tiles it is drawn from and where it asks the plug-in to sample them,
// the deepest zoom drawn, the server's own version, and the operator's
// texts. Entity tags are made from these, so they are the same in every
// instance that serves the same plug-in and tiles alike.
struct ContentStamp {
    std::string plugin;         // a hash of the plug-in file's bytes
    TileSetStamp tiles;         // as at the start; the service looks again while it runs
    std::string placement;      // "centres", or "plugin-grid" for the plug-in's own positions
    int32_t maxZoom = 0;        // the deepest plug-in zoom drawn: which WMTS tiles exist
    std::string version;        // the server's: its encoders shape the answers too
    // What the capabilities say besides the tiles' credits: the bytes of
    // --service-metadata's file, "" for the built-in texts.
    std::string description;
    // The newest change of the files besides the tiles that answers are
    // made from (the program, the plug-in, the operator's texts): no answer
    // is older.
    std::time_t filesModified = 0;
};

// Reads the plug-in file and stamps the tile source.
ContentStamp StampContent(const std::string& pluginPath, const std::string& tileSource);

// Looks at the tile source's folders (a directory) or file (MBTiles); the
// text of anything else.
TileSetStamp StampTileSet(const std::string& tileSource);

// The newest change of a file, 0 when it cannot be seen.
std::time_t FileModified(const std::string& path);
