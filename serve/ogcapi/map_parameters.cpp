#include "serve/ogcapi/map_parameters.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "drawing/map_grid.h"
#include "serve/ogcapi/web_colours.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// One degree of the equator on the sphere of 6378137 m, the metres a scale
// denominator's ground distance is counted in.
constexpr double kMetresPerDegree = 111319.49079327357;
// The standard display pixel: 0.28 mm.
constexpr double kPixelMetres = 0.00028;
constexpr uint32_t kDefaultSide = 1024;

// A position with its longitude (or easting) first, whatever the order it
// was given in.
struct Point {
    double x = 0, y = 0;
};

// The layers' extent in `crs`'s units: the Mercator world.
MapBox Extent(OgcCrs crs) {
    if (crs == OgcCrs::Epsg3857)
        return MapBox{-kMercatorHalfWorld, -kMercatorHalfWorld, kMercatorHalfWorld, kMercatorHalfWorld};
    return MapBox{kCoverageWest, kCoverageSouth, kCoverageEast, kCoverageNorth};
}

double LimitOf(OgcCrs crs) {
    return crs == OgcCrs::Epsg3857 ? kMaxCoordinateMagnitude * 1000.0 : kMaxCoordinateMagnitude;
}

// A decimal number in plain notation, finite, within `limit`.
bool ReadNumber(const std::string& text, double limit, double& value) {
    if (text.empty() || text.size() > 64 || text.find_first_not_of("0123456789.+-eE") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value) && std::fabs(value) <= limit;
}

// Exactly `count` comma-separated numbers.
bool ReadNumbers(const std::string& text, size_t count, double limit, std::vector<double>& values) {
    const std::vector<std::string> parts = SplitAt(text, ',');
    values.assign(parts.size(), 0);
    if (parts.size() != count) return false;
    for (size_t i = 0; i < count; ++i) {
        if (!ReadNumber(parts[i], limit, values[i])) return false;
    }
    return true;
}

double NorthingOf(double latitude) {
    const double clamped = std::max(kCoverageSouth, std::min(kCoverageNorth, latitude));
    const double y = std::log(std::tan(kPi / 4 + clamped * kPi / 360)) * kMercatorHalfWorld / kPi;
    return std::max(-kMercatorHalfWorld, std::min(kMercatorHalfWorld, y));
}

// Longitude and latitude to EPSG:3857 and back; within either grid, as it
// is (EPSG:4326 and CRS84 differ only in order, which the reading undid).
Point Convert(Point p, OgcCrs from, OgcCrs to) {
    if (GridOf(from) == GridOf(to)) return p;
    if (to == OgcCrs::Epsg3857) return Point{p.x / 180.0 * kMercatorHalfWorld, NorthingOf(p.y)};
    return Point{LongitudeOfEasting(p.x), LatitudeOfNorthing(p.y)};
}

MapBox Convert(const MapBox& box, OgcCrs from, OgcCrs to) {
    const Point low = Convert(Point{box.west, box.south}, from, to);
    const Point high = Convert(Point{box.east, box.north}, from, to);
    return MapBox{low.x, low.y, high.x, high.y};
}

bool ReadBoolean(const std::string* text, bool& value) {
    if (text == nullptr) return true;
    if (*text != "true" && *text != "false") return false;
    value = *text == "true";
    return true;
}

// Reads the view of one request.
class ViewReader {
public:
    ViewReader(const QueryParameters& query, MapRequest& map, OgcCrs& crs, MapParameterError& error)
        : query(query), map(map), crs(crs), error(error) {}

    bool Read() {
        crs = OgcCrs::Crs84;
        if (!ReadCrs("crs", crs)) return false;
        map.crs = GridOf(crs);
        const std::string* bbox = FindExact(query, "bbox");
        const std::string* subset = FindExact(query, "subset");
        const std::string* center = FindExact(query, "center");
        if (bbox != nullptr && subset != nullptr) return Fail("bbox and subset both choose the area: give one");
        if (center != nullptr && (bbox != nullptr || subset != nullptr)) {
            return Fail("center chooses the area around it: give it without bbox or subset");
        }
        if (!ReadSize()) return false;
        const bool area = bbox != nullptr || subset != nullptr;
        if (area && scale > 0 && (width > 0 || height > 0)) {
            return Fail("scale-denominator with a bbox or subset sets the size: give it without width and height");
        }
        if (area) {
            if (!(bbox != nullptr ? ReadBbox(*bbox, map.box) : ReadSubset(*subset, map.box)) || !CheckBox()) {
                return false;
            }
            return scale > 0 ? SizeFromScale() : SizeFromShape();
        }
        // Without an area, a size chooses one too, around the centre.
        if (center != nullptr || scale > 0 || width > 0 || height > 0) return ViewAroundCentre(center) && CheckBox();
        map.box = Extent(crs);
        return SizeFromShape();
    }

private:
    bool Fail(std::string message, int status = 400) {
        error.status = status;
        error.message = std::move(message);
        return false;
    }

    bool ReadCrs(const char* name, OgcCrs& read) {
        const std::string* text = FindExact(query, name);
        if (text == nullptr || ParseCrs(*text, read)) return true;
        return Fail(std::string(name) + " must name CRS84, EPSG:4326 or EPSG:3857 by its URI, e.g. " +
                    CrsUri(OgcCrs::Crs84));
    }

    bool ReadSide(const char* name, uint32_t limit, uint32_t& side) {
        const std::string* text = FindExact(query, name);
        if (text == nullptr) return true;
        if (!ParseWholeNumber(*text, 1, 999999999, side)) {
            return Fail(std::string(name) + " must be a whole number of pixels, at least 1");
        }
        if (side > limit) return Fail(std::string(name) + " is at most " + std::to_string(limit), 413);
        return true;
    }

    bool ReadSize() {
        if (!ReadSide("width", kMaxImageWidth, width) || !ReadSide("height", kMaxImageHeight, height)) return false;
        const std::string* text = FindExact(query, "scale-denominator");
        if (text != nullptr && (!ReadNumber(*text, 1e15, scale) || !(scale > 0))) {
            return Fail("scale-denominator must be a positive number");
        }
        return true;
    }

    // Turns a box read in `in`'s axis order into one longitude (easting)
    // first in the answer's CRS. A geographic box whose west edge lies east
    // of its east edge crosses longitude 180.
    bool Place(double first[2], double second[2], OgcCrs in, MapBox& box, const char* what) {
        const bool swap = LatitudeFirst(in);
        MapBox read{swap ? second[0] : first[0], swap ? first[0] : second[0], swap ? second[1] : first[1],
                    swap ? first[1] : second[1]};
        if (GridOf(in) == MapCrs::LonLat && read.west > read.east) read.east += 360.0;
        if (!(read.west < read.east) || !(read.south < read.north)) {
            return Fail(std::string(what) + " must have its minimum below its maximum on each axis");
        }
        box = Convert(read, in, crs);
        return true;
    }

    bool ReadBbox(const std::string& text, MapBox& box) {
        OgcCrs in = OgcCrs::Crs84;
        if (!ReadCrs("bbox-crs", in)) return false;
        std::vector<double> v;
        if (!ReadNumbers(text, 4, LimitOf(in), v)) {
            if (v.size() == 6) return Fail("bbox has six numbers, a box with heights: the maps have two axes");
            return Fail("bbox must be four finite numbers: the lower corner, then the upper, in bbox-crs's order");
        }
        double first[2] = {v[0], v[2]}, second[2] = {v[1], v[3]};
        return Place(first, second, in, box, "bbox");
    }

    // subset=Lat(low:high),Lon(low:high): either axis may be left out, or
    // an end given as *, for the layers' extent.
    bool ReadSubset(const std::string& text, MapBox& box) {
        OgcCrs in = OgcCrs::Crs84;
        if (!ReadCrs("subset-crs", in)) return false;
        const MapBox extent = Extent(in);
        double x[2] = {extent.west, extent.east}, y[2] = {extent.south, extent.north};
        bool seen[2] = {false, false};
        for (const std::string& part : SplitAt(text, ',')) {
            const size_t open = part.find('('), colon = part.find(':');
            if (open == std::string::npos || part.size() < open + 2 || part.back() != ')') {
                return Fail("subset must read like Lat(40:60),Lon(-10:20)");
            }
            const int axis = AxisOf(part.substr(0, open), in);
            if (axis < 0 || seen[axis])
                return Fail("subset names each axis of subset-crs once: Lon and Lat, or E and N");
            seen[axis] = true;
            if (colon == std::string::npos || colon < open) return Fail("subset takes a range on each axis, low:high");
            double* ends = axis == 0 ? x : y;
            const std::string low = part.substr(open + 1, colon - open - 1);
            const std::string high = part.substr(colon + 1, part.size() - colon - 2);
            if ((low != "*" && !ReadNumber(low, LimitOf(in), ends[0])) ||
                (high != "*" && !ReadNumber(high, LimitOf(in), ends[1]))) {
                return Fail("subset's ends must be finite numbers or *");
            }
        }
        // Read as if given in `in`'s order, which Place undoes.
        double first[2] = {x[0], x[1]}, second[2] = {y[0], y[1]};
        if (LatitudeFirst(in)) std::swap(first, second);
        return Place(first, second, in, box, "subset");
    }

    // 0 for the axis of longitude or easting, 1 for latitude or northing.
    static int AxisOf(const std::string& name, OgcCrs in) {
        const bool geographic = GridOf(in) == MapCrs::LonLat;
        const std::vector<const char*> axes[2] = {
            geographic ? std::vector<const char*>{"lon", "long", "longitude"}
                       : std::vector<const char*>{"e", "x", "easting"},
            geographic ? std::vector<const char*>{"lat", "latitude"} : std::vector<const char*>{"n", "y", "northing"}};
        for (int axis = 0; axis < 2; ++axis) {
            for (const char* candidate : axes[axis]) {
                if (EqualsIgnoringCase(name, candidate)) return axis;
            }
        }
        return -1;
    }

    // The CRS units one pixel spans at the scale, at `latitude`: each
    // pixel is the same ground distance both ways.
    void UnitsPerPixel(double latitude, double& dx, double& dy) const {
        const double metres = scale * kPixelMetres;
        const double shrink = std::cos(std::max(-85.0, std::min(85.0, latitude)) * kPi / 180.0);
        if (crs == OgcCrs::Epsg3857) {
            dx = dy = metres / shrink;
        } else {
            dy = metres / kMetresPerDegree;
            dx = dy / shrink;
        }
    }

    double MiddleLatitude() const {
        const double middle = (map.box.south + map.box.north) / 2;
        return crs == OgcCrs::Epsg3857 ? LatitudeOfNorthing(middle) : middle;
    }

    bool SetSides(double columns, double rows, const char* why) {
        if (columns > kMaxImageWidth || rows > kMaxImageHeight) {
            return Fail(std::string(why) + " the map would be " + std::to_string(std::lround(std::min(columns, 1e9))) +
                            " x " + std::to_string(std::lround(std::min(rows, 1e9))) + " pixels, beyond " +
                            std::to_string(kMaxImageWidth) + " x " + std::to_string(kMaxImageHeight),
                        413);
        }
        map.width = static_cast<uint32_t>(std::max(1L, std::lround(columns)));
        map.height = static_cast<uint32_t>(std::max(1L, std::lround(rows)));
        return true;
    }

    bool SizeFromScale() {
        double dx = 0, dy = 0;
        UnitsPerPixel(MiddleLatitude(), dx, dy);
        return SetSides((map.box.east - map.box.west) / dx, (map.box.north - map.box.south) / dy,
                        "at that scale-denominator");
    }

    // The sides given; a missing one follows the box's shape in CRS units;
    // with neither, the longer is kDefaultSide.
    bool SizeFromShape() {
        const double shape = (map.box.east - map.box.west) / (map.box.north - map.box.south);
        if (width > 0 && height > 0) return SetSides(width, height, "");
        if (width > 0) return SetSides(width, width / shape, "with that width and the area's shape");
        if (height > 0) return SetSides(height * shape, height, "with that height and the area's shape");
        return shape >= 1 ? SetSides(kDefaultSide, kDefaultSide / shape, "at the default size")
                          : SetSides(kDefaultSide * shape, kDefaultSide, "at the default size");
    }

    // A view centred on `center` (or on the extent's centre) at the scale
    // (or the scale of the whole extent at the default size), of the sides
    // given, a missing one as long as the other, or kDefaultSide square.
    bool ViewAroundCentre(const std::string* center) {
        const MapBox extent = Extent(crs);
        Point middle{(extent.west + extent.east) / 2, (extent.south + extent.north) / 2};
        if (center != nullptr) {
            OgcCrs in = OgcCrs::Crs84;
            if (!ReadCrs("center-crs", in)) return false;
            std::vector<double> v;
            if (!ReadNumbers(*center, 2, LimitOf(in), v)) return Fail("center must be two finite numbers");
            const Point read = LatitudeFirst(in) ? Point{v[1], v[0]} : Point{v[0], v[1]};
            middle = Convert(read, in, crs);
        }
        if (!(scale > 0)) scale = 2 * kMercatorHalfWorld / kDefaultSide / kPixelMetres;
        if (width == 0) width = height > 0 ? height : kDefaultSide;
        if (height == 0) height = width;
        double dx = 0, dy = 0;
        UnitsPerPixel(crs == OgcCrs::Epsg3857 ? LatitudeOfNorthing(middle.y) : middle.y, dx, dy);
        map.box = MapBox{middle.x - width * dx / 2, middle.y - height * dy / 2, middle.x + width * dx / 2,
                         middle.y + height * dy / 2};
        return SetSides(width, height, "");
    }

    bool CheckBox() {
        const MapBox& b = map.box;
        const double limit = LimitOf(crs);
        for (double v : {b.west, b.south, b.east, b.north}) {
            if (!std::isfinite(v) || std::fabs(v) > limit) return Fail("the area lies beyond any the maps can show");
        }
        if (!(b.west < b.east) || !(b.south < b.north)) return Fail("the area must have a size on each axis");
        return true;
    }

    const QueryParameters& query;
    MapRequest& map;
    OgcCrs& crs;
    MapParameterError& error;
    uint32_t width = 0, height = 0;
    double scale = 0;
};

}  // namespace

const std::string* FindExact(const QueryParameters& parameters, std::string_view name) {
    for (const auto& parameter : parameters) {
        if (parameter.first == name) return &parameter.second;
    }
    return nullptr;
}

bool ReadMapView(const QueryParameters& query, MapRequest& map, OgcCrs& crs, MapParameterError& error) {
    return ViewReader(query, map, crs, error).Read();
}

bool ReadBackground(const QueryParameters& query, MapRequest& map, MapParameterError& error) {
    const std::string* bgcolor = FindExact(query, "bgcolor");
    const std::string* voidColour = FindExact(query, "void-color");
    uint32_t colour = 0xFFFFFF;
    if ((bgcolor != nullptr && !ParseWebColour(*bgcolor, map.background)) ||
        (voidColour != nullptr && !ParseWebColour(*voidColour, colour))) {
        error.message = "bgcolor and void-color take 0xRRGGBB or a W3C web colour name, e.g. navy";
        return false;
    }
    // Clear unless a colour is asked for.
    bool transparent = bgcolor == nullptr, voidTransparent = transparent;
    if (!ReadBoolean(FindExact(query, "transparent"), transparent) ||
        !ReadBoolean(FindExact(query, "void-transparent"), voidTransparent)) {
        error.message = "transparent and void-transparent are true or false";
        return false;
    }
    if (FindExact(query, "void-transparent") == nullptr) voidTransparent = transparent;
    const bool png = map.format == ImageFormat::Png;
    map.transparent = png && transparent;
    // What equals the rest of the background is left unsaid, so that maps
    // drawn alike are named alike.
    if (voidColour != nullptr && colour != map.background) map.voidColour = colour;
    if (png && voidTransparent != transparent) map.voidTransparent = voidTransparent;
    return true;
}
