#pragma once

#include <cstddef>
#include <cstdint>

// The two halves of the bilinear blend, for rasters sampled one row and one
// column at a time. Split this way they evaluate exactly the operations of
// BlendPixel, in its order, so they give the same bytes:
//
//   horizontal  h = p[ch] * wx0 + p[3 + ch] * fx          (one source row)
//   vertical    v = top * wy0 + bottom * fy, truncated    (two source rows)
struct SeparableKernels {
    // For each column j: out[3j + ch] = row[offset[j] + ch] * wx0[j] + row[offset[j] + 3 + ch] * fx[j].
    // `row` must be readable 8 bytes past every offset; `out` must have
    // room for one double past its 3 * count.
    void (*horizontal)(const uint8_t* row, const int32_t* offset, const double* wx0, const double* fx,
                       size_t count, double* out);
    // out[k] = low byte of (int32) (top[k] * wy0 + bottom[k] * fy), for k < n.
    void (*vertical)(const double* top, const double* bottom, double wy0, double fy, size_t n, uint8_t* out);
};

// The fastest kernels this processor runs, chosen once.
const SeparableKernels& SelectKernels();

// The portable kernels, for comparison in tests.
const SeparableKernels& PortableKernels();

// Bytes readable past a gathered row, for the wide loads of the kernels.
constexpr size_t kRowPadding = 16;
