// zarvo-serve: the plug-in as a web map service. Loads the plug-in once,
// answers WMS 1.3.0 and 1.1.1 requests at /wms and serves the map page at
// /, until SIGINT or SIGTERM.

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/plugin_library.h"
#include "host/program_directory.h"
#include "host/tile_cache.h"
#include "projection/zoom.h"
#include "serve/host_adapter.h"
#include "serve/map_renderer.h"
#include "serve/serve_options.h"
#include "serve/service_metadata.h"
#include "serve/tile_set_probe.h"
#include "serve/wms_service.h"
#include "serve/wmts_service.h"

#ifndef ZARVO_WEB_DIR
#define ZARVO_WEB_DIR ""
#endif

namespace {

constexpr time_t kReadTimeoutSeconds = 10;
constexpr time_t kWriteTimeoutSeconds = 30;
constexpr size_t kMaxRequestBody = 64 * 1024;
// An idle keep-alive connection holds a worker: short, so that stopping is quick.
constexpr time_t kKeepAliveSeconds = 2;

int Fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "zarvo-serve: %s\n", message.c_str());
    return code;
}

// The Host header names the address the client used; it goes into the
// capabilities only when it looks like one.
std::string ServiceBase(const httplib::Request& request, const std::string& fallback) {
    std::string host = request.get_header_value("Host");
    bool plausible = !host.empty() && host.size() <= 255;
    for (char c : host) {
        plausible = plausible && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '.' || c == '-' || c == ':' || c == '[' || c == ']');
    }
    return "http://" + (plausible ? host : fallback);
}

QueryParameters ParametersOf(const httplib::Request& request) {
    return QueryParameters(request.params.begin(), request.params.end());
}

void Send(httplib::Response& response, const WmsAnswer& answer) {
    response.status = answer.status;
    if (answer.zoom > 0) response.set_header("X-Zarvo-Zoom", std::to_string(answer.zoom));
    if (!answer.serverTiming.empty()) response.set_header("Server-Timing", answer.serverTiming);
    response.set_content(answer.body, answer.contentType.c_str());
}

std::string StatsJson(const TileCache& cache, const MapRenderer& renderer) {
    const TileCacheStats s = cache.Stats();
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"dataRequests\":%llu,\"tileHits\":%llu,\"tilesFetched\":%llu,\"tilesFailed\":%llu,"
                  "\"sharedWaits\":%llu,\"cachedTiles\":%zu,\"cachedBytes\":%zu}\n",
                  static_cast<unsigned long long>(renderer.DataRequests()), static_cast<unsigned long long>(s.hits),
                  static_cast<unsigned long long>(s.fetched), static_cast<unsigned long long>(s.failed),
                  static_cast<unsigned long long>(s.sharedWaits), s.tiles, s.bytes);
    return text;
}

// Waits for SIGINT or SIGTERM and stops the server; SIGUSR1 only ends the
// wait, when the server stopped on its own.
void WaitForSignal(const sigset_t& signals, httplib::Server& server) {
    int received = 0;
    while (sigwait(&signals, &received) == 0) {
        if (received == SIGUSR1) return;
        std::fprintf(stderr, "zarvo-serve: %s, finishing the requests in progress\n",
                     received == SIGINT ? "interrupted" : "terminated");
        server.stop();
        return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    ServeOptions options;
    std::string error;
    if (!ParseServeOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "%s", kServeUsage);
        return Fail(error, 2);
    }
    // Before any thread starts, so that every thread inherits the mask and
    // only the waiting thread sees the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error on its socket, not the end

    const bool fromDirectory = options.tiles.rfind("http://", 0) != 0;
    if (fromDirectory && !std::filesystem::is_directory(options.tiles)) {
        return Fail("no tile directory " + options.tiles);
    }
    int32_t maxZoom = options.maxZoom;
    if (maxZoom == 0) {
        maxZoom = fromDirectory ? HighestZoomInDirectory(options.tiles) : kMaxZoom;
        if (maxZoom == 0) return Fail(options.tiles + " holds no zoom level of the map, aerial and hybrid layers");
    }
    if (options.plugin.empty()) options.plugin = PluginBesideProgram();
    if (options.web.empty()) options.web = ZARVO_WEB_DIR;

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
        WmsService service(renderer, description);
        WmtsService tiles(service, description);

        httplib::Server server;
        const size_t threads = options.threads;
        server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        server.set_read_timeout(kReadTimeoutSeconds, 0);
        server.set_write_timeout(kWriteTimeoutSeconds, 0);
        server.set_payload_max_length(kMaxRequestBody);
        server.set_keep_alive_timeout(kKeepAliveSeconds);
        server.set_keep_alive_max_count(1000);
        const std::string fallbackHost = options.bind + ":" + std::to_string(options.port);
        server.Get("/wms", [&](const httplib::Request& request, httplib::Response& response) {
            Send(response, service.Answer(ParametersOf(request), ServiceBase(request, fallbackHost) + "/wms?"));
        });
        server.Get("/wmts", [&](const httplib::Request& request, httplib::Response& response) {
            Send(response, tiles.AnswerQuery(ParametersOf(request), ServiceBase(request, fallbackHost)));
        });
        server.Get(R"(/wmts/1\.0\.0/(.+))", [&](const httplib::Request& request, httplib::Response& response) {
            Send(response, tiles.AnswerPath(request.matches[1].str(), ServiceBase(request, fallbackHost)));
        });
        server.Get("/stats", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(StatsJson(cache, renderer), "application/json");
        });
        if (options.web.empty() || !server.set_mount_point("/", options.web)) {
            server.Get("/", [](const httplib::Request&, httplib::Response& response) {
                response.status = 404;
                response.set_content("The map page was not built with this server (see --web).\n", "text/plain");
            });
        }
        server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            Send(response, ExceptionAnswer(500, WmsVersion::V130, nullptr, "the server failed to answer"));
        });

        int port = options.port;
        if (port == 0) {
            port = server.bind_to_any_port(options.bind);
            if (port < 0) return Fail("cannot listen on " + options.bind);
        } else if (!server.bind_to_port(options.bind, port)) {
            return Fail("cannot listen on " + options.bind + ":" + std::to_string(port));
        }
        std::printf("zarvo-serve: listening on http://%s:%d/ (WMS at /wms, zooms up to %d)\n", options.bind.c_str(),
                    port, maxZoom);
        std::fflush(stdout);

        std::thread signalWaiter(WaitForSignal, std::cref(signals), std::ref(server));
        const bool listened = server.listen_after_bind();
        // listen_after_bind returns once every worker has finished the
        // request it was answering: no job of the plug-in is left.
        pthread_kill(signalWaiter.native_handle(), SIGUSR1);
        signalWaiter.join();
        if (!listened) return Fail("the server stopped on an error");
    }
    std::fprintf(stderr, "zarvo-serve: stopped\n");
    return 0;
}
