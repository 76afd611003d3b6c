// Writes the bundled demo tile set: every tile of the three layers from
// service zoom 0 to 5, in the service's own layout DIR/LAYER/Z/X/Y.EXT.
// Usage: zarvo-demo-tiles DIR

#include <cstdio>
#include <filesystem>
#include <string>

#include "host/demo/demo_tile.h"
#include "host/image_codec.h"

namespace {

constexpr int kMaxServiceZoom = 5;

bool WriteTile(const std::filesystem::path& root, const DemoStyle& style, int zoom, int column, int row) {
    const RgbImage tile = PaintDemoTile(style, zoom, column, row);
    std::vector<uint8_t> encoded;
    std::string error;
    const bool encodedOk = style.extension == "png" ? EncodePng(tile, encoded, error) : EncodeJpeg(tile, 90, encoded, error);
    const std::filesystem::path dir = root / style.layer / std::to_string(zoom) / std::to_string(column);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::filesystem::path file = dir / (std::to_string(row) + "." + style.extension);
    if (!encodedOk || !WriteFile(file.string(), encoded)) {
        std::fprintf(stderr, "zarvo-demo-tiles: cannot write %s %s\n", file.string().c_str(), error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zarvo-demo-tiles DIR\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    int written = 0;
    for (const char* layer : {"map", "aerial", "hybrid"}) {
        const DemoStyle& style = DemoStyleOf(layer);
        for (int zoom = 0; zoom <= kMaxServiceZoom; ++zoom) {
            for (int column = 0; column < (1 << zoom); ++column) {
                for (int row = 0; row < (1 << zoom); ++row) {
                    if (!WriteTile(root, style, zoom, column, row)) return 1;
                    ++written;
                }
            }
        }
    }
    std::printf("zarvo-demo-tiles: %d tiles in %s\n", written, root.string().c_str());
    return 0;
}
