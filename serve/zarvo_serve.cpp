// zarvo-serve: the plug-in as a web map service. Loads the plug-in once,
// answers WMS 1.3.0 and 1.1.1 requests at /wms, WMTS 1.0.0 requests at
// /wmts, XYZ tiles with TileJSON at /tiles and the OGC API (Tiles and
// Maps) at /ogcapi, and serves the map page at /, until SIGINT or SIGTERM.

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

// Waits for SIGINT or SIGTERM and stops the server; SIGUSR1 only ends the
// wait, when the server stopped on its own.
void WaitForSignal(const sigset_t& signals, HttpServer& server) {
    int received = 0;
    while (sigwait(&signals, &received) == 0) {
        if (received == SIGUSR1) return;
        std::fprintf(stderr, "zarvo-serve: %s, finishing the requests in progress\n",
                     received == SIGINT ? "interrupted" : "terminated");
        server.Stop();
        return;
    }
}

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
    // only the waiting thread sees the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error on its socket, not the end

    const bool fromDirectory = options.tiles.find("://") == std::string::npos;
    if (fromDirectory && !std::filesystem::is_directory(options.tiles)) {
        return Fail("no tile directory " + options.tiles);
    }
    int32_t maxZoom = options.maxZoom;
    if (maxZoom == 0) {
        maxZoom = fromDirectory ? DeepestZoomOfEveryLayer(options.tiles) : kMaxZoom;
        if (maxZoom == 0) return Fail(options.tiles + " holds no zoom level of the map, aerial and hybrid layers");
    }
    if (options.plugin.empty()) options.plugin = DefaultPluginPath();
    if (options.web.empty()) options.web = DefaultWebDirectory();
    if (!options.web.empty() && !std::filesystem::is_directory(options.web)) options.web.clear();

    const std::unique_ptr<PluginLibrary> plugin = PluginLibrary::Open(options.plugin, error);
    if (!plugin) return Fail("cannot load the plug-in: " + error);
    ServiceDescription description = DefaultServiceDescription(maxZoom);
    if (fromDirectory) ReadTileSetCredits(options.tiles, description);
    if (!options.serviceMetadata.empty() && !ReadServiceMetadata(options.serviceMetadata, description, error)) {
        return Fail("cannot use the service metadata " + error);
    }
    TileBatchFetcher fetcher = MakeTileFetcher(options.tiles, error);
    if (!fetcher) return Fail(error);
    {
        TileCache cache(options.cacheMegabytes << 20, std::move(fetcher));
        MapRenderer renderer(plugin->Api(), cache, RenderLimits{});
        if (!renderer.BindLayers(error)) return Fail(error);
        MapMaker maps(renderer, maxZoom, options.pluginGrid);
        WmsService wms(maps, description);
        WmtsService wmts(maps, description);
        XyzService xyz(maps, description);
        OgcApiService ogcapi(maps, description);

        HttpLimits limits;
        limits.workers = options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
        limits.connections = ConnectionsAllowed(options.connections);
        const std::unique_ptr<AccessLog> accessLog = AccessLog::Open(options.accessLog, error);
        if (!accessLog && !error.empty()) return Fail(error);
        ServiceFrontSettings front;
        front.address = {options.publicUrl, options.trustProxy, options.bind + ":" + std::to_string(options.port)};
        front.cache.maxAgeSeconds = options.maxAgeSeconds;
        front.cache.corsOrigin = options.corsOrigin;
        front.stamp = StampContent(LoadedFile(*plugin, options.plugin), options.tiles);
        front.stamp.placement = options.pluginGrid ? "plugin-grid" : "centres";
        front.stamp.maxZoom = maxZoom;
        front.stamp.version = ZARVO_VERSION;
        front.stamp.description = options.serviceMetadata.empty() ? "" : FileText(options.serviceMetadata);
        front.tiles = options.tiles;
        front.webRoot = options.web;
        const HttpServer* running = nullptr;
        ServiceFront serviceFront(std::move(front), ProtocolDoors{wms, wmts, xyz, ogcapi}, accessLog.get(),
                                  [&] { return GaugesOf(cache, renderer, running); });
        HttpServer server(limits, serviceFront.Handler());
        running = &server;
        server.OnRefusal([&](const HttpRequest* request, int status) { serviceFront.Refused(request, status); });
        if (!server.Listen(options.bind, options.port, error)) return Fail(error);
        std::printf("zarvo-serve: listening on http://%s:%d/ (WMS at %s, zooms up to %d)\n", options.bind.c_str(),
                    server.Port(), std::string(PathOf(Door::Wms)).c_str(), maxZoom);
        std::fflush(stdout);

        std::thread signalWaiter(WaitForSignal, std::cref(signals), std::ref(server));
        // Returns once every request in progress has been answered: no job
        // of the plug-in is left.
        server.Run();
        pthread_kill(signalWaiter.native_handle(), SIGUSR1);
        signalWaiter.join();
    }
    std::fprintf(stderr, "zarvo-serve: stopped\n");
    return 0;
}
