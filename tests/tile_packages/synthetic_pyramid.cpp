#include "tests/tile_packages/synthetic_pyramid.h"

#include <stdexcept>

#include "host/png_encoder.h"

using tile_packages::PyramidDescription;
using tile_packages::PyramidTile;

namespace {

bool IsSea(const PyramidDescription& d, const PyramidTile& t) {
    return t.level >= 2 && t.row >= tile_packages::MatrixHeight(d.set, t.level) * 3 / 4;
}

template <typename Encode>
std::vector<SyntheticTile> EveryTile(const PyramidDescription& d, Encode encode) {
    std::vector<SyntheticTile> tiles;
    for (int level = d.minLevel; level <= d.maxLevel; ++level) {
        for (uint32_t column = 0; column < tile_packages::MatrixWidth(d.set, level); ++column) {
            for (uint32_t row = 0; row < tile_packages::MatrixHeight(d.set, level); ++row) {
                const PyramidTile tile{level, column, row};
                tiles.push_back({tile, encode(tile)});
            }
        }
    }
    return tiles;
}

}  // namespace

PyramidDescription SyntheticDescription(SyntheticSet set, int maxLevel) {
    PyramidDescription d;
    if (set == SyntheticSet::WebMercatorQuad) {
        d.set = {"WebMercatorQuad", 3857, -20037508.342789244, 20037508.342789244, 40075016.685578488, 1, 1};
        d.area = {-180, -85.0511287798066, 180, 85.0511287798066};
    } else {
        d.set = {"WorldCRS84Quad", 4326, -180, 90, 180, 2, 1};
        d.area = {-180, -90, 180, 90};
    }
    d.tileSize = 256;
    d.format = tile_packages::TileFormat::Png;
    d.minLevel = 0;
    d.maxLevel = maxLevel;
    d.name = "Synthetic relief";
    d.description = "Solid tiles that tell their place";
    d.attribution = "Zarvo test pyramid";
    return d;
}

std::vector<SyntheticTile> SyntheticTiles(const PyramidDescription& d) {
    return EveryTile(d, [&d](const PyramidTile& t) {
        const bool sea = IsSea(d, t);
        const uint8_t red = sea ? 20 : static_cast<uint8_t>(40 + 50 * t.level);
        const uint8_t green = sea ? 60 : static_cast<uint8_t>(30 + t.column * 25 % 200);
        const uint8_t blue = sea ? 160 : static_cast<uint8_t>(30 + t.row * 25 % 200);
        RgbImage image;
        image.width = image.height = d.tileSize;
        image.pixels.resize(size_t{static_cast<uint32_t>(d.tileSize)} * static_cast<uint32_t>(d.tileSize) * 3);
        for (size_t i = 0; i < image.pixels.size(); i += 3) {
            image.pixels[i] = red;
            image.pixels[i + 1] = green;
            image.pixels[i + 2] = blue;
        }
        std::vector<uint8_t> png;
        std::string error;
        if (!EncodePng(image, PngCompression::Fast, png, error)) throw std::runtime_error(error);
        return png;
    });
}

std::vector<SyntheticTile> SyntheticByteStrings(const PyramidDescription& d) {
    return EveryTile(d, [&d](const PyramidTile& t) {
        // One of a few thousand contents, picked by a hash of the place:
        // tiles far apart share contents, so that directory entries point
        // back into the tile data as real archives' do and compress as
        // little; the sea stays one content in runs.
        uint64_t mix = uint64_t{static_cast<uint32_t>(t.level)} * 0x9E3779B97F4A7C15u ^
                       uint64_t{t.column} * 0xBF58476D1CE4E5B9u ^ uint64_t{t.row} * 0x94D049BB133111EBu;
        mix ^= mix >> 31;
        mix *= 0xD6E8FEB86659FD93u;
        mix ^= mix >> 29;
        const uint64_t variant = mix % 5000;
        const std::string text = IsSea(d, t) ? std::string("sea") : "content " + std::to_string(variant);
        std::vector<uint8_t> bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        bytes.insert(bytes.end(), text.begin(), text.end());
        if (!IsSea(d, t)) bytes.resize(bytes.size() + variant % 61, '.');
        return bytes;
    });
}
