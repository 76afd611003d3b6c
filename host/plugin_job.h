#pragma once

// The pieces of a download job every host handles the same way: reading the
// plug-in's addresses, handing the tiles back, keeping the raster. The
// plug-in host is made of them; the tests' stand-in host, which probes the
// interface with jobs no well-behaved host makes, uses them too.

#include <string>
#include <vector>

#include <zarvo_data_plugin.h>

#include "host/rgb_image.h"

// The outgoing job's addresses in UTF-8, copied: the plug-in's texts vanish
// when the download callback returns.
std::vector<std::string> CopyAddresses(const DownloadJob& outgoing);

// The host's record of a completed job: `request` as the outgoing job
// carried it, and `images`, image k being the tile of address k. The record
// points into `images`, which must outlive the DownloadDone call.
DownloadJob CompletedJob(const DataRequestBlock& request, std::vector<TileImage>& images);

// The raster of a ready event, copied: the plug-in frees it when the event
// callback returns. Throws std::bad_alloc when it does not fit.
void CopyRaster(const LayerImage& image, RgbImage& raster);
