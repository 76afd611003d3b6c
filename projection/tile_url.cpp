#include <cstring>
#include <string>

#include "projection/zarvo_coord_transform.h"
#include "projection/zoom.h"

namespace {

// Tile server N (1 to 4) is reached at kServerPrefix N kServerSuffix.
constexpr char16_t kScheme[] = u"http://";
constexpr char16_t kServerPrefix[] = u"tile";
constexpr char16_t kServerSuffix[] = u".zarvo.example";
constexpr char16_t kServicePath[] = u"/geowebcache/service/tms1.0.0/";

// Every row outside the world is served this tile instead (service zoom 5,
// column 0, row 0), so the host always has an image to put there.
constexpr int64_t kFallbackZoom = 5;

// Text of an integer, written without allocating: addresses are written
// straight into their list, as hosts ask for tens of thousands at once.
class Decimal {
public:
    explicit Decimal(int64_t value) {
        const bool negative = value < 0;
        // The magnitude as unsigned, which holds that of INT64_MIN too.
        uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            text[--start] = static_cast<char16_t>(u'0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative) {
            text[--start] = u'-';
        }
    }
    size_t Length() const { return sizeof text / sizeof text[0] - start; }
    const char16_t* Text() const { return text + start; }

private:
    char16_t text[20];  // 19 digits and a sign
    size_t start = sizeof text / sizeof text[0];
};

template <size_t N>
constexpr size_t Length(const char16_t (&)[N]) {
    return N - 1;
}

// Copies `length` units to `out` and returns the end of the copy.
char16_t* Put(char16_t* out, const char16_t* text, size_t length) {
    std::memcpy(out, text, length * sizeof(char16_t));
    return out + length;
}

}  // namespace

std::u16string ZarvoCoordTransform::TileUrl(const TileKey& key) const {
    AddressList one;
    AppendTileUrl(key, one);
    return one.String(0);
}

void ZarvoCoordTransform::AppendTileUrl(const TileKey& key, AddressList& out) const {
    int64_t serviceZoom = int64_t{key.zoom} - 1;
    int64_t column = key.x >> 8;
    int64_t row = -1;
    if (IsSupportedZoom(key.zoom)) {
        // Arithmetic shifts: floor division by the tile size, also for the
        // negative `top` of a row above the world.
        const int64_t top = (int64_t{key.y} - (int64_t{1} << (key.zoom + 9))) >> 8;
        const int64_t maxRow = (int64_t{1} << serviceZoom) - 1;
        row = maxRow - top;
        if (row > maxRow) {
            row = -1;
        }
    }
    if (row < 0) {
        serviceZoom = kFallbackZoom;
        column = 0;
        row = 0;
    }
    // A floor modulo keeps the server number in 1..4 even for a negative
    // column, which the enumeration never produces but a caller might.
    const int64_t server = ((column + row) & 3) + 1;

    const char16_t* extension = kind == LayerKind::Aerial ? u".jpeg" : u".png";
    const size_t extensionLength = kind == LayerKind::Aerial ? 5 : 4;
    const Decimal zoomText(serviceZoom);
    const Decimal columnText(column);
    const Decimal rowText(row);
    const char16_t serverDigit = static_cast<char16_t>(u'0' + server);
    const size_t length = Length(kScheme) + Length(kServerPrefix) + 1 + Length(kServerSuffix) + Length(kServicePath) +
                          layerName.size() + 1 + zoomText.Length() + 1 + columnText.Length() + 1 + rowText.Length() +
                          extensionLength;
    // Written in place, at the end of the list's buffer.
    out.AppendWritten(length, [&](char16_t* start) {
        char16_t* at = start;
        at = Put(at, kScheme, Length(kScheme));
        at = Put(at, kServerPrefix, Length(kServerPrefix));
        at = Put(at, &serverDigit, 1);
        at = Put(at, kServerSuffix, Length(kServerSuffix));
        at = Put(at, kServicePath, Length(kServicePath));
        at = Put(at, layerName.data(), layerName.size());
        at = Put(at, u"/", 1);
        at = Put(at, zoomText.Text(), zoomText.Length());
        at = Put(at, u"/", 1);
        at = Put(at, columnText.Text(), columnText.Length());
        at = Put(at, u"/", 1);
        at = Put(at, rowText.Text(), rowText.Length());
        Put(at, extension, extensionLength);
    });
}
