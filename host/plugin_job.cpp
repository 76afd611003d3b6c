#include "host/plugin_job.h"

#include "host/utf16.h"

std::vector<std::string> CopyAddresses(const DownloadJob& outgoing) {
    const auto* const* texts = static_cast<const char16_t* const*>(outgoing.items);
    const size_t count = outgoing.itemCount > 0 && texts != nullptr ? static_cast<size_t>(outgoing.itemCount) : 0;
    std::vector<std::string> addresses;
    addresses.reserve(count);
    for (size_t i = 0; i < count; ++i) addresses.push_back(ToUtf8(texts[i]));
    return addresses;
}

DownloadJob CompletedJob(const DataRequestBlock& request, std::vector<TileImage>& images) {
    DownloadJob job{};
    job.request = request;
    job.items = images.empty() ? nullptr : images.data();
    job.itemCount = static_cast<int32_t>(images.size());
    return job;
}

void CopyRaster(const LayerImage& image, RgbImage& raster) {
    raster.width = image.width;
    raster.height = image.height;
    if (image.pixels == nullptr || image.byteSize <= 0) {
        raster.pixels.clear();
        return;
    }
    raster.pixels.assign(image.pixels, image.pixels + image.byteSize);
}
