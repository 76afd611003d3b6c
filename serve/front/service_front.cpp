#include "serve/front/service_front.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "serve/front/entity_tag.h"
#include "serve/operations/process_metrics.h"
#include "serve/page/web_files.h"

namespace {

// A GetMap or a WMTS tile is answered within this of its arrival, 504
// when its tiles are not there by then; longer than a batch of tile
// fetches may take.
constexpr std::chrono::seconds kMapDeadline(15);
// What a map is guessed to take on an idle worker, before the workers
// correct the guess by what maps took: a little for any map, more for each
// pixel drawn and encoded and for each tile used, and a wait for each tile
// not yet decoded in the cache.
constexpr double kSecondsPerMap = 0.0003;
constexpr double kSecondsPerPixel = 20e-9;
constexpr double kSecondsPerTileUsed = 20e-6;
constexpr double kSecondsPerTileFetched = 0.002;
// The map page's files change only with the program: caches keep them for
// a while and then ask again with their validators.
constexpr const char* kPageCacheControl = "public, max-age=300";
// What a line on standard error quotes of a target and of a failure.
constexpr size_t kQuotedTarget = 512;
constexpr size_t kQuotedFailure = 1024;

void Add(HttpAnswer& answer, const HeaderList& headers) {
    answer.headers.insert(answer.headers.end(), headers.begin(), headers.end());
}

// Text from outside fit for one line of standard error.
std::string OneLine(const std::string& text, size_t maxBytes) {
    std::string line = text.substr(0, maxBytes);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return line;
}

double Milliseconds(std::chrono::steady_clock::duration time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

// Where a drawn map's time went, as a Server-Timing header's value
// (milliseconds): the tiles taken from the cache, the plug-in's raster
// besides them, the encoding, and the whole drawing.
std::string ServerTiming(const MapStatistics& drawn) {
    char text[160];
    std::snprintf(text, sizeof text, "tiles;dur=%.3f, raster;dur=%.3f, encode;dur=%.3f, wms;dur=%.3f",
                  Milliseconds(drawn.tileTime), Milliseconds(drawn.rasterTime), Milliseconds(drawn.encodeTime),
                  Milliseconds(drawn.wholeTime));
    return text;
}

// A door's answer in HTTP terms; a drawn map tells its zoom (when it lay on
// the tiles) and its times.
HttpAnswer HttpAnswerOf(DoorAnswer door) {
    HttpAnswer answer;
    answer.status = door.status;
    answer.headers.emplace_back("Content-Type", std::move(door.contentType));
    for (auto& header : door.headers) answer.headers.push_back(std::move(header));
    if (door.drawn) {
        if (door.drawn->zoom > 0) answer.headers.emplace_back("X-Zarvo-Zoom", std::to_string(door.drawn->zoom));
        answer.headers.emplace_back("Server-Timing", ServerTiming(*door.drawn));
    }
    answer.body = std::move(door.body);
    return answer;
}

}  // namespace

// One request's work, shared by its answer and its refusal.
struct ServiceFront::Work {
    ServiceRequest request;
    std::shared_ptr<const TileSetStamp> tiles;  // the tile source as the request found it
    std::string tag;               // "" when the answer gets none
    bool notModified = false;      // the client's copy is current: 304 without drawing
    std::string requestedHeaders;  // a preflight's Access-Control-Request-Headers
    bool serverWide = false;       // OPTIONS *: about the server, no resource
    std::optional<std::string> origin, ifNoneMatch, ifModifiedSince;
    AccessRecord record;           // who asked for what
    Clock::time_point arrived;
    Clock::time_point deadline;    // of a map
};

namespace {

std::optional<std::string> HeaderOf(const HttpRequest& request, const char* name) {
    const std::string* value = request.Header(name);
    return value != nullptr ? std::optional<std::string>(*value) : std::nullopt;
}

// Whether a client's copy, with the tag and the time given, is current.
// If-None-Match, when sent, decides alone.
bool ClientHasIt(const std::optional<std::string>& ifNoneMatch, const std::optional<std::string>& ifModifiedSince,
                 const std::string& tag, std::time_t lastModified) {
    if (ifNoneMatch) return IfNoneMatchHits(*ifNoneMatch, tag);
    return ifModifiedSince && NotModifiedSince(*ifModifiedSince, lastModified);
}

}  // namespace

ServiceFront::ServiceFront(ServiceFrontSettings settings, ProtocolHandler doors, AccessLog* log,
                           std::function<MetricsGauges()> gauges)
    : settings(std::move(settings)),
      doors(std::move(doors)),
      log(log),
      gauges(std::move(gauges)),
      offer{this->settings.layers, this->settings.stamp.maxZoom},
      startTiles(std::make_shared<const TileSetStamp>(this->settings.stamp.tiles)) {}

std::time_t ServiceFront::LastModified(const TileSetStamp& tiles) const {
    return tiles.lastModified > 0 ? std::max(tiles.lastModified, settings.stamp.filesModified) : 0;
}

WorkCost ServiceFront::CostOf(const MapRequest& map) const {
    MapCost cost;
    cost.pixels = uint64_t{map.width} * map.height;
    if (settings.mapCost) cost = settings.mapCost(map);
    WorkCost work;
    work.computeSeconds = kSecondsPerMap + static_cast<double>(cost.pixels) * kSecondsPerPixel +
                          static_cast<double>(cost.tiles) * kSecondsPerTileUsed;
    work.waitSeconds = static_cast<double>(cost.tilesToFetch) * kSecondsPerTileFetched;
    return work;
}

HttpHandler ServiceFront::Handler() {
    return [this](const HttpRequest& request) { return Route(request); };
}

HttpWork ServiceFront::Route(const HttpRequest& request) {
    auto work = std::make_shared<Work>();
    work->request = ReadRequest(request, settings.address, offer);
    work->tiles = settings.tilesNow ? settings.tilesNow() : startTiles;
    work->record.client = request.peer;
    work->record.method = request.method;
    work->record.target = request.target;
    work->arrived = request.arrived.time_since_epoch().count() != 0 ? request.arrived : Clock::now();
    work->deadline = work->arrived + kMapDeadline;
    work->origin = HeaderOf(request, "Origin");
    const ServiceRequest& read = work->request;
    if (read.preflight) {
        const std::string* asked = request.Header("Access-Control-Request-Headers");
        if (asked != nullptr) work->requestedHeaders = *asked;
        work->serverWide = request.target == "*";
    } else {
        work->tag = EntityTag(read, settings.stamp, *work->tiles);
        work->ifNoneMatch = HeaderOf(request, "If-None-Match");
        work->ifModifiedSince = HeaderOf(request, "If-Modified-Since");
        work->notModified = !work->tag.empty() && ClientHasIt(work->ifNoneMatch, work->ifModifiedSince, work->tag,
                                                              LastModified(*work->tiles));
    }
    HttpWork http;
    // Drawing a map takes a worker; everything else is answered at once.
    const MapRequest* map = read.preflight || work->notModified ? nullptr : read.Map();
    http.heavy = map != nullptr;
    if (map != nullptr) {
        http.cost = CostOf(*map);
        http.deadline = work->deadline;
    }
    http.answer = [this, work] { return Answer(*work); };
    http.refused = [this, work](int status) { CountRefusal(work->request.operation, work->record, status); };
    return http;
}

HttpAnswer ServiceFront::Probe(Door door) const {
    HttpAnswer answer;
    if (door == Door::Health) {
        answer = HttpAnswer::Text(200, "alive\n");
    } else if (door == Door::Readiness) {
        // The plug-in is loaded before the server listens; the tiles may
        // come and go, and are looked at on a thread of their own.
        const std::shared_ptr<const Readiness> tiles = settings.readiness ? settings.readiness() : nullptr;
        answer = !tiles || tiles->ready ? HttpAnswer::Text(200, "ready\n")
                                        : HttpAnswer::Text(503, "not ready: " + tiles->why + "\n");
    } else {
        answer.headers.emplace_back("Content-Type", "text/plain; version=0.0.4; charset=utf-8");
        answer.body = metrics.Render(gauges()) + ProcessMetrics(settings.stamp.version);
    }
    Add(answer, UncacheableHeaders());
    return answer;
}

void ServiceFront::Refused(const HttpRequest* request, int status) {
    AccessRecord record;
    Operation operation = Operation::Other;
    if (request != nullptr) {
        // Read here, as the handler never saw it.
        operation = ReadRequest(*request, settings.address, offer).operation;
        record.client = request->peer;
        record.method = request->method;
        record.target = request->target;
    }
    CountRefusal(operation, std::move(record), status);
}

void ServiceFront::CountRefusal(Operation operation, AccessRecord record, int status) {
    record.time = std::chrono::system_clock::now();
    record.status = status;
    Count(operation, record, 0.0);
    if (status != 503) return;
    ++unreportedShed;
    const auto now = Clock::now();
    if (now - lastShedReport < std::chrono::seconds(1)) return;
    std::fprintf(stderr, "zarvo-serve: overloaded: %llu requests refused with 503 since the last report\n",
                 static_cast<unsigned long long>(unreportedShed));
    unreportedShed = 0;
    lastShedReport = now;
}

void ServiceFront::Count(Operation operation, const AccessRecord& record, double seconds) {
    metrics.Count(operation, record.status, seconds);
    if (log != nullptr) log->Write(record);
}

HttpAnswer ServiceFront::Page(const Work& work) const {
    if (settings.webRoot.empty()) {
        return HttpAnswer::Text(404, "The map page was not built with this server (see --web).\n");
    }
    HttpAnswer answer = WebFileAnswer(settings.webRoot, work.request.path);
    struct stat file {};
    if (answer.file.empty() || stat(answer.file.c_str(), &file) != 0) return answer;
    const std::string tag = StrongEtag({"page", answer.file, std::to_string(file.st_size),
                                        std::to_string(file.st_mtim.tv_sec), std::to_string(file.st_mtim.tv_nsec)});
    answer.headers.emplace_back("Cache-Control", kPageCacheControl);
    answer.headers.emplace_back("ETag", tag);
    answer.headers.emplace_back("Last-Modified", HttpDate(file.st_mtime));
    if (ClientHasIt(work.ifNoneMatch, work.ifModifiedSince, tag, file.st_mtime)) {
        answer.status = 304;
        answer.file.clear();
    }
    return answer;
}

HttpAnswer ServiceFront::Dispatch(const Work& work, std::optional<MapStatistics>& drawn) {
    const ServiceRequest& request = work.request;
    if (request.door == Door::Counters) {
        HttpAnswer answer;
        answer.headers.emplace_back("Content-Type", "application/json");
        answer.body = CountersJson(gauges());
        return answer;
    }
    if (request.door == Door::Page) return Page(work);
    DoorAnswer door = doors(request, work.deadline);
    // The service's own failures (tiles, memory, the plug-in), for the
    // operator: the request and what failed, which names the tile or the
    // reason.
    if (door.failure && door.status >= 500) {
        std::fprintf(stderr, "zarvo-serve: %d for %s %s: %s\n", door.status, work.record.client.c_str(),
                     OneLine(work.record.target, kQuotedTarget).c_str(),
                     OneLine(door.failure->message, kQuotedFailure).c_str());
    }
    drawn = door.drawn;
    return HttpAnswerOf(std::move(door));
}

HttpAnswer ServiceFront::Answer(const Work& work) {
    // Counted from the request's arrival: the time it waited for a worker
    // is part of what its client waits.
    const auto now = Clock::now();
    const auto started = std::min(work.arrived, now);
    const auto arrived = std::chrono::system_clock::now() -
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(now - started);
    const ServiceRequest& request = work.request;

    HttpAnswer answer;
    std::optional<MapStatistics> drawn;
    const std::string* origin = work.origin ? &*work.origin : nullptr;
    if (request.preflight && settings.cache.corsOrigins.empty()) {
        // Without CORS the service offers no OPTIONS.
        answer = HttpAnswer::Text(405, "Only GET and HEAD are served.\n");
        answer.headers.emplace_back("Allow", "GET, HEAD");
    } else if (request.preflight) {
        answer.status = 204;
        answer.headers.emplace_back("Allow", "GET, HEAD, OPTIONS");
        if (!work.serverWide) Add(answer, PreflightHeaders(settings.cache, origin, work.requestedHeaders));
    } else if (request.operation == Operation::Probe) {
        answer = Probe(request.door);
    } else {
        if (work.notModified) {
            answer.status = 304;
        } else {
            answer = Dispatch(work, drawn);
        }
        if (!work.tag.empty() && (answer.status == 200 || answer.status == 304)) {
            Add(answer, CacheableHeaders(settings.cache, work.tag, LastModified(*work.tiles)));
            if (request.Capabilities() && settings.address.publicUrl.empty()) {
                answer.headers.emplace_back("Vary", settings.address.trustProxy
                                                        ? "Host, Forwarded, X-Forwarded-Proto, X-Forwarded-Host, "
                                                          "X-Forwarded-Prefix"
                                                        : "Host");
            }
            if (request.VariesByAccept()) answer.headers.emplace_back("Vary", "Accept");
        } else if (answer.status >= 400) {
            Add(answer, UncacheableHeaders());
        }
        Add(answer, CorsHeaders(settings.cache, origin));
    }

    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    AccessRecord record = work.record;
    record.time = arrived;
    record.status = answer.status;
    std::error_code error;
    record.bytes = answer.file.empty() ? answer.body.size() : std::filesystem::file_size(answer.file, error);
    if (error) record.bytes = 0;
    record.milliseconds = seconds * 1000.0;
    if (drawn && drawn->zoom > 0) {
        record.zoom = drawn->zoom;
        record.tiles = drawn->tiles;
    }
    Count(request.operation, record, seconds);
    return answer;
}
