#include "raster/separable_kernels.h"

#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZARVO_X86_DISPATCH 1
#include <immintrin.h>
#endif

namespace {

void HorizontalPortable(const uint8_t* row, const int32_t* offset, size_t east, const double* wx0, const double* fx,
                        size_t count, double* out) {
    for (size_t j = 0; j < count; ++j) {
        const uint8_t* p = row + offset[j];
        const uint8_t* q = p + east;
        for (size_t ch = 0; ch < 3; ++ch) {
            out[3 * j + ch] = p[ch] * wx0[3 * j + ch] + q[ch] * fx[3 * j + ch];
        }
    }
}

void VerticalPortable(const double* top, const double* bottom, double wy0, double fy, size_t n, uint8_t* out) {
    for (size_t k = 0; k < n; ++k) {
        out[k] = static_cast<uint8_t>(static_cast<int32_t>(top[k] * wy0 + bottom[k] * fy));
    }
}

#ifdef ZARVO_X86_DISPATCH

// Separate multiplies and adds, never fused: the results must equal the
// portable kernel's to the bit.

// One column in four lanes: the three channels of a pixel and one spare.
// The spare lane lands on the next column's first channel, which that
// column then overwrites.
__attribute__((target("avx2"))) inline void HorizontalColumnAvx2(const uint8_t* p, size_t east, const double* wx0,
                                                                 const double* fx, double* out) {
    int32_t west;
    int32_t eastPixel;
    __builtin_memcpy(&west, p, 4);
    __builtin_memcpy(&eastPixel, p + east, 4);
    const __m256d a = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(west)));
    const __m256d b = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(eastPixel)));
    _mm256_storeu_pd(out, _mm256_add_pd(_mm256_mul_pd(a, _mm256_set1_pd(*wx0)), _mm256_mul_pd(b, _mm256_set1_pd(*fx))));
}

// Byte shuffles that spread the pixels of four columns, each loaded as 8
// bytes (its pixel, then its east neighbour `east` bytes on), over three
// vectors of four 32-bit lanes: channels a0 a1 a2 b0 | b1 b2 c0 c1 |
// c2 d0 d1 d2, with columns a, b in one register and c, d in another.
// An index with its top bit set gives a zero byte.
#define Z -128
alignas(16) constexpr int8_t kSpread[4][16] = {
    {0, Z, Z, Z, 1, Z, Z, Z, 2, Z, Z, Z, 8, Z, Z, Z},     // a0 a1 a2 b0 from a, b
    {9, Z, Z, Z, 10, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z},    // b1 b2 from a, b
    {Z, Z, Z, Z, Z, Z, Z, Z, 0, Z, Z, Z, 1, Z, Z, Z},     // c0 c1 from c, d
    {2, Z, Z, Z, 8, Z, Z, Z, 9, Z, Z, Z, 10, Z, Z, Z}};   // c2 d0 d1 d2 from c, d
#undef Z

__attribute__((target("avx2"))) inline __m128i LoadTwoColumns(const uint8_t* first, const uint8_t* second) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(first)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(second)));
}

__attribute__((target("avx2"))) inline __m256d ToDoubles(__m128i lanes) {
    return _mm256_cvtepi32_pd(lanes);
}

// Four columns per step into three full vectors, stored where the row is
// aligned; single columns before the first aligned one and after the last
// step. Each column reads 8 bytes from its pixel, which the caller allows
// (four bytes at its pixel and at its east neighbour).
__attribute__((target("avx2"))) void HorizontalAvx2(const uint8_t* row, const int32_t* offset, size_t east,
                                                    const double* wx0, const double* fx, size_t count, double* out) {
    size_t j = 0;
    for (; j < count && j < 3 && (reinterpret_cast<uintptr_t>(out + 3 * j) & 31) != 0; ++j) {
        HorizontalColumnAvx2(row + offset[j], east, wx0 + 3 * j, fx + 3 * j, out + 3 * j);
    }
    // The east neighbours' bytes are the same shuffles of the loads moved
    // down by `east` bytes, which leaves the registers to the data on
    // 32-bit x86.
    const __m128i step = _mm_cvtsi32_si128(static_cast<int>(8 * east));
    const __m128i p0 = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread[0]));
    const __m128i p1ab = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread[1]));
    const __m128i p1cd = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread[2]));
    const __m128i p2 = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread[3]));
    const uint8_t* const base = row;
    const int32_t* columnOffset = offset + j;
    const double* w = wx0 + 3 * j;
    const double* f = fx + 3 * j;
    double* o = out + 3 * j;
    for (; j + 4 <= count; j += 4, columnOffset += 4, w += 12, f += 12, o += 12) {
        const __m128i ab = LoadTwoColumns(base + columnOffset[0], base + columnOffset[1]);
        const __m128i cd = LoadTwoColumns(base + columnOffset[2], base + columnOffset[3]);
        const __m128i abEast = _mm_srl_epi64(ab, step);
        const __m128i cdEast = _mm_srl_epi64(cd, step);
        const __m256d pa = ToDoubles(_mm_shuffle_epi8(ab, p0));
        const __m256d qa = ToDoubles(_mm_shuffle_epi8(abEast, p0));
        _mm256_storeu_pd(o, _mm256_add_pd(_mm256_mul_pd(pa, _mm256_loadu_pd(w)), _mm256_mul_pd(qa, _mm256_loadu_pd(f))));
        const __m256d pb = ToDoubles(_mm_or_si128(_mm_shuffle_epi8(ab, p1ab), _mm_shuffle_epi8(cd, p1cd)));
        const __m256d qb = ToDoubles(_mm_or_si128(_mm_shuffle_epi8(abEast, p1ab), _mm_shuffle_epi8(cdEast, p1cd)));
        _mm256_storeu_pd(o + 4, _mm256_add_pd(_mm256_mul_pd(pb, _mm256_loadu_pd(w + 4)),
                                              _mm256_mul_pd(qb, _mm256_loadu_pd(f + 4))));
        const __m256d pc = ToDoubles(_mm_shuffle_epi8(cd, p2));
        const __m256d qc = ToDoubles(_mm_shuffle_epi8(cdEast, p2));
        _mm256_storeu_pd(o + 8, _mm256_add_pd(_mm256_mul_pd(pc, _mm256_loadu_pd(w + 8)),
                                              _mm256_mul_pd(qc, _mm256_loadu_pd(f + 8))));
    }
    for (; j < count; ++j) {
        HorizontalColumnAvx2(row + offset[j], east, wx0 + 3 * j, fx + 3 * j, out + 3 * j);
    }
}

__attribute__((target("avx2"))) inline __m128i VerticalQuad(const double* top, const double* bottom, __m256d w0,
                                                            __m256d w1) {
    return _mm256_cvttpd_epi32(
        _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(top), w0), _mm256_mul_pd(_mm256_loadu_pd(bottom), w1)));
}

// Sixteen bytes per step, then eight. Values lie in 0..255, so the
// saturating packs keep exactly the low byte of each truncated value.
__attribute__((target("avx2"))) void VerticalAvx2(const double* top, const double* bottom, double wy0, double fy,
                                                  size_t n, uint8_t* out) {
    const __m256d w0 = _mm256_set1_pd(wy0);
    const __m256d w1 = _mm256_set1_pd(fy);
    size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m128i a = _mm_packs_epi32(VerticalQuad(top + k, bottom + k, w0, w1),
                                          VerticalQuad(top + k + 4, bottom + k + 4, w0, w1));
        const __m128i b = _mm_packs_epi32(VerticalQuad(top + k + 8, bottom + k + 8, w0, w1),
                                          VerticalQuad(top + k + 12, bottom + k + 12, w0, w1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(a, b));
    }
    for (; k + 8 <= n; k += 8) {
        const __m128i words = _mm_packs_epi32(VerticalQuad(top + k, bottom + k, w0, w1),
                                              VerticalQuad(top + k + 4, bottom + k + 4, w0, w1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(words, words));
    }
    VerticalPortable(top + k, bottom + k, wy0, fy, n - k, out + k);
}

#endif

constexpr SeparableKernels kPortable{HorizontalPortable, VerticalPortable};

SeparableKernels Choose() {
#ifdef ZARVO_X86_DISPATCH
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return SeparableKernels{HorizontalAvx2, VerticalAvx2};
    }
#endif
    return kPortable;
}

}  // namespace

const SeparableKernels& SelectKernels() {
    static const SeparableKernels chosen = Choose();
    return chosen;
}

const SeparableKernels& PortableKernels() {
    return kPortable;
}
