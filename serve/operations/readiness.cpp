#include "serve/operations/readiness.h"

#include <curl/curl.h>
#include <unistd.h>

#include <memory>

namespace {

constexpr long kConnectMilliseconds = 2000;

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};

}  // namespace

bool TileSourceReachable(const std::string& source, std::string& why) {
    const size_t scheme = source.find("://");
    if (scheme == std::string::npos) {
        if (access(source.c_str(), R_OK | X_OK) == 0) return true;
        why = "the tile directory " + source + " cannot be read";
        return false;
    }
    // The server's address alone: a template's placeholders lie in its path.
    const std::string server = source.substr(0, source.find('/', scheme + 3));
    if (server.find('{') != std::string::npos) return true;  // a host named per tile: nothing to try beforehand
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        why = "out of memory";
        return false;
    }
    curl_easy_setopt(easy.get(), CURLOPT_URL, (server + "/").c_str());
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS, kConnectMilliseconds);
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    const CURLcode result = curl_easy_perform(easy.get());
    if (result == CURLE_OK) return true;
    why = "the tile server " + server + " cannot be reached: " + curl_easy_strerror(result);
    return false;
}
