#include "serve/ogcapi/ogcapi_service.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "serve/answers/map_answer.h"
#include "serve/description/xml_text.h"
#include "serve/ogcapi/html_page.h"
#include "serve/ogcapi/ogcapi_documents.h"

namespace {

using Json = nlohmann::ordered_json;

// A problem's detail quotes at most this much of the request.
constexpr size_t kMaxDetailBytes = 1024;

const char* ReasonPhrase(int status) {
    switch (status) {
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 406: return "Not Acceptable";
        case 413: return "Content Too Large";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return status >= 500 ? "Internal Server Error" : "Bad Request";
    }
}

// JSON text in which a byte of a string that is not UTF-8 (a request's
// own, quoted) is replaced rather than refused.
std::string Text(const Json& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

DoorAnswer Problem(int status, const char* code, const std::string& detail) {
    DoorAnswer answer;
    answer.status = status;
    answer.contentType = "application/problem+json";
    answer.body = Text(Json{{"type", "about:blank"},
                            {"title", ReasonPhrase(status)},
                            {"status", status},
                            {"detail", detail.substr(0, kMaxDetailBytes)},
                            {"code", code != nullptr ? code : "NoApplicableCode"}});
    return answer;
}

// Where a map lies, as its answer's headers say: the CRS, and the box in
// that CRS's axis order, its longitudes within -180 to 180 as the request
// may give them (a box across longitude 180 has its west edge east of its
// east edge).
void AddMapHeaders(const OgcApiRequest& request, DoorAnswer& answer) {
    MapBox b = request.map.box;
    if (request.map.crs == MapCrs::LonLat && b.east - b.west < 360.0) {
        const double span = b.east - b.west;
        b.west = std::remainder(b.west, 360.0);
        if (b.west == 180.0) b.west = -180.0;
        b.east = b.west + span > 180.0 ? b.west + span - 360.0 : b.west + span;
    }
    const bool swap = LatitudeFirst(request.crs);
    const double corners[4] = {swap ? b.south : b.west, swap ? b.west : b.south, swap ? b.north : b.east,
                               swap ? b.east : b.north};
    std::string box;
    for (double v : corners) box += (box.empty() ? "" : ",") + ShortestNumber(v);
    answer.headers.emplace_back("Content-Crs", "<" + std::string(CrsUri(request.crs)) + ">");
    answer.headers.emplace_back("Content-Bbox", box);
}

}  // namespace

DoorAnswer OgcApiService::Answer(const ParsedOgcApi& parsed, const std::string& root, Clock::time_point deadline) {
    if (!parsed.valid) return Problem(parsed.error.status, parsed.error.code, parsed.error.message);
    const OgcApiRequest& request = parsed.request;
    if (request.Image()) {
        DoorAnswer answer =
            MapAnswer(maps.Make(request.map, deadline), [](const FailureReport& report, const std::string& message) {
                return Problem(report.status, report.code, message);
            });
        if (answer.status == 200 && request.resource == OgcResource::Map) AddMapHeaders(request, answer);
        return answer;
    }
    const OgcDocument document = DocumentFor(request, description, root);
    DoorAnswer answer;
    answer.contentType = ContentTypeOf(request.format);
    answer.body = request.format == OgcFormat::Html ? HtmlPage(document.title, document.body) : Text(document.body);
    return answer;
}
