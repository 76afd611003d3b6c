#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>

#include "host/plugin_host.h"
#include "projection/tile_range.h"
#include "projection/zarvo_coord_transform.h"

// Synthetic decoded tiles for one request, and the completed job that
// carries them, as a host hands them to the plug-in. Tile k shows one of at
// most kDistinctTiles pictures, shared by every scene: enough distinct bytes
// to overflow the caches, without a gigabyte of tiles for the widest grids.
class BenchScene {
public:
    BenchScene(const DataRequestBlock& request, int32_t bytesPerPixel);

    const DownloadJob& Job() const { return job; }
    const TileRange& Range() const { return range; }
    const TileImage* Images() const { return images.data(); }
    int32_t BytesPerPixel() const { return bytesPerPixel; }

    static constexpr size_t kDistinctTiles = 256;

private:
    TileRange range;
    int32_t bytesPerPixel;
    std::vector<TileImage> images;
    DownloadJob job{};
};

// The scene of the request benchmarks: zoom 8, longitudes 0 to 20,
// latitudes 40 to 55.
DataRequestBlock SceneRequest(uint32_t size, int32_t layerId = 1);

// A square raster of `size` pixels over a box whose Mercator shape is
// square, at the zoom where `scale` source pixels fall on one raster pixel
// along each axis (0.5: upsampling 2x; 4: downsampling 4x). `size * scale`
// must be a power of two from 8 to 2^19.
DataRequestBlock ScaledRequest(uint32_t size, double scale, int32_t layerId = 1);

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

// The scene's tiles for the plug-in host, lent without a copy: a whole
// request through the C interface with no fetching or decoding. Complete
// on the rendering thread, so that the request is timed on one thread.
TileProvider SceneProvider(const BenchScene& scene);
