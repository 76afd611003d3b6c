#include "tests/support/tile_fixtures.h"

#include <cmath>
#include <memory>

#include "projection/tile_range.h"

void TileSet::AddTiles(size_t count, int32_t bytesPerPixel, const PixelFill& fill) {
    for (size_t n = 0; n < count; ++n) {
        const size_t k = images.size();
        auto buffer = std::make_unique<std::vector<uint8_t>>(256 * 256 * static_cast<size_t>(bytesPerPixel));
        for (int b = 0; b < 256; ++b) {
            for (int a = 0; a < 256; ++a) {
                fill(k, a, b, buffer->data() + (static_cast<size_t>(b) * 256 + a) * bytesPerPixel);
            }
        }
        images.push_back(TileImage{buffer->data(), static_cast<int32_t>(buffer->size()), 256, 256, bytesPerPixel, 0});
        buffers.push_back(std::move(buffer));
    }
}

void TileSet::AddEmpty() {
    images.push_back(TileImage{});
}

DataRequestBlock MakeRequest(int32_t zoom, double west, double south, double east, double north, uint32_t width,
                             uint32_t height, int32_t layerId) {
    DataRequestBlock r{};
    r.zoom = zoom;
    r.layerId = layerId;
    r.width = width;
    r.height = height;
    r.south = south;
    r.west = west;
    r.north = north;
    r.east = east;
    return r;
}

std::vector<TileKey> RequestTiles(const CoordTransform& transform, const DataRequestBlock& request) {
    std::vector<TileKey> tiles;
    RequestTileRange(transform, request).AppendKeys(tiles);
    return tiles;
}

std::vector<std::u16string> Strings(const AddressList& list) {
    std::vector<std::u16string> strings;
    for (size_t i = 0; i < list.Size(); ++i) {
        strings.push_back(list.String(i));
    }
    return strings;
}

void PatternFill(size_t k, int a, int b, uint8_t* pixel) {
    pixel[0] = static_cast<uint8_t>(a * 7 + b * 3 + k * 41);
    pixel[1] = static_cast<uint8_t>(a * 5 + b * 11 + k * 17);
    pixel[2] = static_cast<uint8_t>((a ^ b) + k * 29);
    // A fourth byte, where there is one, is never read.
}

WorldPoint PerPixelTransform::ToWorldPixel(double lon, double lat, int32_t zoom) const {
    return inner.ToWorldPixel(lon, lat, zoom);
}

int32_t PerPixelTransform::TileWidth() const {
    return inner.TileWidth();
}

int32_t PerPixelTransform::TileHeight() const {
    return inner.TileHeight();
}

std::u16string PerPixelTransform::TileUrl(const TileKey& key) const {
    return inner.TileUrl(key);
}

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

TileProvider PatternTiles(int32_t bytesPerPixel, std::vector<std::string>* seen) {
    return [bytesPerPixel, seen](const std::vector<std::string>& addresses) {
        if (seen != nullptr) *seen = addresses;
        auto tiles = std::make_shared<TileSet>();
        tiles->AddTiles(addresses.size(), bytesPerPixel, PatternFill);
        ProvidedTiles provided;
        for (const TileImage& image : tiles->Images()) {
            provided.tiles.push_back(TileView{image.pixels, static_cast<size_t>(image.byteSize), image.width,
                                              image.height, image.bytesPerPixel});
        }
        provided.keep = std::move(tiles);
        return provided;
    };
}
