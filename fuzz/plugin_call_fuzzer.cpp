// Drives the plug-in through its C interface with calls decoded from the
// fuzzer's input: bindings with any name, requests with any fields,
// download callbacks that accept, refuse or complete at once, and
// completions with any status, image count and tile images.
//
// The input is a sequence of operations, each an opcode byte followed by
// its fields read in order (little-endian; missing bytes read as zero), so
// that seeds can be written by hand: see make_seeds.py beside this file.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "plugin/plugin_manager.h"
#include <zarvo_data_plugin.h>

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Empty() const { return offset >= size; }
    uint8_t Byte() { return offset < size ? data[offset++] : 0; }
    template <typename T>
    T Raw() {
        T value{};
        uint8_t bytes[sizeof(T)] = {};
        for (uint8_t& b : bytes) b = Byte();
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    // Doubles the plug-in must survive: any bit pattern, NaN, infinities,
    // and ordinary degrees.
    double Degrees() {
        switch (Byte() % 5) {
            case 0: return Raw<double>();
            case 1: return std::numeric_limits<double>::quiet_NaN();
            case 2: return std::numeric_limits<double>::infinity();
            case 3: return -std::numeric_limits<double>::infinity();
            default: return Raw<int16_t>() / 128.0;  // -256 to 256 degrees
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t offset = 0;
};

enum Opcode : uint8_t { kBind, kCallbacks, kRequest, kComplete, kOpcodes };

// Bounds on what the target itself allocates, so that a run's memory stays
// small without hiding any input from the plug-in's own checks.
constexpr uint64_t kMaxRasterPixels = uint64_t{1} << 21;
constexpr int32_t kMaxTileBuffer = 4 << 20;
constexpr size_t kMaxRealTiles = 64;
constexpr size_t kMaxPending = 8;
constexpr int32_t kMaxImages = 1 << 17;

struct PendingJob {
    DataRequestBlock request;
    int32_t urlCount;
};

struct State {
    bool refuse = false;
    bool completeInline = false;
    std::vector<PendingJob> pending;
};

State state;

// A host's tile images for a job, with buffers of exactly the stated size.
struct HostTiles {
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::vector<TileImage> images;
};

void FillTiles(Input& in, int32_t count, HostTiles& tiles, bool wellFormed) {
    tiles.images.assign(static_cast<size_t>(count), TileImage{});
    for (size_t k = 0; k < tiles.images.size(); ++k) {
        TileImage& image = tiles.images[k];
        const uint8_t shape = wellFormed ? 0 : in.Byte();
        image.width = shape & 1 ? in.Raw<int32_t>() : 256;
        image.height = shape & 2 ? in.Raw<int32_t>() : 256;
        image.bytesPerPixel = shape & 4 ? in.Raw<int8_t>() : 3 + ((shape >> 3) & 1);
        image.byteSize = shape & 16 ? in.Raw<int32_t>() : 256 * 256 * image.bytesPerPixel;
        if (image.byteSize > kMaxTileBuffer) image.byteSize = kMaxTileBuffer;
        if ((shape & 32) == 0 && image.byteSize > 0 && k < kMaxRealTiles) {
            tiles.buffers.emplace_back(new uint8_t[static_cast<size_t>(image.byteSize)]);
            std::memset(tiles.buffers.back().get(), static_cast<int>(k * 37), static_cast<size_t>(image.byteSize));
            image.pixels = tiles.buffers.back().get();
        }
    }
}

void Complete(DownloadDoneFn done, int32_t status, DataRequestBlock request, Input& in, int32_t urlCount,
              bool wellFormed) {
    // The only trimming: rasters larger than a few megapixels.
    while (uint64_t{request.width} * request.height > kMaxRasterPixels) {
        request.width /= 2;
        request.height /= 2;
    }
    int32_t count = urlCount;
    const uint8_t mode = wellFormed ? 0 : in.Byte();
    switch (mode % 4) {
        case 1: count = urlCount * 2; break;
        case 2: count = urlCount + 1; break;
        case 3: count = static_cast<int32_t>(in.Byte()) - 4; break;
        default: break;
    }
    // The array always holds itemCount records: a host that says it has more
    // images than it hands over is lying about memory, not sending input.
    count = std::min(count, kMaxImages);
    HostTiles tiles;
    FillTiles(in, std::max(count, 0), tiles, wellFormed);
    DownloadJob job{};
    job.request = request;
    job.itemCount = count;
    job.items = (mode & 4) != 0 ? nullptr : tiles.images.data();
    done(status, &job);
}

int32_t KVL_CALL OnDownload(DownloadJob* job, DownloadDoneFn done, void*) {
    // Every address must be readable text while the callback runs.
    const auto* const* urls = static_cast<const char16_t* const*>(job->items);
    size_t units = 0;
    for (int32_t i = 0; i < job->itemCount; ++i) {
        for (const char16_t* p = urls[i]; *p != 0; ++p) ++units;
    }
    if (units == 0 || state.refuse) return 0;
    if (state.completeInline) {
        Input none(nullptr, 0);
        Complete(done, 0, job->request, none, job->itemCount, true);
    } else if (state.pending.size() < kMaxPending) {
        state.pending.push_back(PendingJob{job->request, job->itemCount});
    }
    return 1;
}

void KVL_CALL OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void*) {
    // Touch every byte of a raster the plug-in says it made.
    if (result == 0 && image->pixels != nullptr) {
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < image->byteSize; ++i) sum = static_cast<uint8_t>(sum + image->pixels[i]);
        (void)sum;
        if (image->byteSize != static_cast<int32_t>(job->request.width * job->request.height * 3)) __builtin_trap();
    } else if (image->pixels != nullptr || image->byteSize != 0) {
        __builtin_trap();  // a failure comes with an all-zero image
    }
}

std::u16string NameFrom(Input& in, bool& null) {
    null = false;
    switch (in.Byte() % 7) {
        case 0: return u"map";
        case 1: return u"aerial";
        case 2: return u"hybrid";
        case 3: return u"HyBRid";
        case 4: return std::u16string(300, u'a');
        case 5: null = true; return u"";
        default: {
            std::u16string name(in.Byte() % 16, u'\0');
            for (char16_t& c : name) c = static_cast<char16_t>(in.Raw<uint16_t>() | 1);  // no early NUL
            return name;
        }
    }
}

DataRequestBlock RequestFrom(Input& in) {
    DataRequestBlock r{};
    r.zoom = static_cast<int32_t>(in.Byte() % 46) - 5;
    r.layerId = static_cast<int8_t>(in.Byte()) % 8;
    r.width = in.Byte() & 1 ? in.Raw<uint32_t>() : in.Byte();
    r.height = in.Byte() & 1 ? in.Raw<uint32_t>() : in.Byte();
    r.west = in.Degrees();
    r.south = in.Degrees();
    r.east = in.Degrees();
    r.north = in.Degrees();
    for (uint32_t& word : r.hostWords) word = in.Raw<uint32_t>();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    state = State{};
    DataSetDownloadCallback(OnDownload, nullptr);
    DataSetEventCallback(OnEvent, nullptr);
    for (int ops = 0; !in.Empty() && ops < 64; ++ops) {
        switch (in.Byte() % kOpcodes) {
            case kBind: {
                bool null = false;
                const std::u16string name = NameFrom(in, null);
                DataInitLayer(null ? nullptr : name.c_str(), static_cast<int8_t>(in.Byte()) % 8);
                break;
            }
            case kCallbacks: {
                const uint8_t flags = in.Byte();
                DataSetDownloadCallback(flags & 1 ? nullptr : OnDownload, nullptr);
                DataSetEventCallback(flags & 2 ? nullptr : OnEvent, nullptr);
                state.refuse = (flags & 4) != 0;
                state.completeInline = (flags & 8) != 0;
                break;
            }
            case kRequest: {
                const DataRequestBlock r = RequestFrom(in);
                DataRequest(in.Byte() % 16 == 0 ? nullptr : &r);
                break;
            }
            case kComplete: {
                const uint8_t pick = in.Byte();
                const int32_t status = pick & 0x80 ? in.Raw<int32_t>() : 0;
                if (!state.pending.empty() && (pick & 0x40) == 0) {
                    const PendingJob job = state.pending[pick % state.pending.size()];
                    Complete(DownloadDone, status, job.request, in, job.urlCount, false);
                } else {
                    Complete(DownloadDone, status, RequestFrom(in), in, static_cast<int32_t>(in.Byte()), false);
                }
                if (pick == 0xFF) DownloadDone(status, nullptr);
                break;
            }
            default:
                break;
        }
    }
    return 0;
}
