#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where a tile could not be had, and why.
struct FetchFailure {
    std::string url;
    std::string reason;
};

// Fetches tile files by the addresses the plug-in made.
class TileSource {
public:
    virtual ~TileSource() = default;

    // Fills bodies[i] with the file of urls[i]. On the first failure stops
    // and describes it. `progress` is told how many tiles have arrived.
    virtual bool FetchAll(const std::vector<std::string>& urls, std::vector<std::vector<uint8_t>>& bodies,
                          FetchFailure& failure, const std::function<void(size_t)>& progress) = 0;
};

// "http://HOST:PORT" serves every tile server's address from HOST:PORT;
// anything else is a directory in the service's layout.
std::unique_ptr<TileSource> MakeTileSource(const std::string& source);

// The part of a tile address after the service path: LAYER/Z/X/Y.EXT.
// Empty when the address has no service path.
std::string ServiceRelativePath(const std::string& url);

std::unique_ptr<TileSource> MakeDirectoryTileSource(const std::string& directory);
std::unique_ptr<TileSource> MakeHttpTileSource(const std::string& hostAndPort);
