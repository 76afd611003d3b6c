#include "serve/operations/readiness.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

constexpr long kConnectMilliseconds = 2000;

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};

}  // namespace

bool TileSourceIsRemote(const std::string& source) {
    return source.find("://") != std::string::npos;
}

Readiness CheckTileSource(const std::string& source) {
    Readiness readiness;
    if (!TileSourceIsRemote(source)) {
        // A path template's fixed part: the folder its first placeholder lies in.
        const std::string path = source.substr(0, source.find('{'));
        const std::string checked = path.size() == source.size() ? path : path.substr(0, path.rfind('/') + 1);
        struct stat info {};
        const bool folder = stat(checked.empty() ? "." : checked.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        readiness.ready = access(checked.empty() ? "." : checked.c_str(), folder ? R_OK | X_OK : R_OK) == 0;
        if (!readiness.ready) readiness.why = "the tile source " + source + " cannot be read";
        return readiness;
    }
    const size_t scheme = source.find("://");
    // The server's address alone: a template's placeholders lie in its path.
    const std::string server = source.substr(0, source.find('/', scheme + 3));
    if (server.find('{') != std::string::npos) {  // a host named per tile: nothing to try beforehand
        readiness.ready = true;
        return readiness;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        readiness.why = "out of memory";
        return readiness;
    }
    curl_easy_setopt(easy.get(), CURLOPT_URL, (server + "/").c_str());
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS, kConnectMilliseconds);
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    const CURLcode result = curl_easy_perform(easy.get());
    readiness.ready = result == CURLE_OK;
    if (!readiness.ready) readiness.why = "the tile server " + server + " cannot be reached: " + curl_easy_strerror(result);
    return readiness;
}
