#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// What drawing one map came to besides its image: the zoom and the tiles
// it was drawn from, and where its time went.
struct MapStatistics {
    using Duration = std::chrono::steady_clock::duration;
    int32_t zoom = 0;  // the plug-in zoom; 0 when no pixel lay on the tiles
    size_t tiles = 0;  // the tiles it was drawn from, each counted once
    // The segments of an image may take their tiles on several threads at
    // once: their sum may exceed the time of the whole.
    Duration tileTime{};    // taking the tiles from the cache
    Duration rasterTime{};  // in the plug-in, besides the tiles
    Duration encodeTime{};
    Duration wholeTime{};   // from the start of drawing to the encoded image
};
