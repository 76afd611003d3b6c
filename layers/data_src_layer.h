#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/zarvo_data_plugin.h"

// Results of the layer operations. BuildRequest answers with 1 or a
// negative code, ProcessDownload with 0 or a negative code; the manager
// passes them to the host unchanged.
enum LayerResult : int32_t {
    kAddressesBuilt = 1,
    kRasterProduced = 0,
    kBadTileImage = -1,
    kNoTiles = -2,
    kWrongImageCount = -2,
    kNoTransform = -3,
    kAddressCountMismatch = -3,
};

// One raster layer as the plug-in manager sees it. A layer is made by a
// constructor that cannot fail and then named once by Init; after that it
// never changes, so BuildRequest and ProcessDownload may run on many
// threads at once.
class DataSrcLayer {
public:
    virtual ~DataSrcLayer();

    // True when `name` names a layer this class serves.
    virtual bool Init(const std::u16string& name) = 0;

    // Appends one tile address per covering tile to `urls`.
    virtual int32_t BuildRequest(const DataRequestBlock& request, std::vector<std::u16string>& urls) const = 0;

    // Fills `image` (all zero on entry) with the raster of a completed job.
    // On success the raster belongs to the caller, who frees it as an array.
    virtual int32_t ProcessDownload(const DownloadJob& job, LayerImage& image) const = 0;
};
