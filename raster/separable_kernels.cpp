#include "raster/separable_kernels.h"

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
        for (int ch = 0; ch < 3; ++ch) {
            out[3 * j + ch] = p[ch] * wx0[j] + q[ch] * fx[j];
        }
    }
}

void VerticalPortable(const double* top, const double* bottom, double wy0, double fy, size_t n, uint8_t* out) {
    for (size_t k = 0; k < n; ++k) {
        out[k] = static_cast<uint8_t>(static_cast<int32_t>(top[k] * wy0 + bottom[k] * fy));
    }
}

#ifdef ZARVO_X86_DISPATCH

// Four lanes per column: the three channels of a pixel and one spare. The
// spare lane lands on the next column's first channel, which that column
// then overwrites. Separate multiplies and adds, never fused: the results
// must equal the portable kernel's to the bit.
__attribute__((target("avx2"))) void HorizontalAvx2(const uint8_t* row, const int32_t* offset, size_t eastStep,
                                                    const double* wx0, const double* fx, size_t count, double* out) {
    for (size_t j = 0; j < count; ++j) {
        const uint8_t* p = row + offset[j];
        int32_t west;
        int32_t east;
        __builtin_memcpy(&west, p, 4);
        __builtin_memcpy(&east, p + eastStep, 4);
        const __m256d a = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(west)));
        const __m256d b = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(east)));
        const __m256d h = _mm256_add_pd(_mm256_mul_pd(a, _mm256_set1_pd(wx0[j])), _mm256_mul_pd(b, _mm256_set1_pd(fx[j])));
        _mm256_storeu_pd(out + 3 * j, h);
    }
}

// Eight bytes per step. Values lie in 0..255, so the saturating packs keep
// exactly the low byte of each truncated value.
__attribute__((target("avx2"))) void VerticalAvx2(const double* top, const double* bottom, double wy0, double fy,
                                                  size_t n, uint8_t* out) {
    const __m256d w0 = _mm256_set1_pd(wy0);
    const __m256d w1 = _mm256_set1_pd(fy);
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256d lo = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(top + k), w0),
                                         _mm256_mul_pd(_mm256_loadu_pd(bottom + k), w1));
        const __m256d hi = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(top + k + 4), w0),
                                         _mm256_mul_pd(_mm256_loadu_pd(bottom + k + 4), w1));
        const __m128i words = _mm_packs_epi32(_mm256_cvttpd_epi32(lo), _mm256_cvttpd_epi32(hi));
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
