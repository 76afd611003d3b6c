#include "raster/raster_pool.h"

#include <mutex>

namespace {

class RasterPool {
public:
    RasterPool() = default;
    RasterPool(const RasterPool&) = delete;
    RasterPool& operator=(const RasterPool&) = delete;
    ~RasterPool() { Clear(); }

    uint8_t* Take(size_t byteSize) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            for (size_t k = 0; k < count; ++k) {
                if (kept[k].byteSize == byteSize) {
                    uint8_t* raster = kept[k].raster;
                    Remove(k);
                    return raster;
                }
            }
        }
        return new uint8_t[byteSize];
    }

    void Return(uint8_t* raster, size_t byteSize) noexcept {
        if (raster == nullptr) {
            return;
        }
        if (byteSize == 0 || byteSize > kMaxKeptBytes) {
            delete[] raster;
            return;
        }
        Entry evicted[kMaxKeptRasters];
        size_t evictedCount = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            // The oldest make room; they are freed outside the lock.
            while (count == kMaxKeptRasters || keptBytes + byteSize > kMaxKeptBytes) {
                evicted[evictedCount++] = kept[count - 1];
                Remove(count - 1);
            }
            for (size_t k = count; k > 0; --k) {
                kept[k] = kept[k - 1];
            }
            kept[0] = Entry{raster, byteSize};
            ++count;
            keptBytes += byteSize;
        }
        for (size_t k = 0; k < evictedCount; ++k) {
            delete[] evicted[k].raster;
        }
    }

    void Clear() noexcept {
        const std::lock_guard<std::mutex> lock(mutex);
        while (count > 0) {
            delete[] kept[count - 1].raster;
            Remove(count - 1);
        }
    }

private:
    struct Entry {
        uint8_t* raster = nullptr;
        size_t byteSize = 0;
    };

    // Called with the lock held.
    void Remove(size_t k) {
        keptBytes -= kept[k].byteSize;
        for (; k + 1 < count; ++k) {
            kept[k] = kept[k + 1];
        }
        --count;
        kept[count] = Entry{};
    }

    std::mutex mutex;
    Entry kept[kMaxKeptRasters];  // newest first
    size_t count = 0;
    size_t keptBytes = 0;
};

// Destroyed, and its rasters freed, when the library is unloaded.
RasterPool pool;

}  // namespace

uint8_t* TakeRaster(size_t byteSize) {
    return pool.Take(byteSize);
}

void ReturnRaster(uint8_t* raster, size_t byteSize) noexcept {
    pool.Return(raster, byteSize);
}

void DropKeptRasters() noexcept {
    pool.Clear();
}
