#include "serve/wmts/wmts_request.h"

#include <algorithm>
#include <vector>

#include "drawing/image_formats.h"
#include "serve/description/xml_text.h"

namespace {

const std::string* Find(const QueryParameters& parameters, const char* name) {
    return FindParameter(parameters, name);
}

bool Fail(WmtsError& error, const char* code, const char* locator, std::string message, int status = 400) {
    error.status = status;
    error.code = code;
    error.locator = locator;
    error.message = std::move(message);
    return false;
}

// A name from the request quoted in a report: its first 64 bytes, cut
// between characters, fit for XML.
std::string Quoted(const std::string& text) {
    return XmlCharacters(text, 64);
}

bool ParseIndex(const std::string& text, uint32_t& value) {
    return ParseWholeNumber(text, 0, 999999999, value);
}

// The parts of a GetTile, as text, whichever form they came in.
struct TileText {
    const std::string* layer;
    const std::string* style;
    const std::string* matrixSet;
    const std::string* matrix;
    const std::string* row;
    const std::string* column;
};

bool ReadTile(const TileText& text, ImageFormat format, int32_t highestLevel, const std::vector<std::string>& layers,
              WmtsTile& tile, WmtsError& error) {
    if (std::find(layers.begin(), layers.end(), *text.layer) == layers.end()) {
        return Fail(error, "InvalidParameterValue", "LAYER",
                    "no layer '" + Quoted(*text.layer) + "': the layers are " + ListedNames(layers));
    }
    tile.layer = *text.layer;
    if (!text.style->empty() && *text.style != "default") {
        return Fail(error, "InvalidParameterValue", "STYLE",
                    "no style '" + Quoted(*text.style) + "': every layer has only its default style");
    }
    const TileMatrixSet* set = FindTileMatrixSet(*text.matrixSet);
    if (set == nullptr) {
        return Fail(error, "InvalidParameterValue", "TILEMATRIXSET",
                    "no tile matrix set '" + Quoted(*text.matrixSet) + "': the sets are " +
                        TileMatrixSetsInWords());
    }
    tile.matrixSet = set->id;
    uint32_t level = 0;
    if (!ParseIndex(*text.matrix, level) || level > static_cast<uint32_t>(highestLevel)) {
        return Fail(error, "InvalidParameterValue", "TILEMATRIX",
                    "TILEMATRIX must be a level from 0 to " + std::to_string(highestLevel) + ", not '" +
                        Quoted(*text.matrix) + "'");
    }
    tile.level = static_cast<int32_t>(level);
    // A number out of range is a tile that is not there; anything else is
    // no number at all.
    if (!ParseIndex(*text.row, tile.row)) {
        return Fail(error, "InvalidParameterValue", "TILEROW", "TILEROW must be a whole number");
    }
    if (tile.row >= MatrixHeight(*set, tile.level)) {
        return Fail(error, "TileOutOfRange", "TILEROW",
                    "TILEROW must be below " + std::to_string(MatrixHeight(*set, tile.level)) + " at this level");
    }
    if (!ParseIndex(*text.column, tile.column)) {
        return Fail(error, "InvalidParameterValue", "TILECOL", "TILECOL must be a whole number");
    }
    if (tile.column >= MatrixWidth(*set, tile.level)) {
        return Fail(error, "TileOutOfRange", "TILECOL",
                    "TILECOL must be below " + std::to_string(MatrixWidth(*set, tile.level)) + " at this level");
    }
    tile.format = format;
    return true;
}

// The tile as text read: its map when it is a tile.
bool ReadTileMap(const TileText& text, ImageFormat format, int32_t highestLevel,
                 const std::vector<std::string>& layers, WmtsRequest& request, WmtsError& error) {
    if (!ReadTile(text, format, highestLevel, layers, request.tile, error)) return false;
    const WmtsTile& tile = request.tile;
    request.map = TileMap(tile.layer, TileMatrixSetOf(tile.matrixSet), tile.level, tile.row, tile.column, tile.format);
    return true;
}

}  // namespace

bool ParseWmtsQuery(const QueryParameters& parameters, int32_t highestLevel, WmtsRequest& request, WmtsError& error,
                    const std::vector<std::string>& layers) {
    request = WmtsRequest{};
    error = WmtsError{};
    const std::string* service = Find(parameters, "SERVICE");
    const std::string* operation = Find(parameters, "REQUEST");
    if (operation != nullptr && EqualsIgnoringCase(*operation, "GetCapabilities")) {
        error.operation = WmtsOperation::GetCapabilities;
    } else if (operation != nullptr && EqualsIgnoringCase(*operation, "GetTile")) {
        error.operation = WmtsOperation::GetTile;
    }
    if (service == nullptr || service->empty()) return Fail(error, "MissingParameterValue", "SERVICE", "SERVICE is missing");
    if (!EqualsIgnoringCase(*service, "WMTS")) {
        return Fail(error, "InvalidParameterValue", "SERVICE", "SERVICE must be WMTS");
    }
    if (operation == nullptr || operation->empty()) {
        return Fail(error, "MissingParameterValue", "REQUEST", "REQUEST is missing");
    }
    if (EqualsIgnoringCase(*operation, "GetCapabilities")) {
        request.operation = WmtsOperation::GetCapabilities;
        return true;
    }
    if (!EqualsIgnoringCase(*operation, "GetTile")) {
        return Fail(error, "OperationNotSupported", "REQUEST", "the service offers GetCapabilities and GetTile only",
                    501);
    }
    request.operation = WmtsOperation::GetTile;
    const std::string* version = Find(parameters, "VERSION");
    if (version == nullptr) return Fail(error, "MissingParameterValue", "VERSION", "VERSION is missing");
    if (*version != "1.0.0") return Fail(error, "InvalidParameterValue", "VERSION", "VERSION must be 1.0.0");
    const char* names[] = {"LAYER", "STYLE", "FORMAT", "TILEMATRIXSET", "TILEMATRIX", "TILEROW", "TILECOL"};
    const std::string* values[7];
    for (size_t i = 0; i < 7; ++i) {
        values[i] = Find(parameters, names[i]);
        if (values[i] == nullptr) {
            return Fail(error, "MissingParameterValue", names[i], std::string(names[i]) + " is missing");
        }
    }
    const ImageFormatEntry* format = FindMediaType(*values[2]);
    if (format == nullptr) {
        return Fail(error, "InvalidParameterValue", "FORMAT", "FORMAT must be " + MediaTypesInWords());
    }
    return ReadTileMap(TileText{values[0], values[1], values[3], values[4], values[5], values[6]}, format->format,
                       highestLevel, layers, request, error);
}

bool ParseWmtsPath(const std::string& path, int32_t highestLevel, WmtsRequest& request, WmtsError& error,
                   const std::vector<std::string>& layers) {
    request = WmtsRequest{};
    error = WmtsError{};
    if (path == "WMTSCapabilities.xml") {
        request.operation = WmtsOperation::GetCapabilities;
        return true;
    }
    // Every other address is one of a tile.
    error.operation = WmtsOperation::GetTile;
    // Split before decoding: an encoded '/' is part of a name, not a step.
    std::vector<std::string> parts = SplitAt(path, '/');
    bool decoded = path.size() <= 512 && parts.size() == 6;
    for (std::string& part : parts) {
        std::string plain;
        decoded = decoded && PercentDecode(part, false, plain);
        part = std::move(plain);
    }
    if (!decoded) {
        return Fail(error, "InvalidParameterValue", "path",
                    "a tile's address is /wmts/1.0.0/{layer}/default/{TileMatrixSet}/{z}/{y}/{x}, then " +
                        ExtensionsInWords(),
                    404);
    }
    std::string& last = parts[5];
    const size_t dot = last.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : last.substr(dot + 1);
    // Only the extensions the capabilities' templates write: one address a
    // tile, for the caches in front.
    const ImageFormatEntry* format = extension == "jpg" ? nullptr : FindExtension(extension);
    if (format == nullptr) {
        return Fail(error, "InvalidParameterValue", "FORMAT", "a tile's address ends in " + ExtensionsInWords(), 404);
    }
    last.resize(dot);
    request.operation = WmtsOperation::GetTile;
    if (!ReadTileMap(TileText{&parts[0], &parts[1], &parts[2], &parts[3], &parts[4], &parts[5]}, format->format,
                     highestLevel, layers, request, error)) {
        // A RESTful address that names no tile is a resource that is not there.
        error.status = 404;
        return false;
    }
    return true;
}
