// zarvo-serve: the plug-in as a web map service. Loads the plug-in once,
// answers WMS 1.3.0 and 1.1.1 requests at /wms, WMTS 1.0.0 requests at
// /wmts, XYZ tiles with TileJSON at /tiles and the OGC API (Tiles and
// Maps) at /ogcapi, and serves the map page at /, until SIGINT or SIGTERM;
// SIGHUP and SIGUSR1 reopen its access log.

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drawing/host_adapter.h"
#include "drawing/map_maker.h"
#include "drawing/map_renderer.h"
#include "host/plugin_library.h"
#include "host/program_directory.h"
#include "host/tile_cache.h"
#include "host/tile_levels.h"
#include "projection/zoom.h"
#include "serve/description/service_metadata.h"
#include "serve/front/protocol_doors.h"
#include "serve/front/routes.h"
#include "serve/front/service_front.h"
#include "serve/http/http_server.h"
#include "serve/ogcapi/ogcapi_service.h"
#include "serve/operations/background_look.h"
#include "serve/operations/readiness.h"
#include "serve/serve_options.h"
#include "serve/wms/wms_service.h"
#include "serve/wmts/wmts_service.h"
#include "serve/xyz/xyz_service.h"

#ifndef ZARVO_WEB_DIR
#define ZARVO_WEB_DIR ""
#endif
#ifndef ZARVO_BIN_TO_WEB
#define ZARVO_BIN_TO_WEB "../share/zarvo-data-plugin/web"
#endif

#ifdef ZARVO_JEMALLOC
// jemalloc reads this at start: a background thread hands pages freed more
// than a second ago back to the system, so resident memory follows what
// the caches and the images in progress hold rather than the peak.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "background_thread:true,dirty_decay_ms:1000,muzzy_decay_ms:0";
}
#endif

namespace {

// Descriptors beyond the connections: the listening socket, tile files,
// the tile fetcher's sockets, the plug-in.
constexpr rlim_t kSpareDescriptors = 128;
// How long the end waits for what is left once every request is answered.
constexpr std::chrono::seconds kTeardownTime(2);

int Fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "zarvo-serve: %s\n", message.c_str());
    return code;
}

// The map page: where an installed prefix keeps it (share/ beside bin/),
// else where the build put it.
std::string DefaultWebDirectory() {
    const std::string installed = ProgramDirectory() + "/" + ZARVO_BIN_TO_WEB;
    std::error_code error;
    return std::filesystem::is_directory(installed, error) ? installed : ZARVO_WEB_DIR;
}

// Raises the descriptor limit as far as allowed, and takes no more
// connections than it leaves room for.
size_t ConnectionsAllowed(size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
    const rlim_t needed = static_cast<rlim_t>(wanted) + kSpareDescriptors;
    if (limit.rlim_cur < needed) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur >= needed ? wanted
                                    : static_cast<size_t>(limit.rlim_cur > 2 * kSpareDescriptors
                                                              ? limit.rlim_cur - kSpareDescriptors
                                                              : limit.rlim_cur / 2);
}

// A file's text, read once ReadServiceMetadata has checked its size; "" when
// it cannot be read.
std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

// The file the plug-in was loaded from, found through its RUNPATH or not.
std::string LoadedFile(const PluginLibrary& plugin, const std::string& fallback) {
    Dl_info info{};
    void* symbol = plugin.Symbol("KvlPluginInfo");
    return symbol != nullptr && dladdr(symbol, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : fallback;
}

MetricsGauges GaugesOf(const TileCache& cache, const MapRenderer& renderer, const HttpServer* server) {
    MetricsGauges g;
    const TileCacheStats s = cache.Stats();
    g.cacheHits = s.hits;
    g.cacheMisses = s.fetched + s.sharedWaits;
    g.cacheBytes = s.bytes;
    g.cacheTiles = s.tiles;
    g.cacheEvictions = s.evictions;
    g.cacheSharedWaits = s.sharedWaits;
    g.tileFetches = s.fetched;
    g.tileFetchFailures = s.failed;
    g.dataRequests = renderer.DataRequests();
    if (server != nullptr) {
        const HttpServer::Load load = server->CurrentLoad();
        g.inFlight = load.inFlight;
        g.queued = load.queued;
        g.shed = load.shed;
    }
    return g;
}

// HOST:PORT as an address names it: an IPv6 address in brackets.
std::string HostAndPort(const std::string& host, int port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// The newest change of the files besides the tiles that answers are made
// from: the program, the plug-in and the operator's texts.
std::time_t FilesModified(const std::string& plugin, const std::string& metadata) {
    std::time_t newest = std::max(FileModified("/proc/self/exe"), FileModified(plugin));
    return metadata.empty() ? newest : std::max(newest, FileModified(metadata));
}

// Signals, on a thread of their own: SIGINT and SIGTERM stop the server,
// which finishes the requests in progress; SIGUSR1 reopens the access log
// (after a rotation moved it); SIGHUP reopens it too and looks at the tile
// source again at once. Ends once `done` is set.
void HandleSignals(const sigset_t& signals, const std::atomic<bool>& done, HttpServer& server, AccessLog* log,
                   const std::function<void()>& lookAtTiles) {
    const timespec poll{0, 200 * 1000 * 1000};
    while (!done) {
        const int received = sigtimedwait(&signals, nullptr, &poll);
        if (received == SIGHUP || received == SIGUSR1) {
            if (log != nullptr) log->Reopen();
            if (received == SIGHUP) lookAtTiles();
        } else if (received == SIGINT || received == SIGTERM) {
            std::fprintf(stderr, "zarvo-serve: %s, finishing the requests in progress\n",
                         received == SIGINT ? "interrupted" : "terminated");
            server.Stop();
        }
    }
}

// What answering requests takes, made once the tiles and the plug-in are
// known good.
struct Service {
    Service(const PluginLibrary& plugin, const ServeOptions& options, int32_t maxZoom, TileBatchFetcher fetcher,
            const ServiceDescription& description)
        : cache(options.cacheMegabytes << 20, std::move(fetcher)),
          renderer(plugin.Api(), cache, RenderLimits{}),
          maps(renderer, maxZoom, options.pluginGrid),
          wms(maps, description),
          wmts(maps, description),
          xyz(maps, description),
          ogcapi(maps, description) {}

    TileCache cache;
    MapRenderer renderer;
    MapMaker maps;
    WmsService wms;
    WmtsService wmts;
    XyzService xyz;
    OgcApiService ogcapi;
};

}  // namespace

int main(int argc, char** argv) {
    ServeOptions options;
    const CommandLineOutcome parsed =
        ParseServeOptions(std::vector<std::string>(argv + 1, argv + argc), ZARVO_VERSION, options);
    if (parsed.next != CommandLineOutcome::Next::Run) {
        return parsed.Stop("zarvo-serve");
    }
    std::string error;
    // Before any thread starts, so that every thread inherits the mask and
    // only the thread that waits for them sees the signals.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int handled : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, handled);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error on its socket, not the end

    // One reading of --tiles for both programs: whatever zarvo-render takes.
    TileBatchFetcher fetcher = MakeTileFetcher(options.tiles, error);
    if (!fetcher) return Fail(error);
    const LayersHeld held = LayersInSource(options.tiles);
    if (held.layers.empty()) {
        return Fail(options.tiles + " holds none of the layers " + ListedNames(ServedLayers()));
    }
    const int32_t maxZoom = options.maxZoom > 0 ? options.maxZoom : held.maxZoom;
    if (options.plugin.empty()) options.plugin = DefaultPluginPath();
    if (options.web.empty()) options.web = DefaultWebDirectory();
    if (!options.web.empty() && !std::filesystem::is_directory(options.web)) options.web.clear();

    const std::unique_ptr<PluginLibrary> plugin = PluginLibrary::Open(options.plugin, error);
    if (!plugin) return Fail("cannot load the plug-in: " + error);
    ServiceDescription description = DefaultServiceDescription(maxZoom);
    // Only the layers the tiles hold are advertised.
    auto& layers = description.layers;
    layers.erase(std::remove_if(layers.begin(), layers.end(),
                                [&](const LayerDescription& layer) {
                                    return std::find(held.layers.begin(), held.layers.end(), layer.name) ==
                                           held.layers.end();
                                }),
                 layers.end());
    std::error_code notFolder;
    if (std::filesystem::is_directory(options.tiles, notFolder)) ReadTileSetCredits(options.tiles, description);
    if (!options.serviceMetadata.empty() && !ReadServiceMetadata(options.serviceMetadata, description, error)) {
        return Fail("cannot use the service metadata " + error);
    }
    const std::unique_ptr<AccessLog> accessLog = AccessLog::Open(options.accessLog, error);
    if (!accessLog && !error.empty()) return Fail(error);

    auto service = std::make_unique<Service>(*plugin, options, maxZoom, std::move(fetcher), description);
    if (!service->renderer.BindLayers(error)) return Fail(error);
    const std::string pluginFile = LoadedFile(*plugin, options.plugin);
    ContentStamp stamp = StampContent(pluginFile, options.tiles);
    stamp.placement = options.pluginGrid ? "plugin-grid" : "centres";
    stamp.maxZoom = maxZoom;
    stamp.version = ZARVO_VERSION;
    stamp.description = options.serviceMetadata.empty() ? "" : FileText(options.serviceMetadata);
    stamp.filesModified = FilesModified(pluginFile, options.serviceMetadata);

    // The tile source is looked at again every second, off the event loop:
    // replaced tiles (their folders touched) give new entity tags, and the
    // decoded tiles of the old ones are dropped before any answer is tagged
    // anew.
    std::string tilesSeen = stamp.tiles.tiles;
    TileCache& cache = service->cache;
    auto tileSet = std::make_unique<BackgroundLook<TileSetStamp>>(
        [&options, &tilesSeen, &cache] {
            TileSetStamp now = StampTileSet(options.tiles);
            if (now.tiles != tilesSeen) cache.Forget();
            tilesSeen = now.tiles;
            return now;
        },
        BackgroundLook<TileSetStamp>::Mode::KeptCurrent, std::chrono::seconds(1), stamp.tiles);
    // The readiness probe's look: when a probe finds the last one over a
    // second old. A directory or a file is looked at at the start; a
    // server, which may take a while to answer, on the look's own thread.
    const bool remote = TileSourceIsRemote(options.tiles);
    Readiness first = remote ? Readiness{false, "the tile source " + options.tiles + " is being looked at"}
                             : CheckTileSource(options.tiles);
    auto readiness = std::make_unique<BackgroundLook<Readiness>>(
        [&options] { return CheckTileSource(options.tiles); }, BackgroundLook<Readiness>::Mode::OnDemand,
        std::chrono::seconds(1), std::move(first));
    if (remote) readiness->LookNow();

    HttpLimits limits;
    limits.workers = options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    limits.connections = ConnectionsAllowed(options.connections);
    ServiceFront* front = nullptr;
    auto server = std::make_unique<HttpServer>(limits, [&front](const HttpRequest& request) {
        return front->Route(request);
    });
    if (!server->Listen(options.bind, options.port, error)) return Fail(error);
    const std::string listening = HostAndPort(options.bind, server->Port());

    ServiceFrontSettings settings;
    settings.address = {options.publicUrl, options.trustProxy, listening};
    settings.cache.maxAgeSeconds = options.maxAgeSeconds;
    settings.cache.corsOrigins = options.corsOrigins;
    settings.stamp = std::move(stamp);
    settings.tilesNow = [&tileSet] { return tileSet->Current(); };
    settings.mapCost = [&service](const MapRequest& map) { return service->maps.Cost(map); };
    settings.readiness = [&readiness] { return readiness->Current(); };
    settings.webRoot = options.web;
    settings.layers = held.layers;
    const HttpServer* running = server.get();
    ServiceFront serviceFront(std::move(settings), ProtocolDoors{service->wms, service->wmts, service->xyz, service->ogcapi}, accessLog.get(),
                              [&] { return GaugesOf(service->cache, service->renderer, running); });
    front = &serviceFront;
    server->OnRefusal([&](const HttpRequest* request, int status) { serviceFront.Refused(request, status); });
    std::printf("zarvo-serve: listening on http://%s/ (WMS at %s, zooms up to %d)\n", listening.c_str(),
                std::string(PathOf(Door::Wms)).c_str(), maxZoom);
    std::fflush(stdout);

    std::atomic<bool> done{false};
    std::thread signalHandler(HandleSignals, std::cref(signals), std::cref(done), std::ref(*server), accessLog.get(),
                              [&tileSet] { tileSet->LookNow(); });
    // Returns once every request in progress has been answered: no job of
    // the plug-in is left.
    server->Run();
    done = true;
    signalHandler.join();
    std::fprintf(stderr, "zarvo-serve: stopped\n");
    // What is left runs no request: tile fetches that would only fill the
    // cache (a stalled source holds them for seconds) and a last look at the
    // tile source. They get a moment, not a wait.
    std::promise<void> ended;
    std::future<void> teardown = ended.get_future();
    std::thread([&, ended = std::move(ended)]() mutable {
        server.reset();
        readiness.reset();
        tileSet.reset();
        service.reset();
        ended.set_value();
    }).detach();
    if (teardown.wait_for(kTeardownTime) != std::future_status::ready) {
        std::fprintf(stderr, "zarvo-serve: not waiting for the tile fetches still in progress\n");
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
