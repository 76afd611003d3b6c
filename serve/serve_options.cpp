#include "serve/serve_options.h"

#include "host/number_parsing.h"
#include "projection/zoom.h"
#include "serve/operations/public_url.h"

const char kServeUsage[] =
    "usage: zarvo-serve --tiles SOURCE [options]\n"
    "       zarvo-serve --help | --version\n"
    "\n"
    "Serves the Zarvo data plug-in's map, aerial and hybrid layers as a Web Map\n"
    "Service (WMS 1.3.0 and 1.1.1, EPSG:4326, CRS:84 and EPSG:3857) at /wms and as\n"
    "a Web Map Tile Service (WMTS 1.0.0, key-value at /wmts, RESTful under\n"
    "/wmts/1.0.0/), with a map page at /, until SIGINT or SIGTERM. GET /healthz\n"
    "answers while the process runs, GET /readyz once the plug-in is loaded and\n"
    "the tile source is reachable, GET /metrics in Prometheus' text format.\n"
    "\n"
    "  --tiles SOURCE      a directory in the service's layout DIR/LAYER/Z/X/Y.EXT;\n"
    "                      http://HOST:PORT, which serves every tile address as it is;\n"
    "                      or a URL template over http or https with {z}, {x}, {y}\n"
    "  --port N            TCP port, 0 for any free one (default 8080); a port in use\n"
    "                      is an error\n"
    "  --bind ADDRESS      address to listen on (default 127.0.0.1)\n"
    "  --cache-mb N        memory for decoded tiles, 1 to 65536 (default 256)\n"
    "  --max-zoom Z        the highest zoom drawn, 1 to 21 (default: what a tile\n"
    "                      directory holds; 21 for a tile server)\n"
    "  --plugin-grid       sample the tiles where the plug-in places their pixels'\n"
    "                      values (their north-west corners), as the map\n"
    "                      application shows them (default: at their centres, as\n"
    "                      GIS programs place them)\n"
    "  --threads N         workers that draw maps, 1 to 256 (default: one per core)\n"
    "  --max-connections N  connections open at once, 1 to 100000 (default 1024);\n"
    "                      more are answered 503\n"
    "  --public-url URL    the address clients reach the service at, as\n"
    "                      http[s]://HOST[:PORT][/PREFIX]; every advertised address\n"
    "                      (the capabilities' OnlineResource) starts with it\n"
    "  --trust-proxy       without --public-url, take the scheme, host and prefix\n"
    "                      from Forwarded or X-Forwarded-Proto, X-Forwarded-Host and\n"
    "                      X-Forwarded-Prefix (only behind a proxy that sets them)\n"
    "  --max-age S         Cache-Control max-age of maps and capabilities, 0 to\n"
    "                      31536000 seconds (default 3600); errors are no-store\n"
    "  --cors ORIGIN|*     send Access-Control-Allow-Origin for ORIGIN\n"
    "                      (scheme://host[:port]) or any origin, and answer OPTIONS\n"
    "                      preflights (default: off)\n"
    "  --access-log FILE   one line per request appended to FILE; - for standard\n"
    "                      output (the default), off for none\n"
    "  --plugin LIBRARY    the plug-in (default: libzarvo_data_plugin.so next to this\n"
    "                      program, else libzarvo_data_plugin.so.1 in ../lib)\n"
    "  --web DIR           the map page's files (default: share/zarvo-data-plugin/web\n"
    "                      of the installation, else the ones built with it)\n"
    "  --service-metadata FILE  a JSON file with the service's title, abstract,\n"
    "                      keywords, contact and each layer's credits for the\n"
    "                      capabilities (default: built-in texts, the tile set's credits)\n"
    "  --help              print this and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "Exit status: 0 stopped by a signal, 1 failed (a port in use, no plug-in, no\n"
    "tiles), 2 bad arguments.\n";

bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& o, std::string& error) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            o.action = ServeOptions::Action::Help;
            return true;
        }
        if (arg == "--version") {
            o.action = ServeOptions::Action::Version;
            return true;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--trust-proxy") {
            o.trustProxy = true;
            continue;
        }
        if (flag == "--plugin-grid") {
            o.pluginGrid = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = flag.rfind("--", 0) == 0 ? flag + " needs a value" : "unexpected argument '" + flag + "'";
            return false;
        }
        const std::string& value = args[++i];
        long long number = 0;
        auto numeric = [&](long long low, long long high) {
            if (ParseWholeNumber(value, low, high, number)) return true;
            error = flag + " wants a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                    ", not '" + value + "'";
            return false;
        };
        if (flag == "--tiles") {
            o.tiles = value;
        } else if (flag == "--bind") {
            o.bind = value;
        } else if (flag == "--plugin") {
            o.plugin = value;
        } else if (flag == "--web") {
            o.web = value;
        } else if (flag == "--service-metadata") {
            o.serviceMetadata = value;
        } else if (flag == "--access-log") {
            o.accessLog = value;
        } else if (flag == "--public-url") {
            if (!NormalizePublicUrl(value, o.publicUrl, error)) {
                error = "--public-url: " + error;
                return false;
            }
        } else if (flag == "--cors") {
            if (value != "*" && !IsOrigin(value)) {
                error = "--cors wants * or an origin scheme://host[:port], not '" + value + "'";
                return false;
            }
            o.corsOrigin = value;
        } else if (flag == "--port") {
            if (!numeric(0, 65535)) return false;
            o.port = static_cast<int>(number);
        } else if (flag == "--cache-mb") {
            if (!numeric(1, 65536)) return false;
            o.cacheMegabytes = static_cast<size_t>(number);
        } else if (flag == "--max-zoom") {
            if (!numeric(kMinZoom, kMaxZoom)) return false;
            o.maxZoom = static_cast<int32_t>(number);
        } else if (flag == "--threads") {
            if (!numeric(1, 256)) return false;
            o.threads = static_cast<size_t>(number);
        } else if (flag == "--max-age") {
            if (!numeric(0, 31536000)) return false;
            o.maxAgeSeconds = static_cast<int>(number);
        } else if (flag == "--max-connections") {
            if (!numeric(1, 100000)) return false;
            o.connections = static_cast<size_t>(number);
        } else {
            error = "unknown option '" + flag + "'";
            return false;
        }
    }
    if (o.tiles.empty()) {
        error = "--tiles is missing";
        return false;
    }
    return true;
}
