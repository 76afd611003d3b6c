#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugin/zarvo_data_plugin.h"
#include "projection/tile_range.h"
#include "projection/zarvo_coord_transform.h"

// Synthetic decoded tiles for one request, and the completed job that
// carries them, as a host hands them to the plug-in.
class BenchScene {
public:
    BenchScene(const DataRequestBlock& request, int32_t bytesPerPixel);

    const DownloadJob& Job() const { return job; }
    const TileRange& Range() const { return range; }
    const TileImage* Images() const { return images.data(); }

private:
    TileRange range;
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::vector<TileImage> images;
    DownloadJob job{};
};

// The benchmark scene: zoom 8, longitudes 0 to 20, latitudes 40 to 55.
DataRequestBlock SceneRequest(uint32_t size, int32_t layerId = 1);

// The map layer's projection, but not declaring itself separable, so the
// resampler projects every pixel.
class PerPixelTransform final : public CoordTransform {
public:
    WorldPoint ToWorldPixel(double lon, double lat, int32_t zoom) const override {
        return inner.ToWorldPixel(lon, lat, zoom);
    }
    int32_t TileWidth() const override { return inner.TileWidth(); }
    int32_t TileHeight() const override { return inner.TileHeight(); }
    std::u16string TileUrl(const TileKey& key) const override { return inner.TileUrl(key); }

private:
    ZarvoCoordTransform inner{LayerKind::Map, u"map"};
};
