// Writes the synthetic test pyramid to a target, for the client checks:
//   zarvo_tile_package_fixture TARGET WebMercatorQuad|WorldCRS84Quad MAXLEVEL [png|bytes]
// png (the default) gives real images; bytes gives the cheap fixed byte
// strings of a pyramid large enough for leaf directories.

#include <cstdio>
#include <string>

#include "tests/tile_packages/synthetic_pyramid.h"
#include "tile_packages/tile_package.h"

int main(int argc, char** argv) {
    const std::string kind = argc > 4 ? argv[4] : "png";
    const std::string set = argc > 2 ? argv[2] : "";
    if (argc < 4 || (set != "WebMercatorQuad" && set != "WorldCRS84Quad") || (kind != "png" && kind != "bytes")) {
        std::fprintf(stderr, "usage: zarvo_tile_package_fixture TARGET WebMercatorQuad|WorldCRS84Quad MAXLEVEL [png|bytes]\n");
        return 2;
    }
    const auto description = SyntheticDescription(
        set == "WebMercatorQuad" ? SyntheticSet::WebMercatorQuad : SyntheticSet::WorldCrs84Quad, std::stoi(argv[3]));
    const auto tiles = kind == "png" ? SyntheticTiles(description) : SyntheticByteStrings(description);
    std::string error;
    tile_packages::OpenOptions options;
    options.overwrite = true;
    auto writer = tile_packages::TilePackageWriter::Open(argv[1], description, options, error);
    bool written = writer != nullptr;
    for (size_t i = 0; written && i < tiles.size(); ++i) written = writer->Put(tiles[i].tile, tiles[i].bytes, error);
    if (!written || !writer->Finish(error)) {
        std::fprintf(stderr, "zarvo_tile_package_fixture: %s\n", error.c_str());
        return 1;
    }
    std::printf("%zu tiles\n", tiles.size());
    return 0;
}
