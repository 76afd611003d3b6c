#pragma once

#include <cstdint>
#include <string>

// The highest plug-in zoom at which a tile directory in the service layout
// (DIR/LAYER/Z/X/Y.EXT, Z = zoom - 1) holds every served layer, or 0 when
// it holds none.
int32_t HighestZoomInDirectory(const std::string& directory);
