// The raster assembly matrix: for every raster size, scale and tile depth,
// the fast path, the per-pixel path and the nearest-neighbour floor, timed
// in CPU time, interleaved cell by cell in every repetition, and reported
// as medians and ratios.
//
//   zarvo_bench_matrix [--repetitions N] [--sizes 64,256,...] [--min-time SECONDS] [--per-pixel-max SIZE]

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "bench/floor_gather.h"
#include "raster/mosaic_resampler.h"
#include "raster/raster_pool.h"

namespace {

struct Options {
    int repetitions = 5;
    std::vector<uint32_t> sizes{64, 256, 1024, 2048, 4096};
    double minTime = 0.05;
};

struct Scale {
    const char* name;
    double sourcePerRasterPixel;
    bool downsampling;
};

constexpr Scale kScales[] = {{"up 2x", 0.5, false}, {"1:1", 1, false}, {"down 2x", 2, true}, {"down 4x", 4, true}};
constexpr int32_t kDepths[] = {3, 4};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds per run of `work`, run until at least `minTime` has passed.
double TimePerRun(const std::function<void()>& work, double minTime) {
    work();  // warm: tiles in cache as far as they fit, a kept raster
    const double start = CpuSeconds();
    double elapsed = 0;
    int runs = 0;
    do {
        work();
        ++runs;
        elapsed = CpuSeconds() - start;
    } while (elapsed < minTime);
    return elapsed / runs;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Cell {
    uint32_t size;
    const Scale* scale;
    int32_t depth;
    std::unique_ptr<BenchScene> scene;
    std::unique_ptr<FloorGather> floor;
    std::vector<double> fast, perPixel, floorTimes;
};

bool Resample(const CoordTransform& transform, const DownloadJob& job) {
    LayerImage image{};
    if (ResampleMosaic(transform, job, image) != 0) return false;
    // As the plug-in does once the host has seen it.
    ReturnRaster(image.pixels, static_cast<size_t>(image.byteSize));
    return true;
}

bool ParseSizes(const char* text, std::vector<uint32_t>& sizes) {
    sizes.clear();
    std::string list(text);
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        char* end = nullptr;
        errno = 0;
        const unsigned long v = std::strtoul(item.c_str(), &end, 10);
        // size * 4 must stay a power of two the scenes can be built for.
        if (item.empty() || *end != '\0' || errno != 0 || v < 16 || v > 8192 || (v & (v - 1)) != 0) return false;
        sizes.push_back(static_cast<uint32_t>(v));
        start = comma + 1;
    }
    return !sizes.empty();
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const char* value = k + 1 < argc ? argv[k + 1] : nullptr;
        if (arg == "--repetitions" && value != nullptr) {
            char* end = nullptr;
            const long n = std::strtol(value, &end, 10);
            if (*end != '\0' || n < 1 || n > 101) {
                std::fprintf(stderr, "zarvo_bench_matrix: --repetitions wants 1 to 101, got '%s'\n", value);
                return false;
            }
            options.repetitions = static_cast<int>(n);
        } else if (arg == "--sizes" && value != nullptr) {
            if (!ParseSizes(value, options.sizes)) {
                std::fprintf(stderr, "zarvo_bench_matrix: --sizes wants powers of two from 16 to 8192, got '%s'\n",
                             value);
                return false;
            }
        } else if (arg == "--min-time" && value != nullptr) {
            char* end = nullptr;
            const double t = std::strtod(value, &end);
            if (*end != '\0' || !(t >= 0 && t <= 10)) {
                std::fprintf(stderr, "zarvo_bench_matrix: --min-time wants 0 to 10 seconds, got '%s'\n", value);
                return false;
            }
            options.minTime = t;
        } else {
            std::fprintf(stderr, "zarvo_bench_matrix: unknown or incomplete argument '%s'\n", arg.c_str());
            return false;
        }
        ++k;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;

    std::vector<Cell> cells;
    for (uint32_t size : options.sizes) {
        for (const Scale& scale : kScales) {
            for (int32_t depth : kDepths) {
                Cell cell{size, &scale, depth, nullptr, nullptr, {}, {}, {}};
                cell.scene = std::make_unique<BenchScene>(ScaledRequest(size, scale.sourcePerRasterPixel), depth);
                cell.floor = std::make_unique<FloorGather>(*cell.scene);
                cells.push_back(std::move(cell));
            }
        }
    }
    const uint32_t largest = *std::max_element(options.sizes.begin(), options.sizes.end());
    std::vector<uint8_t> floorRaster(size_t{largest} * largest * 3);

    const ZarvoCoordTransform map(LayerKind::Map, u"map");
    const PerPixelTransform perPixel;
    bool failed = false;
    for (int rep = 0; rep < options.repetitions; ++rep) {
        std::fprintf(stderr, "repetition %d of %d\n", rep + 1, options.repetitions);
        for (Cell& cell : cells) {
            const DownloadJob& job = cell.scene->Job();
            cell.fast.push_back(TimePerRun([&] { failed |= !Resample(map, job); }, options.minTime));
            cell.perPixel.push_back(TimePerRun([&] { failed |= !Resample(perPixel, job); }, options.minTime));
            cell.floorTimes.push_back(TimePerRun([&] { cell.floor->Run(floorRaster.data()); }, options.minTime));
        }
    }
    if (failed) {
        std::fprintf(stderr, "zarvo_bench_matrix: the resampler refused a scene\n");
        return 1;
    }

    std::printf("Raster assembly, CPU time, median of %d repetitions; ns per raster pixel and ratios.\n",
                options.repetitions);
    std::printf("%-11s %-8s %5s %9s %9s %9s %10s %11s %9s\n", "size", "scale", "bytes", "fast", "per-pix", "floor",
                "fast/floor", "per-pix/fast", "4B/3B");
    std::vector<double> fast3(cells.size(), 0);
    for (size_t k = 0; k < cells.size(); ++k) {
        const Cell& cell = cells[k];
        const double pixels = static_cast<double>(cell.size) * cell.size;
        const double fast = Median(cell.fast) / pixels * 1e9;
        const double slow = Median(cell.perPixel) / pixels * 1e9;
        const double floor = Median(cell.floorTimes) / pixels * 1e9;
        char size[24];
        std::snprintf(size, sizeof size, "%u x %u", cell.size, cell.size);
        char depthRatio[16] = "";
        if (cell.depth == 3) {
            fast3[k] = fast;
        } else if (k > 0 && cells[k - 1].depth == 3) {
            std::snprintf(depthRatio, sizeof depthRatio, "%.2f", fast / fast3[k - 1]);
        }
        std::printf("%-11s %-8s %5d %9.2f %9.2f %9.2f %10.2f %11.1f %9s\n", size, cell.scale->name, cell.depth, fast,
                    slow, floor, fast / floor, slow / fast, depthRatio);
    }
    return 0;
}
