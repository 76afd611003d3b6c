// Tiles per second into each target, the batch size's effect, and the
// merge of two parts, measured side by side in one run:
//   zarvo_tile_package_bench [MAXLEVEL]   (default 8: 87381 PNG tiles)
// Figures only; no test reads them.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/tile_packages/synthetic_pyramid.h"
#include "tile_packages/tile_package.h"

namespace fs = std::filesystem;
using namespace tile_packages;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Writes tiles [first, last) and finishes; the seconds it took.
double Write(const std::string& target, const PyramidDescription& d, const std::vector<SyntheticTile>& tiles,
             size_t first, size_t last, size_t batch) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    OpenOptions options;
    options.overwrite = true;
    options.batchTiles = batch;
    auto writer = TilePackageWriter::Open(target, d, options, error);
    bool ok = writer != nullptr;
    for (size_t i = first; ok && i < last; ++i) ok = writer->Put(tiles[i].tile, tiles[i].bytes, error);
    if (!ok || !writer->Finish(error)) {
        std::fprintf(stderr, "%s: %s\n", target.c_str(), error.c_str());
        std::exit(1);
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int maxLevel = argc > 1 ? std::stoi(argv[1]) : 8;
    const PyramidDescription d = SyntheticDescription(SyntheticSet::WebMercatorQuad, maxLevel);
    const std::vector<SyntheticTile> tiles = SyntheticTiles(d);
    size_t bytes = 0;
    for (const SyntheticTile& t : tiles) bytes += t.bytes.size();
    const fs::path folder = fs::temp_directory_path() / ("zarvo-tile-package-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::printf("%zu tiles of levels 0-%d, %.0f bytes each on average\n\n", tiles.size(), maxLevel,
                static_cast<double>(bytes) / static_cast<double>(tiles.size()));

    std::printf("%-10s %10s %12s\n", "target", "seconds", "tiles/s");
    double mbtiles = 0;
    for (const char* kind : {"mbtiles", "gpkg", "pmtiles", "dir"}) {
        const std::string target = std::string(kind) == "dir" ? (folder / "dir/{z}/{x}/{y}.png").string()
                                                             : (folder / (std::string("all.") + kind)).string();
        const double seconds = Write(target, d, tiles, 0, tiles.size(), kDefaultBatchTiles);
        if (mbtiles == 0) mbtiles = seconds;
        std::printf("%-10s %10.2f %12.0f   (%.2f x the MBTiles time)\n", kind, seconds,
                    static_cast<double>(tiles.size()) / seconds, seconds / mbtiles);
    }

    // Up to 64 batches of each size: enough commits to weigh them, few
    // enough that one tile per batch takes seconds, not minutes.
    std::printf("\nMBTiles by tiles per batch:\n%-10s %12s\n", "batch", "tiles/s");
    for (size_t batch : {size_t{1}, size_t{16}, size_t{64}, size_t{256}, size_t{1024}, size_t{4096}}) {
        const size_t sample = std::min<size_t>({64 * batch, 16384, tiles.size()});
        const double seconds = Write((folder / "batch.mbtiles").string(), d, tiles, 0, sample, batch);
        std::printf("%-10zu %12.0f\n", batch, static_cast<double>(sample) / seconds);
    }

    std::printf("\nMerging two halves:\n%-10s %10s %12s\n", "target", "seconds", "tiles/s");
    for (const char* kind : {"mbtiles", "gpkg", "pmtiles", "dir"}) {
        auto name = [&](const std::string& stem) {
            return std::string(kind) == "dir" ? (folder / (stem + "/{z}/{x}/{y}.png")).string()
                                              : (folder / (stem + "." + kind)).string();
        };
        Write(name("part1"), d, tiles, 0, tiles.size() / 2, kDefaultBatchTiles);
        Write(name("part2"), d, tiles, tiles.size() / 2, tiles.size(), kDefaultBatchTiles);
        const auto start = std::chrono::steady_clock::now();
        MergeReport report;
        std::string error;
        OpenOptions options;
        options.overwrite = true;
        if (!MergeParts({name("part1"), name("part2")}, name("merged"), options, report, error)) {
            std::fprintf(stderr, "merge: %s\n", error.c_str());
            return 1;
        }
        const double seconds = Seconds(start);
        std::printf("%-10s %10.2f %12.0f\n", kind, seconds, static_cast<double>(report.tiles) / seconds);
    }
    fs::remove_all(folder);
    return 0;
}
