#include <curl/curl.h>

#include <cstdint>
#include <memory>

#include "host/tile_source.h"

namespace {

constexpr size_t kParallelTransfers = 8;
constexpr long kTimeoutSeconds = 30;

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

size_t AppendBody(char* data, size_t size, size_t count, void* body) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(body);
    bytes->insert(bytes->end(), data, data + size * count);
    return size * count;
}

// Requests every address exactly as the plug-in wrote it, but connects to
// one local server whatever tile server the address names.
class HttpTileSource final : public TileSource {
public:
    explicit HttpTileSource(const std::string& hostAndPort) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        connectTo.reset(curl_slist_append(nullptr, ("::" + hostAndPort).c_str()));
    }
    ~HttpTileSource() override { curl_global_cleanup(); }

    bool FetchAll(const std::vector<std::string>& urls, std::vector<std::vector<uint8_t>>& bodies,
                  FetchFailure& failure, const std::function<void(size_t)>& progress) override {
        bodies.assign(urls.size(), {});
        std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
        std::vector<std::unique_ptr<CURL, EasyDeleter>> transfers(urls.size());
        size_t started = 0, finished = 0;
        auto start = [&](size_t i) {
            transfers[i].reset(curl_easy_init());
            CURL* e = transfers[i].get();
            curl_easy_setopt(e, CURLOPT_URL, urls[i].c_str());
            curl_easy_setopt(e, CURLOPT_CONNECT_TO, connectTo.get());
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, AppendBody);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &bodies[i]);
            curl_easy_setopt(e, CURLOPT_PRIVATE, reinterpret_cast<char*>(i));
            curl_easy_setopt(e, CURLOPT_TIMEOUT, kTimeoutSeconds);
            curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
            curl_multi_add_handle(multi.get(), e);
        };
        constexpr size_t kNone = SIZE_MAX;
        size_t failedAt = kNone;
        while (started < urls.size() && started < kParallelTransfers) start(started++);
        while (finished < started) {
            int running = 0;
            curl_multi_perform(multi.get(), &running);
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
                if (msg->msg != CURLMSG_DONE) continue;
                char* tag = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &tag);
                const size_t i = reinterpret_cast<size_t>(tag);
                long status = 0;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &status);
                const CURLcode result = msg->data.result;
                curl_multi_remove_handle(multi.get(), msg->easy_handle);
                transfers[i].reset();
                ++finished;
                if (result != CURLE_OK || status != 200) {
                    // Transfers start in address order and run in parallel,
                    // so the first one to fail is not always the first
                    // failing address. Start no more and let those in
                    // flight end: every address before this one has then
                    // ended, and the earliest failure is the one reported.
                    if (failedAt > i) {
                        failedAt = i;
                        failure = {urls[i], result != CURLE_OK ? curl_easy_strerror(result)
                                                               : "HTTP status " + std::to_string(status)};
                    }
                    continue;
                }
                if (failedAt == kNone) {
                    progress(finished);
                    if (started < urls.size()) start(started++);
                }
            }
            if (finished < started) curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        }
        return failedAt == kNone;
    }

private:
    std::unique_ptr<curl_slist, ListDeleter> connectTo;
};

}  // namespace

std::unique_ptr<TileSource> MakeHttpTileSource(const std::string& hostAndPort) {
    return std::make_unique<HttpTileSource>(hostAndPort);
}
