#include "serve/wms/wms_query.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "drawing/image_formats.h"

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

const std::string* Find(const QueryParameters& parameters, const char* name) {
    return FindParameter(parameters, name);
}

std::vector<std::string> SplitCommas(const std::string& text) {
    return SplitAt(text, ',');
}

// A name from the request quoted in an error: its first 64 bytes, cut
// between UTF-8 characters.
std::string Excerpt(const std::string& text) {
    size_t end = std::min<size_t>(text.size(), 64);
    while (end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// A decimal number in plain notation; strtod alone would also take hex,
// "inf", "nan" and leading blanks.
bool ParseCoordinate(const std::string& text, double limit, double& value) {
    if (text.empty() || text.size() > 64) return false;
    for (char c : text) {
        const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
        if (!allowed) return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    // A value too small for a normal double (a denormal, or zero) is still
    // a number: only an overflow is out of range.
    const bool overflow = errno == ERANGE && std::fabs(value) > 1;
    return !overflow && *end == '\0' && std::isfinite(value) && std::fabs(value) <= limit;
}

bool ParseColour(const std::string& text, uint32_t& colour) {
    if (text.size() != 8 || text[0] != '0' || LowerAscii(text[1]) != 'x') return false;
    uint32_t value = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        const char c = LowerAscii(text[i]);
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    colour = value;
    return true;
}

// "a.b.c" as a comparable number; false for anything else.
bool ParseVersionNumber(const std::string& text, long& number) {
    long fields[3] = {0, 0, 0};
    size_t field = 0;
    std::string digits;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            uint32_t value = 0;
            if (field >= 3 || !ParseWholeNumber(digits, 0, 999, value)) return false;
            fields[field++] = static_cast<long>(value);
            digits.clear();
        } else {
            digits += text[i];
        }
    }
    number = fields[0] * 1000000 + fields[1] * 1000 + fields[2];
    return field == 3;
}

class Parser {
public:
    Parser(const QueryParameters& parameters, const std::vector<std::string>& layers, WmsQuery& query,
           WmsError& error)
        : parameters(parameters), layers(layers), query(query), error(error) {}

    bool Parse() {
        error.version = GuessVersion();
        const std::string* service = Find(parameters, "SERVICE");
        const std::string* request = Find(parameters, "REQUEST");
        if (request == nullptr || request->empty()) {
            return Fail(WmsErrorCode::MissingParameterValue, "REQUEST is missing");
        }
        const bool capabilities = EqualsIgnoringCase(*request, "GetCapabilities") ||
                                  EqualsIgnoringCase(*request, "capabilities");
        const bool map = EqualsIgnoringCase(*request, "GetMap") || EqualsIgnoringCase(*request, "map");
        if (capabilities) error.operation = WmsOperation::GetCapabilities;
        if (map) error.operation = WmsOperation::GetMap;
        if (service != nullptr && !EqualsIgnoringCase(*service, "WMS")) {
            return Fail(WmsErrorCode::InvalidParameterValue, "SERVICE must be WMS");
        }
        if (capabilities) {
            if (service == nullptr) return Fail(WmsErrorCode::MissingParameterValue, "SERVICE is missing");
            query.operation = WmsOperation::GetCapabilities;
            return NegotiateVersion();
        }
        if (map) {
            query.operation = WmsOperation::GetMap;
            return ParseGetMap();
        }
        return Fail(WmsErrorCode::OperationNotSupported, "the service offers GetCapabilities and GetMap only");
    }

private:
    const std::string* Version() const {
        const std::string* version = Find(parameters, "VERSION");
        return version != nullptr ? version : Find(parameters, "WMTVER");
    }

    WmsVersion GuessVersion() const {
        const std::string* version = Version();
        long number = 0;
        if (version != nullptr && ParseVersionNumber(*version, number) && number < 1003000) {
            return WmsVersion::V111;
        }
        return WmsVersion::V130;
    }

    bool Fail(WmsErrorCode code, std::string message) {
        error.code = code;
        error.message = std::move(message);
        return false;
    }

    // The highest version the service has that is not above the client's;
    // the lowest when the client's is below both.
    bool NegotiateVersion() {
        const std::string* version = Version();
        long number = 0;
        if (version == nullptr || version->empty()) {
            query.version = WmsVersion::V130;
            return true;
        }
        if (!ParseVersionNumber(*version, number)) {
            return Fail(WmsErrorCode::InvalidParameterValue, "VERSION must look like 1.3.0");
        }
        query.version = number >= 1003000 ? WmsVersion::V130 : WmsVersion::V111;
        return true;
    }

    const std::string* Required(const char* name) {
        const std::string* value = Find(parameters, name);
        if (value == nullptr) Fail(WmsErrorCode::MissingParameterValue, std::string(name) + " is missing");
        return value;
    }

    bool ParseGetMap() {
        const std::string* version = Version();
        if (version == nullptr) return Fail(WmsErrorCode::MissingParameterValue, "VERSION is missing");
        if (*version == "1.3.0") {
            query.version = WmsVersion::V130;
        } else if (*version == "1.1.1" || *version == "1.1.0") {
            query.version = WmsVersion::V111;
        } else {
            return Fail(WmsErrorCode::InvalidParameterValue, "GetMap is served in VERSION 1.3.0 and 1.1.1");
        }
        error.version = query.version;
        return ParseLayers() && ParseStyles() && ParseBox() && ParseSize() && ParseFormat() && ParseBackground();
    }

    bool ParseLayers() {
        const std::string* named = Required("LAYERS");
        if (named == nullptr) return false;
        if (named->empty()) return Fail(WmsErrorCode::MissingParameterValue, "LAYERS is empty");
        layerNames = SplitCommas(*named);
        if (layerNames.size() > kMaxLayersPerRequest) {
            return Fail(WmsErrorCode::InvalidParameterValue,
                        "LAYERS names more than " + std::to_string(kMaxLayersPerRequest) + " layers");
        }
        for (const std::string& name : layerNames) {
            if (std::find(layers.begin(), layers.end(), name) == layers.end()) {
                return Fail(WmsErrorCode::LayerNotDefined,
                            "no layer '" + Excerpt(name) + "': the layers are " + ListedNames(layers));
            }
        }
        // Every layer covers its whole box opaquely, so the last one drawn,
        // the top of the list, is all that can be seen.
        query.map.layer = layerNames.back();
        return true;
    }

    bool ParseStyles() {
        const std::string* styles = Required("STYLES");
        if (styles == nullptr) return false;
        if (styles->empty()) return true;
        const std::vector<std::string> names = SplitCommas(*styles);
        if (names.size() != layerNames.size()) {
            return Fail(WmsErrorCode::StyleNotDefined, "STYLES must name one style per layer, or none");
        }
        for (const std::string& name : names) {
            if (!name.empty() && !EqualsIgnoringCase(name, "default")) {
                return Fail(WmsErrorCode::StyleNotDefined,
                            "no style '" + Excerpt(name) + "': every layer has only its default style");
            }
        }
        return true;
    }

    bool ParseBox() {
        const bool v130 = query.version == WmsVersion::V130;
        const char* crsName = v130 ? "CRS" : "SRS";
        const std::string* crs = Required(crsName);
        if (crs == nullptr) return false;
        bool latitudeFirst = false;
        double limit = kMaxCoordinateMagnitude;
        if (EqualsIgnoringCase(*crs, "EPSG:4326")) {
            // EPSG:4326 is latitude, longitude; WMS 1.1.1 predates honouring it.
            latitudeFirst = v130;
        } else if (EqualsIgnoringCase(*crs, "EPSG:3857")) {
            query.map.crs = MapCrs::WebMercator;
            limit = kMaxCoordinateMagnitude * 1000.0;
        } else if (!EqualsIgnoringCase(*crs, "CRS:84")) {
            return Fail(WmsErrorCode::InvalidCRS, std::string(crsName) + " must be EPSG:4326, CRS:84 or EPSG:3857, not '" +
                                                      Excerpt(*crs) + "'");
        }
        const std::string* bbox = Required("BBOX");
        if (bbox == nullptr) return false;
        const std::vector<std::string> parts = SplitCommas(*bbox);
        double v[4] = {0, 0, 0, 0};
        bool numbers = parts.size() == 4;
        for (size_t i = 0; numbers && i < 4; ++i) numbers = ParseCoordinate(parts[i], limit, v[i]);
        if (!numbers) {
            return Fail(WmsErrorCode::InvalidParameterValue,
                        query.map.crs == MapCrs::WebMercator ? "BBOX must be four finite numbers in metres"
                                                             : "BBOX must be four finite numbers in degrees");
        }
        MapBox& box = query.map.box;
        if (latitudeFirst) {
            box = MapBox{v[1], v[0], v[3], v[2]};
        } else {
            box = MapBox{v[0], v[1], v[2], v[3]};
        }
        if (!(box.west < box.east) || !(box.south < box.north)) {
            return Fail(WmsErrorCode::InvalidParameterValue, "BBOX must have its minimum below its maximum on each axis");
        }
        return true;
    }

    bool ParseSize() {
        const std::string* width = Required("WIDTH");
        if (width == nullptr) return false;
        const std::string* height = Required("HEIGHT");
        if (height == nullptr) return false;
        if (!ParseWholeNumber(*width, 1, kMaxImageWidth, query.map.width)) {
            return Fail(WmsErrorCode::InvalidParameterValue,
                        "WIDTH must be a whole number from 1 to " + std::to_string(kMaxImageWidth));
        }
        if (!ParseWholeNumber(*height, 1, kMaxImageHeight, query.map.height)) {
            return Fail(WmsErrorCode::InvalidParameterValue,
                        "HEIGHT must be a whole number from 1 to " + std::to_string(kMaxImageHeight));
        }
        return true;
    }

    bool ParseFormat() {
        const std::string* format = Required("FORMAT");
        if (format == nullptr) return false;
        const ImageFormatEntry* entry = FindMediaType(*format);
        if (entry == nullptr) return Fail(WmsErrorCode::InvalidFormat, "FORMAT must be " + MediaTypesInWords());
        query.map.format = entry->format;
        return true;
    }

    bool ParseBackground() {
        const std::string* colour = Find(parameters, "BGCOLOR");
        if (colour != nullptr && !ParseColour(*colour, query.map.background)) {
            return Fail(WmsErrorCode::InvalidParameterValue, "BGCOLOR must be 0xRRGGBB");
        }
        const std::string* transparent = Find(parameters, "TRANSPARENT");
        if (transparent != nullptr && !EqualsIgnoringCase(*transparent, "FALSE")) {
            if (!EqualsIgnoringCase(*transparent, "TRUE")) {
                return Fail(WmsErrorCode::InvalidParameterValue, "TRANSPARENT must be TRUE or FALSE");
            }
            // Only a PNG has an alpha channel; a JPEG stays opaque.
            query.map.transparent = query.map.format == ImageFormat::Png;
        }
        return true;
    }

    const QueryParameters& parameters;
    const std::vector<std::string>& layers;
    WmsQuery& query;
    WmsError& error;
    std::vector<std::string> layerNames;
};

}  // namespace

bool ParseWmsQuery(const QueryParameters& parameters, WmsQuery& query, WmsError& error,
                   const std::vector<std::string>& layers) {
    query = WmsQuery{};
    error = WmsError{};
    return Parser(parameters, layers, query, error).Parse();
}

ParsedWms ParseWms(const QueryParameters& parameters, const std::vector<std::string>& layers) {
    ParsedWms parsed;
    parsed.valid = ParseWmsQuery(parameters, parsed.query, parsed.error, layers);
    return parsed;
}

const char* WmsErrorCodeName(WmsErrorCode code, WmsVersion version) {
    switch (code) {
        case WmsErrorCode::MissingParameterValue: return "MissingParameterValue";
        case WmsErrorCode::InvalidParameterValue: return "InvalidParameterValue";
        case WmsErrorCode::OperationNotSupported: return "OperationNotSupported";
        case WmsErrorCode::InvalidFormat: return "InvalidFormat";
        case WmsErrorCode::InvalidCRS: return version == WmsVersion::V111 ? "InvalidSRS" : "InvalidCRS";
        case WmsErrorCode::LayerNotDefined: return "LayerNotDefined";
        case WmsErrorCode::StyleNotDefined: return "StyleNotDefined";
    }
    return "InvalidParameterValue";
}
