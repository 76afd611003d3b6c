#include "serve/ogcapi/ogc_crs.h"

namespace {

struct CrsNames {
    OgcCrs crs;
    const char* path;   // after http://www.opengis.net/def/crs/
    const char* curie;  // between the brackets
};

constexpr CrsNames kNames[] = {
    {OgcCrs::Crs84, "OGC/1.3/CRS84", "OGC:CRS84"},
    {OgcCrs::Epsg4326, "EPSG/0/4326", "EPSG:4326"},
    {OgcCrs::Epsg3857, "EPSG/0/3857", "EPSG:3857"},
};

const std::string kHttp = "http://www.opengis.net/def/crs/";
const std::string kHttps = "https://www.opengis.net/def/crs/";

}  // namespace

const char* CrsUri(OgcCrs crs) {
    switch (crs) {
        case OgcCrs::Crs84: return "http://www.opengis.net/def/crs/OGC/1.3/CRS84";
        case OgcCrs::Epsg4326: return "http://www.opengis.net/def/crs/EPSG/0/4326";
        case OgcCrs::Epsg3857: return "http://www.opengis.net/def/crs/EPSG/0/3857";
    }
    return "";
}

bool ParseCrs(const std::string& text, OgcCrs& crs) {
    for (const CrsNames& names : kNames) {
        if (text == kHttp + names.path || text == kHttps + names.path || text == "[" + std::string(names.curie) + "]") {
            crs = names.crs;
            return true;
        }
    }
    return false;
}

MapCrs GridOf(OgcCrs crs) {
    return crs == OgcCrs::Epsg3857 ? MapCrs::WebMercator : MapCrs::LonLat;
}
