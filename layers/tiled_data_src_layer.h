#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layers/data_src_layer.h"
#include "projection/coord_transform.h"
#include "raster/column_plan.h"

// The tile-generic part of a layer: which tiles and addresses a request
// needs, and how the downloaded tiles become the raster. It reaches the
// projection only through GetTransform, so any tiled projection can use it.
class TiledDataSrcLayer : public DataSrcLayer {
public:
    int32_t BuildRequest(const DataRequestBlock& request, AddressList& urls) const override;
    int32_t ProcessDownload(const DownloadJob& job, LayerImage& image) const override;

    // The layer's transform, lent; null until Init has succeeded.
    virtual const CoordTransform* GetTransform() const = 0;

private:
    // The columns of the layer's latest rasters: requests that share their
    // columns (the bands of one tall image) work them out once.
    mutable ColumnPlans columnPlans;
};
