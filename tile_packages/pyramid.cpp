#include "tile_packages/pyramid.h"

#include <cmath>
#include <cstring>

#include "tile_packages/pyramid_json.h"

namespace tile_packages {
namespace {

using Json = nlohmann::json;

// Level-0 matrices of more than this many tiles a side are refused, which
// keeps every column and row of every level within 29 bits.
constexpr uint32_t kMaxLevel0Tiles = 32;
// Names, descriptions and attributions are a line or a paragraph.
constexpr size_t kMaxTextBytes = 64 * 1024;

const char* FormatName(TileFormat format) {
    switch (format) {
        case TileFormat::Png: return "png";
        case TileFormat::Jpeg: return "jpeg";
        case TileFormat::Webp: return "webp";
    }
    return "png";
}

bool FormatFromName(const std::string& name, TileFormat& format) {
    for (TileFormat candidate : {TileFormat::Png, TileFormat::Jpeg, TileFormat::Webp}) {
        if (name == FormatName(candidate)) {
            format = candidate;
            return true;
        }
    }
    return false;
}

std::string Number(double value) { return Json(value).dump(); }

std::string Quoted(const std::string& text) { return Json(text).dump(); }

// An integer of the record, clamped so that a huge one fails the range
// checks instead of wrapping into range.
int SmallInteger(const Json& value) {
    const int64_t wide = value.get<int64_t>();
    return wide < -1000000 ? -1000000 : wide > 1000000 ? 1000000 : static_cast<int>(wide);
}

}  // namespace

uint64_t MatrixWidth(const TileMatrixSet& set, int level) { return uint64_t{set.columns} << level; }
uint64_t MatrixHeight(const TileMatrixSet& set, int level) { return uint64_t{set.rows} << level; }

bool CheckDescription(const PyramidDescription& d, std::string& error) {
    const TileMatrixSet& set = d.set;
    if (set.identifier.empty() || set.identifier.size() > 256) {
        error = "the tile matrix set has no identifier";
    } else if (set.epsg != 3857 && set.epsg != 4326) {
        error = "the tile matrix set's CRS EPSG:" + std::to_string(set.epsg) + " is neither EPSG:3857 nor EPSG:4326";
    } else if (!std::isfinite(set.left) || !std::isfinite(set.top) || !std::isfinite(set.tileSpan) ||
               !(set.tileSpan > 0)) {
        error = "the tile matrix set's corner and tile span must be finite numbers, the span above 0";
    } else if (set.columns < 1 || set.rows < 1 || set.columns > kMaxLevel0Tiles || set.rows > kMaxLevel0Tiles) {
        error = "the tile matrix set's level 0 must have 1 to " + std::to_string(kMaxLevel0Tiles) +
                " columns and rows";
    } else if (d.tileSize != 256 && d.tileSize != 512) {
        error = "the tile size " + std::to_string(d.tileSize) + " is neither 256 nor 512";
    } else if (d.format != TileFormat::Png && d.format != TileFormat::Jpeg && d.format != TileFormat::Webp) {
        error = "the tile format is none of png, jpeg, webp";
    } else if (d.minLevel < 0 || d.maxLevel > kMaxLevel || d.minLevel > d.maxLevel) {
        error = "the levels " + std::to_string(d.minLevel) + "-" + std::to_string(d.maxLevel) +
                " are not a range within 0-" + std::to_string(kMaxLevel);
    } else if (!(d.area.west >= -180 && d.area.east <= 180 && d.area.west < d.area.east && d.area.south >= -90 &&
                 d.area.north <= 90 && d.area.south < d.area.north)) {
        error = "the area " + Number(d.area.west) + "," + Number(d.area.south) + "," + Number(d.area.east) + "," +
                Number(d.area.north) + " is no west,south,east,north box within -180,-90,180,90";
    } else if (d.name.size() > kMaxTextBytes || d.description.size() > kMaxTextBytes ||
               d.attribution.size() > kMaxTextBytes) {
        error = "the layer's name, description or attribution is longer than " + std::to_string(kMaxTextBytes) +
                " bytes";
    } else {
        return true;
    }
    return false;
}

bool InPyramid(const PyramidDescription& d, const PyramidTile& tile) {
    return tile.level >= d.minLevel && tile.level <= d.maxLevel && tile.column < MatrixWidth(d.set, tile.level) &&
           tile.row < MatrixHeight(d.set, tile.level);
}

std::string FirstDifference(const PyramidDescription& stored, const PyramidDescription& asked) {
    const TileMatrixSet& a = stored.set;
    const TileMatrixSet& b = asked.set;
    auto differs = [](const std::string& field, const std::string& was, const std::string& is) {
        return field + " " + was + ", not " + is;
    };
    if (a.identifier != b.identifier || a.epsg != b.epsg || a.left != b.left || a.top != b.top ||
        a.tileSpan != b.tileSpan || a.columns != b.columns || a.rows != b.rows) {
        return differs("tile matrix set", a.identifier + " (EPSG:" + std::to_string(a.epsg) + ")",
                       b.identifier + " (EPSG:" + std::to_string(b.epsg) + ")" +
                           (a.identifier == b.identifier ? " with other numbers" : ""));
    }
    if (stored.tileSize != asked.tileSize) {
        return differs("tile size", std::to_string(stored.tileSize), std::to_string(asked.tileSize));
    }
    if (stored.format != asked.format) return differs("tile format", FormatName(stored.format), FormatName(asked.format));
    if (stored.minLevel != asked.minLevel || stored.maxLevel != asked.maxLevel) {
        return differs("levels", std::to_string(stored.minLevel) + "-" + std::to_string(stored.maxLevel),
                       std::to_string(asked.minLevel) + "-" + std::to_string(asked.maxLevel));
    }
    const GeoArea& p = stored.area;
    const GeoArea& q = asked.area;
    if (p.west != q.west || p.south != q.south || p.east != q.east || p.north != q.north) {
        return differs("area", Number(p.west) + "," + Number(p.south) + "," + Number(p.east) + "," + Number(p.north),
                       Number(q.west) + "," + Number(q.south) + "," + Number(q.east) + "," + Number(q.north));
    }
    if (stored.name != asked.name) return differs("name", Quoted(stored.name), Quoted(asked.name));
    if (stored.description != asked.description) return "another description";
    if (stored.attribution != asked.attribution) return "another attribution";
    if (stored.overlay != asked.overlay) return stored.overlay ? "an overlay, not a base layer" : "a base layer, not an overlay";
    return {};
}

const char* FileExtension(TileFormat format) { return format == TileFormat::Jpeg ? "jpg" : FormatName(format); }

bool LooksLike(TileFormat format, const uint8_t* bytes, size_t size) {
    switch (format) {
        case TileFormat::Png: return size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0;
        case TileFormat::Jpeg: return size >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff;
        case TileFormat::Webp:
            return size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0;
    }
    return false;
}

Json DescriptionObject(const PyramidDescription& d) {
    const TileMatrixSet& set = d.set;
    return Json{{"tile_matrix_set",
                 {{"identifier", set.identifier},
                  {"epsg", set.epsg},
                  {"top_left", {set.left, set.top}},
                  {"level0_tile_span", set.tileSpan},
                  {"level0_columns", set.columns},
                  {"level0_rows", set.rows}}},
                {"tile_size", d.tileSize},
                {"tile_format", FormatName(d.format)},
                {"levels", {d.minLevel, d.maxLevel}},
                {"area", {d.area.west, d.area.south, d.area.east, d.area.north}},
                {"name", d.name},
                {"description", d.description},
                {"attribution", d.attribution},
                {"overlay", d.overlay}};
}

bool DescriptionFromObject(const Json& object, PyramidDescription& d, std::string& error) {
    // Every field checked for its type before it is read, so that a
    // damaged record is a message rather than an exception.
    auto number = [](const Json& value) { return value.is_number(); };
    const Json* set = object.is_object() && object.contains("tile_matrix_set") ? &object["tile_matrix_set"] : nullptr;
    const bool shaped =
        set && set->is_object() && set->contains("identifier") && (*set)["identifier"].is_string() &&
        set->contains("epsg") && (*set)["epsg"].is_number_integer() && set->contains("top_left") &&
        (*set)["top_left"].is_array() && (*set)["top_left"].size() == 2 && number((*set)["top_left"][0]) &&
        number((*set)["top_left"][1]) && set->contains("level0_tile_span") && number((*set)["level0_tile_span"]) &&
        set->contains("level0_columns") && (*set)["level0_columns"].is_number_unsigned() &&
        set->contains("level0_rows") && (*set)["level0_rows"].is_number_unsigned() && object.contains("tile_size") &&
        object["tile_size"].is_number_integer() && object.contains("tile_format") &&
        object["tile_format"].is_string() && object.contains("levels") && object["levels"].is_array() &&
        object["levels"].size() == 2 && object["levels"][0].is_number_integer() &&
        object["levels"][1].is_number_integer() && object.contains("area") && object["area"].is_array() &&
        object["area"].size() == 4 && number(object["area"][0]) && number(object["area"][1]) &&
        number(object["area"][2]) && number(object["area"][3]) && object.contains("name") &&
        object["name"].is_string() && object.contains("description") && object["description"].is_string() &&
        object.contains("attribution") && object["attribution"].is_string() && object.contains("overlay") &&
        object["overlay"].is_boolean();
    if (!shaped) {
        error = "its tile_pyramid record is incomplete";
        return false;
    }
    PyramidDescription read;
    read.set.identifier = (*set)["identifier"].get<std::string>();
    read.set.epsg = SmallInteger((*set)["epsg"]);
    read.set.left = (*set)["top_left"][0].get<double>();
    read.set.top = (*set)["top_left"][1].get<double>();
    read.set.tileSpan = (*set)["level0_tile_span"].get<double>();
    if ((*set)["level0_columns"].get<uint64_t>() > kMaxLevel0Tiles ||
        (*set)["level0_rows"].get<uint64_t>() > kMaxLevel0Tiles) {
        error = "its tile_pyramid record has a level 0 too large";
        return false;
    }
    read.set.columns = (*set)["level0_columns"].get<uint32_t>();
    read.set.rows = (*set)["level0_rows"].get<uint32_t>();
    read.tileSize = SmallInteger(object["tile_size"]);
    if (!FormatFromName(object["tile_format"].get<std::string>(), read.format)) {
        error = "its tile_pyramid record names an unknown tile format";
        return false;
    }
    read.minLevel = SmallInteger(object["levels"][0]);
    read.maxLevel = SmallInteger(object["levels"][1]);
    read.area = {object["area"][0].get<double>(), object["area"][1].get<double>(), object["area"][2].get<double>(),
                 object["area"][3].get<double>()};
    read.name = object["name"].get<std::string>();
    read.description = object["description"].get<std::string>();
    read.attribution = object["attribution"].get<std::string>();
    read.overlay = object["overlay"].get<bool>();
    std::string invalid;
    if (!CheckDescription(read, invalid)) {
        error = "its tile_pyramid record is invalid: " + invalid;
        return false;
    }
    d = std::move(read);
    return true;
}

std::string DescriptionToJson(const PyramidDescription& description) { return DescriptionObject(description).dump(); }

bool DescriptionFromJson(const std::string& text, PyramidDescription& description, std::string& error) {
    const Json object = Json::parse(text, nullptr, false);
    if (object.is_discarded()) {
        error = "its tile_pyramid record is no JSON";
        return false;
    }
    return DescriptionFromObject(object, description, error);
}

Json ClientMetadata(const PyramidDescription& d) {
    return Json{{"name", d.name},
                {"description", d.description},
                {"attribution", d.attribution},
                {"type", d.overlay ? "overlay" : "baselayer"},
                {"version", "1.0.0"},
                {"format", FileExtension(d.format)},
                {"tile_pyramid", DescriptionObject(d)}};
}

}  // namespace tile_packages
