// Writes the bundled demo tile set: every tile of the three layers from
// service zoom 0 to 5, in the service's own layout DIR/LAYER/Z/X/Y.EXT.
// Usage: zarvo-demo-tiles DIR

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "demo_tiles/demo_tile.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "host/write_file.h"
#include "projection/tile_service.h"

namespace {

constexpr int kMaxServiceZoom = 5;

struct TilePosition {
    int zoom;
    int column;
    int row;
};

bool WriteTile(const std::filesystem::path& root, const DemoStyle& style, const TileTerrain& terrain) {
    const RgbImage tile = PaintDemoTile(style, terrain);
    std::vector<uint8_t> encoded;
    std::string error;
    const bool encodedOk =
        style.extension == "png" ? EncodePng(tile, PngCompression::Small, encoded, error)
                                 : EncodeJpeg(tile, 90, encoded, error);
    const std::filesystem::path dir =
        root / style.layer / std::to_string(terrain.zoom) / std::to_string(terrain.column);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::filesystem::path file = dir / (std::to_string(terrain.row) + "." + style.extension);
    if (!encodedOk || !WriteFile(file.string(), encoded)) {
        std::fprintf(stderr, "zarvo-demo-tiles: cannot write %s %s\n", file.string().c_str(), error.c_str());
        return false;
    }
    return true;
}

constexpr char kUsage[] =
    "usage: zarvo-demo-tiles DIR\n"
    "Paints the demo tile set (map, aerial, hybrid) into DIR in the tile service's layout.\n";

}  // namespace

int main(int argc, char** argv) {
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "--help" || argument == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // An option is never taken for a directory: a mistyped flag must not
    // fill a directory named after it.
    if (argc != 2 || argument.empty() || argument[0] == '-') {
        const std::string problem = argc == 2 ? "unknown option '" + argument + "'" : "one directory expected";
        std::fprintf(stderr, "zarvo-demo-tiles: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    const std::filesystem::path root = argument;
    std::vector<TilePosition> positions;
    for (int zoom = 0; zoom <= kMaxServiceZoom; ++zoom) {
        for (int column = 0; column < (1 << zoom); ++column) {
            for (int row = 0; row < (1 << zoom); ++row) positions.push_back({zoom, column, row});
        }
    }
    // The ground of a position is computed once for all three layers, and
    // positions are shared out among the processor's cores.
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (size_t i = next++; i < positions.size() && !failed; i = next++) {
            const TilePosition& p = positions[i];
            const TileTerrain terrain = ComputeTileTerrain(p.zoom, p.column, p.row);
            for (const char* layer : kServiceLayers) {
                if (!WriteTile(root, DemoStyleOf(layer), terrain)) failed = true;
            }
        }
    };
    std::vector<std::thread> workers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned t = 1; t < cores; ++t) workers.emplace_back(work);
    work();
    for (std::thread& t : workers) t.join();
    if (failed) return 1;
    std::printf("zarvo-demo-tiles: %zu tiles in %s\n", positions.size() * 3, root.string().c_str());
    return 0;
}
