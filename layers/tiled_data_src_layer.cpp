#include "layers/tiled_data_src_layer.h"

#include "projection/tile_range.h"
#include "raster/mosaic_resampler.h"

int32_t TiledDataSrcLayer::BuildRequest(const DataRequestBlock& request, AddressList& urls) const {
    const CoordTransform* transform = GetTransform();
    if (transform == nullptr) {
        return ZARVO_REQUEST_NO_LAYER;
    }
    const TileRange range = RequestTileRange(*transform, request);
    if (range.Empty()) {
        return ZARVO_REQUEST_UNSERVABLE;
    }
    std::vector<TileKey> tiles;
    range.AppendKeys(tiles);
    transform->TilesToUrls(tiles, urls);
    // A list that was not empty on entry also fails here: the host pairs
    // image k with address k, so the list must hold exactly these tiles.
    return urls.Size() == tiles.size() ? ZARVO_REQUEST_STARTED : ZARVO_REQUEST_NO_LAYER;
}

int32_t TiledDataSrcLayer::ProcessDownload(const DownloadJob& job, LayerImage& image) const {
    const CoordTransform* transform = GetTransform();
    if (transform == nullptr) {
        return ZARVO_EVENT_NO_TRANSFORM;
    }
    return ResampleMosaic(*transform, job, image, &columnPlans);
}
