#pragma once

// The tile intake zarvo-serve takes from the shared host code, in the shape
// its cache uses.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/tile_cache.h"

// A batch of tile fetches ends within this, shorter than a map request's
// deadline, so that a stalling source frees its fetch thread in time.
constexpr std::chrono::milliseconds kServeFetchDeadline{8000};

// Fetches tiles from any source zarvo-render takes (a directory in the
// service layout, http://HOST:PORT, a URL template), within the shared
// host's limits, and decodes them into 256 x 256 RGB tiles; a tile the
// source does not have becomes the shared blank tile. Null, with the reason
// in `error`, for a source that cannot be used.
TileBatchFetcher MakeTileFetcher(const std::string& source, std::string& error);
