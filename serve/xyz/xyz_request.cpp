#include "serve/xyz/xyz_request.h"

#include <vector>

#include "serve/http/accept_header.h"
#include "serve/http/query_string.h"

namespace {

constexpr size_t kMaxPath = 512;
constexpr char kHiDpi[] = "@2x";

ParsedXyz Refused(std::string message, bool namedTile, int status = 404) {
    ParsedXyz parsed;
    parsed.error.status = status;
    parsed.error.message = std::move(message);
    parsed.error.namedTile = namedTile;
    return parsed;
}

bool ParseIndex(const std::string& text, uint32_t& value) {
    return ParseWholeNumber(text, 0, 999999999, value);
}

// The order an extension-less tile's formats are preferred in when Accept
// takes them alike.
int Preference(const ImageFormatEntry& format, const std::string& layer) {
    const ImageFormat own = layer == "aerial" ? ImageFormat::Jpeg : ImageFormat::Png;
    if (format.format == own) return 0;
    return format.format == ImageFormat::Webp ? 1 : 2;
}

}  // namespace

const ImageFormatEntry* NegotiateFormat(std::string_view accept, const std::string& layer) {
    const ImageFormatEntry* chosen = nullptr;
    Acceptance best;
    for (const ImageFormatEntry& format : ImageFormats()) {
        const Acceptance taken = AcceptanceOf(accept, format.mediaType);
        if (taken.quality == 0) continue;
        const bool better =
            chosen == nullptr || taken.quality > best.quality ||
            (taken.quality == best.quality &&
             (taken.specificity > best.specificity ||
              (taken.specificity == best.specificity && Preference(format, layer) < Preference(*chosen, layer))));
        if (better) {
            chosen = &format;
            best = taken;
        }
    }
    return chosen;
}

ParsedXyz ParseXyzPath(const std::string& path, std::string_view accept, int32_t highestLevel,
                       const std::vector<std::string>& layers) {
    const std::vector<std::string> parts = SplitAt(path, '/');
    if (path.size() > kMaxPath || (parts.size() != 3 && parts.size() != 5)) {
        return Refused("an XYZ address is /tiles/{layer}/{tileMatrixSetId}/{z}/{x}/{y}, then @2x and " +
                           ExtensionsInWords() + " if wanted, or /tiles/{layer}/{tileMatrixSetId}/tilejson.json",
                       false);
    }
    const bool tile = parts.size() == 5;
    if (!tile && parts[2] != "tilejson.json") {
        return Refused("no document '" + parts[2].substr(0, 64) + "': the layer's is tilejson.json", false);
    }
    if (!IsServedLayer(parts[0], layers)) {
        return Refused("no layer '" + parts[0].substr(0, 64) + "': the layers are " + ListedNames(layers), tile);
    }
    const TileMatrixSet* set = FindTileMatrixSet(parts[1]);
    if (set == nullptr) {
        return Refused("no tile matrix set '" + parts[1].substr(0, 64) + "': the sets are " + TileMatrixSetsInWords(),
                       tile);
    }
    ParsedXyz parsed;
    XyzRequest& request = parsed.request;
    request.layer = parts[0];
    request.set = set;
    if (!tile) {
        request.resource = XyzResource::TileJson;
        parsed.valid = true;
        return parsed;
    }
    // {y}, then "@2x", then ".ext", each optional but in that order.
    std::string last = parts[4];
    const ImageFormatEntry* format = nullptr;
    const size_t dot = last.rfind('.');
    if (dot != std::string::npos) {
        format = FindExtension(last.substr(dot + 1));
        if (format == nullptr) {
            return Refused("a tile's address ends in " + ExtensionsInWords() + " or in none", true);
        }
        last.resize(dot);
    }
    const size_t marker = last.size() >= 3 ? last.size() - 3 : std::string::npos;
    if (marker != std::string::npos && last.compare(marker, 3, kHiDpi) == 0) {
        const TileMatrixSet* twin = HiDpiTwin(*set);
        if (twin == nullptr) {
            return Refused(std::string(set->identifier) + " has no @2x twin: its tiles are 512 pixels already", true);
        }
        request.set = twin;
        last.resize(marker);
    }
    uint32_t level = 0, column = 0, row = 0;
    if (!ParseIndex(parts[2], level) || level > static_cast<uint32_t>(highestLevel)) {
        return Refused("z must be a level from 0 to " + std::to_string(highestLevel) + ", not '" +
                           parts[2].substr(0, 64) + "'",
                       true);
    }
    const int32_t z = static_cast<int32_t>(level);
    if (!ParseIndex(parts[3], column) || column >= MatrixWidth(*request.set, z)) {
        return Refused("x must be below " + std::to_string(MatrixWidth(*request.set, z)) + " at this level", true);
    }
    if (!ParseIndex(last, row) || row >= MatrixHeight(*request.set, z)) {
        return Refused("y must be below " + std::to_string(MatrixHeight(*request.set, z)) + " at this level", true);
    }
    if (format == nullptr) {
        format = NegotiateFormat(accept, request.layer);
        request.negotiated = true;
        if (format == nullptr) return Refused("Accept takes none of " + MediaTypesInWords(), true, 406);
    }
    request.resource = XyzResource::Tile;
    request.map = TileMap(request.layer, *request.set, z, row, column, format->format);
    parsed.valid = true;
    return parsed;
}
