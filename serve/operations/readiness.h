#pragma once

#include <string>

// Whether the tile source can be used now: a directory that exists and can
// be read, or a server that takes a connection within a few seconds. False,
// with one line naming the source in `why`.
bool TileSourceReachable(const std::string& source, std::string& why);
