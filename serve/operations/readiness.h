#pragma once

#include <string>

// Whether the tile source can be used, and if not, one line naming it and
// why.
struct Readiness {
    bool ready = false;
    std::string why;
};

// Looks at the tile source: a directory or an MBTiles file that exists and
// can be read (for a path template, the directory before its first
// placeholder), or a server that takes a connection within two seconds.
// It may wait that long: the service asks on a thread of its own.
Readiness CheckTileSource(const std::string& source);

// Whether looking at `source` may wait (for the network).
bool TileSourceIsRemote(const std::string& source);
