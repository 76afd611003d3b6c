#include "serve/ogcapi/ogcapi_request.h"

#include <algorithm>
#include <vector>

#include "serve/ogcapi/map_parameters.h"

namespace {

// A path longer than this names nothing.
constexpr size_t kMaxPathBytes = 512;

const std::vector<std::string> kDocumentParameters = {"f"};
const std::vector<std::string> kTileParameters = {"f", "bgcolor", "transparent", "void-color", "void-transparent"};
const std::vector<std::string> kMapParameters = {
    "f",     "bbox",   "bbox-crs",          "subset",  "subset-crs",  "center",     "center-crs",      "crs",
    "width", "height", "scale-denominator", "bgcolor", "transparent", "void-color", "void-transparent"};

class Reader {
public:
    Reader(const QueryParameters& query, const std::string* accept, int32_t highestLevel,
           const std::vector<std::string>& layers, ParsedOgcApi& parsed)
        : query(query), accept(accept), highestLevel(highestLevel), layers(layers), parsed(parsed),
          request(parsed.request) {}

    bool Read(const std::string& path) {
        if (path.size() > kMaxPathBytes) return NotFound("no resource at this path");
        std::string trimmed = path;
        if (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
        std::vector<std::string> parts;
        if (trimmed.size() > 1) parts = SplitAt(trimmed.substr(1), '/');
        return Route(parts) && CheckParameters() && ChooseFormat() && ReadImage();
    }

private:
    bool Fail(int status, const char* code, std::string message) {
        parsed.error = OgcApiError{status, code, std::move(message)};
        return false;
    }

    bool NotFound(std::string message) { return Fail(404, "NotFound", std::move(message)); }

    // The resource a path has the shape of, by its fixed words alone.
    static bool Shape(const std::vector<std::string>& parts, OgcResource& resource) {
        const size_t n = parts.size();
        const auto word = [&](size_t i, const char* expected) { return n > i && parts[i] == expected; };
        if (n == 0) {
            resource = OgcResource::Landing;
        } else if (n == 1 && word(0, "conformance")) {
            resource = OgcResource::Conformance;
        } else if (n == 1 && word(0, "api")) {
            resource = OgcResource::ApiDefinition;
        } else if (word(0, "tileMatrixSets") && n <= 2) {
            resource = n == 1 ? OgcResource::TileMatrixSets : OgcResource::TileMatrixSet;
        } else if (!word(0, "collections") || (n > 2 && !word(2, "map")) || (n > 3 && !word(3, "tiles"))) {
            return false;
        } else {
            const OgcResource byLength[] = {OgcResource::Collections, OgcResource::Collection, OgcResource::Map,
                                            OgcResource::Tilesets, OgcResource::Tileset};
            if (n <= 5) {
                resource = byLength[n - 1];
            } else if (n == 8) {
                resource = OgcResource::Tile;
            } else {
                return false;
            }
        }
        return true;
    }

    // Then the names in it: a served layer, a tile matrix set, a tile.
    bool Route(const std::vector<std::string>& parts) {
        if (!Shape(parts, request.resource)) return NotFound("no resource at this path");
        parsed.named = request.resource;
        const size_t n = parts.size();
        if (parts.empty() || parts[0] != "collections") return n < 2 || Set(parts[1]);
        if (n >= 2 && !Collection(parts[1])) return false;
        if (n >= 5 && !Set(parts[4])) return false;
        return n < 8 || Tile(parts[5], parts[6], parts[7]);
    }

    bool Collection(const std::string& name) {
        if (!IsServedLayer(name, layers)) {
            return NotFound("no collection '" + name.substr(0, 64) + "': the collections are " + ListedNames(layers));
        }
        request.collection = name;
        return true;
    }

    bool Set(const std::string& name) {
        request.matrixSet = FindTileMatrixSet(name);
        if (request.matrixSet == nullptr) {
            return NotFound("no tile matrix set '" + name.substr(0, 64) + "': the sets are " + TileMatrixSetsInWords());
        }
        return true;
    }

    bool Tile(const std::string& matrix, const std::string& row, const std::string& column) {
        const TileMatrixSet& set = *request.matrixSet;
        uint32_t level = 0;
        if (!ParseWholeNumber(matrix, 0, static_cast<uint32_t>(highestLevel), level)) {
            return NotFound("the tile matrices are 0 to " + std::to_string(highestLevel));
        }
        request.level = static_cast<int32_t>(level);
        const uint32_t rows = MatrixHeight(set, request.level), columns = MatrixWidth(set, request.level);
        if (!ParseWholeNumber(row, 0, rows - 1, request.row) ||
            !ParseWholeNumber(column, 0, columns - 1, request.column)) {
            return NotFound("tile matrix " + matrix + " has rows 0 to " + std::to_string(rows - 1) +
                            " and columns 0 to " + std::to_string(columns - 1));
        }
        return true;
    }

    const std::vector<std::string>& Allowed() const {
        if (request.resource == OgcResource::Map) return kMapParameters;
        return request.resource == OgcResource::Tile ? kTileParameters : kDocumentParameters;
    }

    // Names are case-sensitive; one the resource does not take, or one
    // given twice, is refused rather than ignored.
    bool CheckParameters() {
        const std::vector<std::string>& allowed = Allowed();
        for (size_t i = 0; i < query.size(); ++i) {
            const std::string& name = query[i].first;
            if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
                std::string names;
                for (const std::string& known : allowed) names += (names.empty() ? "" : ", ") + known;
                return Fail(400, "InvalidParameterValue",
                            "no parameter '" + name.substr(0, 64) + "' here: this resource takes " + names);
            }
            for (size_t j = 0; j < i; ++j) {
                if (query[j].first == name) return Fail(400, "InvalidParameterValue", name + " is given twice");
            }
        }
        return true;
    }

    std::vector<OgcFormat> Offers() const {
        if (request.Image()) return {OgcFormat::Png, OgcFormat::Jpeg, OgcFormat::Webp};
        if (request.resource == OgcResource::ApiDefinition)
            return {OgcFormat::OpenApi, OgcFormat::Json, OgcFormat::Html};
        return {OgcFormat::Json, OgcFormat::Html};
    }

    bool ChooseFormat() {
        const std::vector<OgcFormat> offers = Offers();
        const std::string* f = FindExact(query, "f");
        if (f == nullptr) {
            request.formatFromAccept = true;
            if (Negotiate(offers, accept, request.format)) return true;
            return NotAcceptable(offers, "the Accept header takes none of ");
        }
        OgcFormat named = OgcFormat::Json;
        if (!FormatNamed(*f, named)) {
            return Fail(400, "InvalidParameterValue", "f must be json, html, png, jpeg or webp");
        }
        // The definition's own media type, when asked for by its short name.
        if (named == OgcFormat::Json && request.resource == OgcResource::ApiDefinition) named = OgcFormat::OpenApi;
        if (std::find(offers.begin(), offers.end(), named) == offers.end()) {
            return NotAcceptable(offers, "f=" + f->substr(0, 32) + " is not offered here: this resource is ");
        }
        request.format = named;
        return true;
    }

    bool NotAcceptable(const std::vector<OgcFormat>& offers, std::string message) {
        for (size_t i = 0; i < offers.size(); ++i)
            message += (i == 0 ? "" : ", ") + std::string(MediaTypeOf(offers[i]));
        return Fail(406, "NotAcceptable", std::move(message));
    }

    bool ReadImage() {
        if (!request.Image()) return true;
        MapRequest& map = request.map;
        const ImageFormat format = ImageFormatFor(request.format);
        MapParameterError error;
        if (request.resource == OgcResource::Tile) {
            map = TileMap(request.collection, *request.matrixSet, request.level, request.row, request.column, format);
        } else {
            map.layer = request.collection;
            map.format = format;
        }
        if (request.resource == OgcResource::Map && !ReadMapView(query, map, request.crs, error)) {
            return Fail(error.status, "InvalidParameterValue", error.message);
        }
        if (!ReadBackground(query, map, error)) return Fail(error.status, "InvalidParameterValue", error.message);
        return true;
    }

    const QueryParameters& query;
    const std::string* accept;
    const int32_t highestLevel;
    const std::vector<std::string>& layers;
    ParsedOgcApi& parsed;
    OgcApiRequest& request;
};

const char* ResourceName(OgcResource resource) {
    switch (resource) {
        case OgcResource::Landing: return "landing";
        case OgcResource::Conformance: return "conformance";
        case OgcResource::ApiDefinition: return "api";
        case OgcResource::Collections: return "collections";
        case OgcResource::Collection: return "collection";
        case OgcResource::Map: return "map";
        case OgcResource::Tilesets: return "tilesets";
        case OgcResource::Tileset: return "tileset";
        case OgcResource::Tile: return "tile";
        case OgcResource::TileMatrixSets: return "tileMatrixSets";
        case OgcResource::TileMatrixSet: return "tileMatrixSet";
    }
    return "";
}

}  // namespace

std::string OgcApiRequest::DocumentIdentity() const {
    std::string identity = std::string(ResourceName(resource)) + " " + collection + " ";
    if (matrixSet != nullptr) identity += matrixSet->identifier;
    return identity + " " + MediaTypeOf(format);
}

ParsedOgcApi ParseOgcApi(const std::string& path, const QueryParameters& query, const std::string* accept,
                         int32_t highestLevel, const std::vector<std::string>& layers) {
    ParsedOgcApi parsed;
    parsed.valid = Reader(query, accept, highestLevel, layers, parsed).Read(path);
    return parsed;
}
