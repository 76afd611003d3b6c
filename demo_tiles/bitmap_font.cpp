#include "demo_tiles/bitmap_font.h"

namespace {

// 3 x 5 glyphs, one row per entry, bit 2 the leftmost column.
struct Glyph {
    char c;
    uint8_t rows[5];
};

constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'/', {1, 1, 2, 4, 4}}, {'-', {0, 0, 7, 0, 0}},
    {'.', {0, 0, 0, 0, 2}},
};

const Glyph* Find(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) return &g;
    }
    return nullptr;
}

}  // namespace

void DrawText(RgbImage& image, int x, int y, int scale, const std::string& text, const uint8_t rgb[3]) {
    for (char c : text) {
        if (const Glyph* g = Find(c)) {
            for (int row = 0; row < 5 * scale; ++row) {
                for (int col = 0; col < 3 * scale; ++col) {
                    const int px = x + col;
                    const int py = y + row;
                    if (((g->rows[row / scale] >> (2 - col / scale)) & 1) == 0 || px < 0 || py < 0 ||
                        px >= image.width || py >= image.height) {
                        continue;
                    }
                    uint8_t* p = &image.pixels[(static_cast<size_t>(py) * image.width + px) * 3];
                    p[0] = rgb[0];
                    p[1] = rgb[1];
                    p[2] = rgb[2];
                }
            }
        }
        x += 4 * scale;
    }
}
