#include "layers/tiled_data_src_layer.h"

#include <limits>

#include "raster/mosaic_resampler.h"

void EnumerateRequestTiles(const CoordTransform& transform, const DataRequestBlock& request,
                           std::vector<TileKey>& tiles) {
    const uint64_t rasterBytes = uint64_t{request.width} * request.height * 3;
    if (rasterBytes > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return;
    }
    // The request stores each corner latitude first; the box wants longitude first.
    const GeoBox box{request.west, request.south, request.east, request.north};
    transform.EnumerateTiles(box, request.zoom, tiles);
}

int32_t TiledDataSrcLayer::BuildRequest(const DataRequestBlock& request, std::vector<std::u16string>& urls) const {
    const CoordTransform* transform = GetTransform();
    if (transform == nullptr) {
        return kNoTransform;
    }
    std::vector<TileKey> tiles;
    EnumerateRequestTiles(*transform, request, tiles);
    if (tiles.empty()) {
        return kNoTiles;
    }
    transform->TilesToUrls(tiles, urls);
    // A list that was not empty on entry also fails here: the host pairs
    // image k with address k, so the list must hold exactly these tiles.
    return urls.size() == tiles.size() ? kAddressesBuilt : kAddressCountMismatch;
}

int32_t TiledDataSrcLayer::ProcessDownload(const DownloadJob& job, LayerImage& image) const {
    const CoordTransform* transform = GetTransform();
    if (transform == nullptr) {
        return kNoTransform;
    }
    return ResampleMosaic(*transform, job, image);
}
