#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Rasters the host has handed back, kept for the next raster of the same
// size. A large raster taken fresh from the system costs a page fault per
// page on its first write, a large share of the time it takes to assemble
// it; a kept one has its pages already.
//
// Every raster is an array from new[], so a raster the pool never sees
// again may simply be freed with delete[]. The pool keeps at most
// kMaxKeptRasters rasters and kMaxKeptBytes bytes in all, newest first, is
// safe to use from any thread, and frees what it keeps when the library is
// unloaded.
constexpr size_t kMaxKeptRasters = 4;
constexpr size_t kMaxKeptBytes = size_t{64} << 20;

// A raster of exactly `byteSize` bytes, with undefined contents: a kept one
// if there is one of that size, else a new one. Throws std::bad_alloc.
uint8_t* TakeRaster(size_t byteSize);

// Hands back a raster of `byteSize` bytes from TakeRaster: kept for reuse
// or freed. Null is ignored.
void ReturnRaster(uint8_t* raster, size_t byteSize) noexcept;

// Frees every kept raster.
void DropKeptRasters() noexcept;

// Hands a raster back to the pool when it goes out of scope.
struct RasterReturn {
    size_t byteSize;
    void operator()(uint8_t* raster) const noexcept { ReturnRaster(raster, byteSize); }
};
using PooledRaster = std::unique_ptr<uint8_t[], RasterReturn>;
