#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>
#include "host/plugin_host.h"
#include "host/plugin_job.h"
#include "projection/coord_transform.h"
#include "projection/mercator.h"

// Writes the bytes of pixel (a, b) of tile k.
using PixelFill = std::function<void(size_t k, int a, int b, uint8_t* pixel)>;

// Decoded tile images as a host hands them over: each owns its buffer.
class TileSet {
public:
    // Adds `count` 256 x 256 tiles of `bytesPerPixel` bytes filled by `fill`.
    void AddTiles(size_t count, int32_t bytesPerPixel, const PixelFill& fill);
    // Adds an image record with no pixels (null, zero size).
    void AddEmpty();

    std::vector<TileImage>& Images() { return images; }

private:
    std::vector<std::unique_ptr<std::vector<uint8_t>>> buffers;
    std::vector<TileImage> images;
};

// Synthetic tiles (PatternFill) for every address of a job, for renders
// through the plug-in host; `seen`, when given, receives the addresses.
TileProvider PatternTiles(int32_t bytesPerPixel, std::vector<std::string>* seen = nullptr);

DataRequestBlock MakeRequest(int32_t zoom, double west, double south, double east, double north, uint32_t width,
                             uint32_t height, int32_t layerId = 0);

// The tiles a request needs, as the layer enumerates them.
std::vector<TileKey> RequestTiles(const CoordTransform& transform, const DataRequestBlock& request);

// Every pixel gets bytes that differ between neighbours and between tiles.
void PatternFill(size_t k, int a, int b, uint8_t* pixel);

// Another transform's projection and tiles, without its claim to be
// separable: the resampler then projects every sample on its own.
class PerPixelTransform : public CoordTransform {
public:
    explicit PerPixelTransform(const CoordTransform& inner) : inner(inner) {}

    WorldPoint ToWorldPixel(double lon, double lat, int32_t zoom) const override;
    int32_t TileWidth() const override;
    int32_t TileHeight() const override;
    std::u16string TileUrl(const TileKey& key) const override;

private:
    const CoordTransform& inner;
};

std::string Narrow(const std::u16string& s);

// The addresses of a list, one string each, for comparing.
std::vector<std::u16string> Strings(const AddressList& list);
