#include "serve/front/service_front.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "serve/front/entity_tag.h"
#include "serve/operations/readiness.h"
#include "serve/page/web_files.h"

namespace {

// A GetMap or a WMTS tile is answered within this of its arrival, 504
// when its tiles are not there by then; longer than a batch of tile
// fetches may take.
constexpr std::chrono::seconds kMapDeadline(15);
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
    std::string tag;               // "" when the answer gets none
    bool notModified = false;      // If-None-Match names the tag: 304 without drawing
    std::string requestedHeaders;  // a preflight's Access-Control-Request-Headers
    AccessRecord record;           // who asked for what
    Clock::time_point arrived;
};

ServiceFront::ServiceFront(ServiceFrontSettings settings, ProtocolHandler doors, AccessLog* log,
                           std::function<MetricsGauges()> gauges)
    : settings(std::move(settings)), doors(std::move(doors)), log(log), gauges(std::move(gauges)) {}

HttpHandler ServiceFront::Handler() {
    return [this](const HttpRequest& request) { return Route(request); };
}

HttpWork ServiceFront::Route(const HttpRequest& request) {
    auto work = std::make_shared<Work>();
    work->request = ReadRequest(request, settings.address, settings.stamp.maxZoom);
    work->record.client = request.peer;
    work->record.method = request.method;
    work->record.target = request.target;
    work->arrived = request.arrived;
    const ServiceRequest& read = work->request;
    if (read.preflight) {
        const std::string* asked = request.Header("Access-Control-Request-Headers");
        if (asked != nullptr) work->requestedHeaders = *asked;
    } else {
        work->tag = EntityTag(read, settings.stamp);
        const std::string* match = request.Header("If-None-Match");
        work->notModified = !work->tag.empty() && match != nullptr && IfNoneMatchHits(*match, work->tag);
    }
    HttpWork http;
    // Drawing a map takes a worker, and so does the readiness probe, which
    // may wait for the tile server; everything else is answered at once.
    http.heavy = !read.preflight && (read.door == Door::Readiness || (!work->notModified && read.Map() != nullptr));
    http.answer = [this, work] { return Answer(*work); };
    http.refused = [this, work](int status) { CountRefusal(work->request.operation, work->record, status); };
    return http;
}

HttpAnswer ServiceFront::Probe(Door door) const {
    HttpAnswer answer;
    if (door == Door::Health) {
        answer = HttpAnswer::Text(200, "alive\n");
    } else if (door == Door::Readiness) {
        // The plug-in is loaded before the server listens; the tiles may come and go.
        std::string why;
        answer = TileSourceReachable(settings.tiles, why) ? HttpAnswer::Text(200, "ready\n")
                                                          : HttpAnswer::Text(503, "not ready: " + why + "\n");
    } else {
        answer.headers.emplace_back("Content-Type", "text/plain; version=0.0.4; charset=utf-8");
        answer.body = metrics.Render(gauges());
    }
    Add(answer, UncacheableHeaders());
    return answer;
}

void ServiceFront::Refused(const HttpRequest* request, int status) {
    AccessRecord record;
    Operation operation = Operation::Other;
    if (request != nullptr) {
        // Read here, as the handler never saw it.
        operation = ReadRequest(*request, settings.address, settings.stamp.maxZoom).operation;
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

HttpAnswer ServiceFront::Dispatch(const Work& work, Clock::time_point deadline, std::optional<MapStatistics>& drawn) {
    const ServiceRequest& request = work.request;
    if (request.door == Door::Counters) {
        HttpAnswer answer;
        answer.headers.emplace_back("Content-Type", "application/json");
        answer.body = CountersJson(gauges());
        return answer;
    }
    if (request.door == Door::Page) {
        if (settings.webRoot.empty()) {
            return HttpAnswer::Text(404, "The map page was not built with this server (see --web).\n");
        }
        return WebFileAnswer(settings.webRoot, request.path);
    }
    DoorAnswer door = doors(request, deadline);
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
    const auto started = work.arrived.time_since_epoch().count() != 0 ? std::min(work.arrived, now) : now;
    const auto arrived = std::chrono::system_clock::now() -
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(now - started);
    const ServiceRequest& request = work.request;

    HttpAnswer answer;
    std::optional<MapStatistics> drawn;
    if (request.preflight) {
        answer.status = 204;
        answer.headers.emplace_back("Allow", "GET, HEAD, OPTIONS");
        Add(answer, PreflightHeaders(settings.cache, work.requestedHeaders));
    } else if (request.operation == Operation::Probe) {
        answer = Probe(request.door);
    } else {
        if (work.notModified) {
            answer.status = 304;
        } else {
            answer = Dispatch(work, started + kMapDeadline, drawn);
        }
        if (!work.tag.empty() && (answer.status == 200 || answer.status == 304)) {
            Add(answer, CacheableHeaders(settings.cache, work.tag, settings.stamp.lastModified));
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
        Add(answer, CorsHeaders(settings.cache));
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
