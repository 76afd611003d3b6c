#include "projection/tile_service.h"

#include <cctype>
#include <cstring>

namespace {

// The path of the service on every server, and the servers' names: server
// N (1 to 4) is kServerPrefix N kServerSuffix.
#define ZARVO_TILE_SERVICE_PATH "/geowebcache/service/tms1.0.0/"
constexpr char kServicePath[] = ZARVO_TILE_SERVICE_PATH;
constexpr char16_t kServicePath16[] = u"" ZARVO_TILE_SERVICE_PATH;
constexpr char16_t kScheme[] = u"http://";
constexpr char16_t kServerPrefix[] = u"tile";
constexpr char16_t kServerSuffix[] = u".zarvo.example";

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

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

// Reads a decimal number of at most 10 digits up to `end`, advancing `at`.
bool ReadNumber(const std::string& text, size_t& at, char end, int64_t& value) {
    const size_t start = at;
    value = 0;
    while (at < text.size() && at - start < 10 && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
        value = value * 10 + (text[at++] - '0');
    }
    if (at == start || at >= text.size() || text[at] != end) {
        return false;
    }
    ++at;
    return true;
}

}  // namespace

void AppendServiceAddress(const std::u16string& layer, const char16_t* extension, int64_t z, int64_t x, int64_t y,
                          AddressList& out) {
    // A floor modulo keeps the server number in 1..4 even for a negative
    // column, which the enumeration never produces but a caller might.
    const int64_t server = ((x + y) & 3) + 1;
    const size_t extensionLength = std::char_traits<char16_t>::length(extension);
    const Decimal zoomText(z);
    const Decimal columnText(x);
    const Decimal rowText(y);
    const char16_t serverDigit = static_cast<char16_t>(u'0' + server);
    const size_t length = Length(kScheme) + Length(kServerPrefix) + 1 + Length(kServerSuffix) + Length(kServicePath16) +
                          layer.size() + 1 + zoomText.Length() + 1 + columnText.Length() + 1 + rowText.Length() + 1 +
                          extensionLength;
    // Written in place, at the end of the list's buffer.
    out.AppendWritten(length, [&](char16_t* start) {
        char16_t* at = start;
        at = Put(at, kScheme, Length(kScheme));
        at = Put(at, kServerPrefix, Length(kServerPrefix));
        at = Put(at, &serverDigit, 1);
        at = Put(at, kServerSuffix, Length(kServerSuffix));
        at = Put(at, kServicePath16, Length(kServicePath16));
        at = Put(at, layer.data(), layer.size());
        at = Put(at, u"/", 1);
        at = Put(at, zoomText.Text(), zoomText.Length());
        at = Put(at, u"/", 1);
        at = Put(at, columnText.Text(), columnText.Length());
        at = Put(at, u"/", 1);
        at = Put(at, rowText.Text(), rowText.Length());
        at = Put(at, u".", 1);
        Put(at, extension, extensionLength);
    });
}

bool ParseTileAddress(const std::string& url, TileAddress& address) {
    const size_t service = url.find(kServicePath);
    if (service == std::string::npos) {
        return false;
    }
    address.server = url.substr(0, service);
    size_t at = service + sizeof kServicePath - 1;
    const size_t layerStart = at;
    while (at < url.size() && IsNameChar(url[at])) ++at;
    if (at == layerStart || at >= url.size() || url[at] != '/') {
        return false;
    }
    address.layer = url.substr(layerStart, at - layerStart);
    ++at;
    if (!ReadNumber(url, at, '/', address.z) || !ReadNumber(url, at, '/', address.x) ||
        !ReadNumber(url, at, '.', address.y)) {
        return false;
    }
    address.extension = url.substr(at);
    if (address.extension.empty()) {
        return false;
    }
    for (char c : address.extension) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

std::string RelativeTilePath(const TileAddress& a) {
    return a.layer + "/" + std::to_string(a.z) + "/" + std::to_string(a.x) + "/" + std::to_string(a.y) + "." +
           a.extension;
}

std::string ServiceAddress(const TileAddress& address) {
    return address.server + kServicePath + RelativeTilePath(address);
}

bool WorldTileAddress(const WorldTileKey& tile, const std::string& listed, TileAddress& address) {
    if (!ParseTileAddress(listed, address) || address.z != int64_t{tile.zoom} - 1 || tile.OutsideWorld()) {
        return false;
    }
    // The service counts rows from the south.
    const int64_t columns = tile.WorldTiles();
    if (address.y != columns - 1 - tile.row || address.x != tile.column + tile.wrap * columns) {
        return false;
    }
    address.x = tile.column;
    return true;
}

const char* ServiceImageType(const std::string& layer) {
    return layer == "aerial" ? "jpeg" : "png";
}
