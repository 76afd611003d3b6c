#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zarvo_data_plugin.h>
#include "projection/address_list.h"

// One raster layer as the plug-in manager sees it. A layer is made by a
// constructor that cannot fail and then named once by Init; after that it
// never changes, so BuildRequest and ProcessDownload may run on many
// threads at once.
class DataSrcLayer {
public:
    virtual ~DataSrcLayer();

    // True when `name` names a layer this class serves.
    virtual bool Init(const std::u16string& name) = 0;

    // Appends one tile address per covering tile to `urls`. Returns
    // ZARVO_REQUEST_STARTED, ZARVO_REQUEST_UNSERVABLE (no tile covers the
    // request) or ZARVO_REQUEST_NO_LAYER (no transform, or `urls` was not
    // empty); the manager hands it to the host unchanged.
    virtual int32_t BuildRequest(const DataRequestBlock& request, AddressList& urls) const = 0;

    // Fills `image` (all zero on entry) with the raster of a completed job.
    // Returns a ZarvoEventResult. On ZARVO_EVENT_RASTER_READY the raster
    // belongs to the caller, who frees it as an array.
    virtual int32_t ProcessDownload(const DownloadJob& job, LayerImage& image) const = 0;
};
