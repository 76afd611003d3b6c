#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "projection/tile_service.h"

// What became of one tile address.
enum class TileOutcome {
    Body,     // the tile's file is in `body`
    Missing,  // the source does not have it (no such file, HTTP 404 or 410)
    Failed,   // anything else: refused file, server error, timeout, oversized body
};

struct TileFetch {
    TileOutcome outcome = TileOutcome::Failed;
    std::vector<uint8_t> body;
    std::string reason;   // for Missing and Failed: one line that says why
    std::string address{};  // where it was asked for: the file path or URL tried (empty: none was)
};

// Bounds on one fetch of a list of tiles.
struct FetchLimits {
    // A tile body larger than this is refused; real tiles are tens of kB.
    size_t maxBodyBytes = size_t{4} << 20;
    // Every transfer, connecting included, ends within this.
    std::chrono::milliseconds transferTimeout{10000};
    // The whole list is fetched within this, or the rest fails.
    std::chrono::milliseconds deadline{300000};
    // Server errors (5xx) and dropped connections are tried this many more times.
    int retries = 2;
};

// Receives each tile as it ends, on the thread that called Fetch, in any
// order. Returning false starts no further transfer; those in flight still
// end and are delivered, so every address before the one that stopped the
// fetch has then been delivered. Addresses never started are not delivered.
using TileSink = std::function<bool(size_t index, TileFetch&& fetch)>;

// Fetches tile files by the addresses the plug-in made. Usable for one list
// at a time; a server makes one per request or keeps one per thread.
class TileSource {
public:
    virtual ~TileSource() = default;
    virtual void Fetch(const std::vector<std::string>& urls, const FetchLimits& limits, const TileSink& sink) = 0;
};

// A tile source by its description, or null with the reason in `error`:
//   DIR                            a directory in the service's layout, DIR/LAYER/Z/X/Y.EXT
//                                  (rows counted from the south)
//   DIR/.../{z}/{x}/{y}.png        a directory in any layout, as a path template
//                                  ({y} from the north, {-y} from the south)
//   FILE.mbtiles                   an MBTiles file (SQLite)
//   http[s]://HOST:PORT            every address requested as it is, from HOST:PORT
//   http[s]://HOST/.../{z}/{x}/{y} a URL template (see ExpandTileTemplate)
std::unique_ptr<TileSource> MakeTileSource(const std::string& description, std::string& error);

// For sources on this machine: false, with `fetch` failed, when `url` is no
// tile service address or the deadline has passed; else its parts.
bool StartLocalFetch(const std::string& url, std::chrono::steady_clock::time_point deadline, TileAddress& address,
                     TileFetch& fetch);

std::unique_ptr<TileSource> MakeDirectoryTileSource(const std::string& directory);
std::unique_ptr<TileSource> MakePathTemplateTileSource(const std::string& pathTemplate);
// Null, with the reason in `error`, for a file that is no MBTiles tile set.
std::unique_ptr<TileSource> MakeMbtilesTileSource(const std::string& path, std::string& error);
// `hostAndPort` ("HOST:PORT") takes every connection, whatever server an
// address names; `urlTemplate` rewrites every address. One of them is empty.
std::unique_ptr<TileSource> MakeHttpTileSource(const std::string& hostAndPort, const std::string& urlTemplate);
