#include "serve/serve_options.h"

#include "host/number_parsing.h"
#include "projection/zoom.h"

const char kServeUsage[] =
    "usage: zarvo-serve --tiles DIR|http://HOST:PORT [--port N] [--bind ADDRESS] [--cache-mb N]\n"
    "                   [--max-zoom Z] [--threads N] [--plugin LIBRARY] [--web DIR]\n"
    "                   [--service-metadata FILE]\n";

bool ParseServeOptions(const std::vector<std::string>& args, ServeOptions& o, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
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
