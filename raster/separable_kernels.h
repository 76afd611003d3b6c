#pragma once

#include <cstddef>
#include <cstdint>

// The two halves of the bilinear blend, for rasters sampled one row and one
// column at a time. Split this way they evaluate exactly the operations of
// BlendPixel, in its order, so they give the same bytes:
//
//   horizontal  h = p[ch] * wx0 + q[ch] * fx              (one source row)
//   vertical    v = top * wy0 + bottom * fy, truncated    (two source rows)
struct SeparableKernels {
    // For each column j, with p = row + offset[j] and q = p + east:
    // out[3j + ch] = p[ch] * wx0[3j + ch] + q[ch] * fx[3j + ch] (each weight
    // is given once per channel). Tile rows are read where they lie, so
    // `east` is the tiles' bytes per pixel, 3 or 4. Eight bytes must be
    // readable at every p; `out` must have room for one double past its
    // 3 * count.
    void (*horizontal)(const uint8_t* row, const int32_t* offset, size_t east, const double* wx0, const double* fx,
                       size_t count, double* out);
    // out[k] = low byte of (int32) (top[k] * wy0 + bottom[k] * fy), for k < n.
    void (*vertical)(const double* top, const double* bottom, double wy0, double fy, size_t n, uint8_t* out);
};

// The fastest kernels this processor runs, chosen once.
const SeparableKernels& SelectKernels();

// The portable kernels, for comparison in tests.
const SeparableKernels& PortableKernels();
