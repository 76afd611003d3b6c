#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/image_decoding.h"
#include "host/tile_cache.h"
#include "host/tile_source.h"

// What a tile the source does not have (no file, HTTP 404) comes to.
enum class MissingTiles {
    Fail,   // the whole intake fails, naming the tile
    Blank,  // a background tile takes its place, and it is counted
};

// Decoded memory of one tile, 256 x 256 RGB.
constexpr uint64_t kDecodedTileBytes = uint64_t{kTileSide} * kTileSide * 3;

// False, with one line naming the count and the budget in `error`, when
// `tiles` decoded tiles need more than `budgetBytes`.
bool TilesFitBudget(size_t tiles, uint64_t budgetBytes, std::string& error);

struct IntakeOptions {
    MissingTiles missing = MissingTiles::Blank;
    FetchLimits limits;
};

// The tile that stopped an intake.
struct TileProblem {
    size_t index = 0;
    std::string url;
    std::string reason;
    bool undecodable = false;  // fetched, but no tile (else: not fetched)
    std::string address{};     // the file path or URL tried, when one was
};

struct TileIntake {
    bool complete = false;            // every address has an image or a blank
    std::vector<RgbImage> images;     // one per address; an empty one is blank
    size_t missing = 0;               // addresses drawn blank
    std::string firstMissing;         // the first of them in address order, as NameTile names it
    uint64_t bodyBytes = 0;           // encoded bytes fetched
    TileProblem problem;              // when not complete: the first failing address in address order
};

// Fetches and decodes the tiles of `urls`, each body decoded as it arrives.
// Stops at the first failure; of several, the one reported is the earliest
// in address order, whatever order they happened in. `progress` is told how
// many addresses have ended, on the fetching thread.
TileIntake TakeInTiles(TileSource& source, const std::vector<std::string>& urls, const IntakeOptions& options,
                       const std::function<void(size_t done)>& progress);

// The tile drawn where a tile is missing: an even light grey, so a gap in
// the source reads as a gap and not as land or sea.
const RgbImage& BlankTile();

// A decoded tile as the tile cache holds it, and the blank tile as one
// picture that every address drawn blank shares.
std::shared_ptr<const DecodedTile> ToSharedTile(RgbImage&& image);
std::shared_ptr<const DecodedTile> SharedBlankTile();
