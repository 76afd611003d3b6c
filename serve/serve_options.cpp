#include "serve/serve_options.h"

#include "command_line/option_readers.h"
#include "projection/zoom.h"
#include "serve/http/query_string.h"
#include "serve/operations/public_url.h"

namespace {

const char kDescription[] =
    "Serves the Zarvo data plug-in's map, aerial and hybrid layers as a Web Map Service (WMS 1.3.0 and 1.1.1, "
    "EPSG:4326, CRS:84 and EPSG:3857) at /wms and as a Web Map Tile Service (WMTS 1.0.0, key-value at /wmts, RESTful "
    "under /wmts/1.0.0/), with a map page at /, until SIGINT or SIGTERM. GET /healthz answers while the process runs, "
    "GET /readyz once the plug-in is loaded and the tile source is reachable, GET /metrics in Prometheus' text "
    "format.";

const char kExitStatus[] =
    "Exit status: 0 stopped by a signal, 1 failed (a port in use, no plug-in, no tiles), 2 bad arguments.";

void DeclareTiles(CommandLine& line, ServeOptions& o) {
    line.Option("--tiles", "SOURCE",
                "a directory in the service's layout DIR/LAYER/Z/X/Y.EXT (the layers it holds are served); a path "
                "template DIR/.../{z}/{x}/{y}.png; an MBTiles file; http://HOST:PORT, which serves every tile address "
                "as it is; or a URL template over http or https with {z}, {x}, {y}",
                ReadText(o.tiles))
        .Required();
    line.Option("--max-zoom", "Z",
                "the highest zoom drawn, 1 to 21 (default: what a tile directory holds; 21 for a tile server)",
                ReadWholeNumber(kMinZoom, kMaxZoom, o.maxZoom));
    line.Option("--cache-mb", "N", "memory for decoded tiles, 1 to 65536 (default 256)",
                ReadWholeNumber(1, 65536, o.cacheMegabytes));
    line.Flag("--plugin-grid",
              "sample the tiles where the plug-in places their pixels' values (their north-west corners), as the map "
              "application shows them (default: at their centres, as GIS programs place them)",
              o.pluginGrid);
}

void DeclareListening(CommandLine& line, ServeOptions& o) {
    line.Option("--port", "N", "TCP port, 0 for any free one (default 8080); a port in use is an error",
                ReadWholeNumber(0, 65535, o.port));
    line.Option("--bind", "ADDRESS", "address to listen on (default 127.0.0.1)", ReadText(o.bind));
    line.Option("--threads", "N", "workers that draw maps, 1 to 256 (default: one per core)",
                ReadWholeNumber(1, 256, o.threads));
    line.Option("--max-connections", "N", "connections open at once, 1 to 100000 (default 1024); more are answered 503",
                ReadWholeNumber(1, 100000, o.connections));
}

void DeclareAnswers(CommandLine& line, ServeOptions& o) {
    line.Option("--public-url", "URL",
                "the address clients reach the service at, as http[s]://HOST[:PORT][/PREFIX]; every advertised address "
                "(the capabilities' OnlineResource) starts with it",
                [&o](const std::vector<std::string>& words) {
                    std::string error;
                    return NormalizePublicUrl(words[0], o.publicUrl, error) ? "" : "http[s]://HOST[:PORT][/PREFIX]";
                });
    line.Flag("--trust-proxy",
              "without --public-url, take the scheme, host and prefix from Forwarded or X-Forwarded-Proto, "
              "X-Forwarded-Host and X-Forwarded-Prefix (only behind a proxy that sets them)",
              o.trustProxy);
    line.Option("--max-age", "S",
                "Cache-Control max-age of maps and capabilities, 0 to 31536000 seconds (default 3600); errors are "
                "no-store",
                ReadWholeNumber(0, 31536000, o.maxAgeSeconds, "seconds"));
    line.Option("--cors", "ORIGINS|*",
                "let pages of these origins (scheme://host[:port], separated by commas; given again, more of them) or "
                "of any origin read the answers: Access-Control-Allow-Origin for a request from one of them, and "
                "answers to OPTIONS preflights (default: off)",
                [&o](const std::vector<std::string>& words) {
                    for (const std::string& origin : SplitAt(words[0], ',')) {
                        if (origin != "*" && !IsOrigin(origin)) return "* or origins scheme://host[:port] with commas";
                        o.corsOrigins.push_back(origin);
                    }
                    return "";
                });
}

void DeclareFiles(CommandLine& line, ServeOptions& o) {
    line.Option("--access-log", "FILE",
                "one line per request appended to FILE; - for standard output (the default), off for none",
                ReadText(o.accessLog));
    line.Option("--plugin", "LIBRARY",
                "the plug-in (default: libzarvo_data_plugin.so next to this program, else libzarvo_data_plugin.so.1 "
                "in ../lib)",
                ReadText(o.plugin));
    line.Option("--web", "DIR",
                "the map page's files (default: share/zarvo-data-plugin/web of the installation, else the ones built "
                "with it)",
                ReadText(o.web));
    line.Option("--service-metadata", "FILE",
                "a JSON file with the service's title, abstract, keywords, contact and each layer's credits for the "
                "capabilities (default: built-in texts, the tile set's credits)",
                ReadText(o.serviceMetadata));
}

}  // namespace

CommandLineOutcome ParseServeOptions(const std::vector<std::string>& args, const std::string& version,
                                     ServeOptions& o) {
    CommandLine line("zarvo-serve", version, kDescription, kExitStatus);
    line.Group("The tiles");
    DeclareTiles(line, o);
    line.Group("Listening");
    DeclareListening(line, o);
    line.Group("The answers");
    DeclareAnswers(line, o);
    line.Group("Files");
    DeclareFiles(line, o);
    line.Group("Information");
    return line.Parse(args);
}
