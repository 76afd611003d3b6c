#pragma once

#include <string>

// The plug-in lists one tile column past the world's east edge for a box
// within two pixels of the antimeridian (its cover reaches one pixel east
// of every sample). No tile server has that column; longitude wraps, so it
// is column 0 of the same zoom and row. Returns the address with its
// column wrapped into the world, or unchanged when it already is or is not
// a tile address.
std::string WrapTileColumn(const std::string& url);
