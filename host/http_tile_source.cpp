#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

constexpr size_t kParallelTransfers = 8;
constexpr long kMaxConnectMilliseconds = 10000;

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// One address on its way: its handle, its body so far, how often it was tried.
struct Transfer {
    std::unique_ptr<CURL, EasyDeleter> handle;
    std::vector<uint8_t> body;
    size_t maxBytes = 0;
    bool tooLarge = false;
    int attempts = 0;
};

// Keeps at most maxBytes of a body: a longer one (or an endless one) ends
// the transfer instead of growing without bound.
size_t AppendBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const size_t n = size * count;
    if (n > transfer->maxBytes - transfer->body.size()) {
        transfer->tooLarge = true;
        return 0;
    }
    transfer->body.insert(transfer->body.end(), data, data + n);
    return n;
}

// A server's passing trouble, worth another try; a timeout is not (it
// would only multiply the wait).
bool IsTransient(CURLcode result, long status) {
    if (result == CURLE_OK) return status >= 500 && status <= 599;
    return result == CURLE_GOT_NOTHING || result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR ||
           result == CURLE_PARTIAL_FILE;
}

class HttpTileSource final : public TileSource {
public:
    HttpTileSource(const std::string& hostAndPort, std::string urlTemplate) : urlTemplate(std::move(urlTemplate)) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        if (!hostAndPort.empty()) {
            connectTo.reset(curl_slist_append(nullptr, ("::" + hostAndPort).c_str()));
        }
    }
    ~HttpTileSource() override {
        multi.reset();
        curl_global_cleanup();
    }

    void Fetch(const std::vector<std::string>& urls, const FetchLimits& limits, const TileSink& sink) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + limits.deadline;
        if (!multi) multi.reset(curl_multi_init());
        std::vector<Transfer> transfers(urls.size());
        std::vector<std::string> requested(urls.size());
        size_t started = 0, inFlight = 0;
        bool stopped = false;

        auto begin = [&](size_t i) {
            Transfer& t = transfers[i];
            t.body.clear();
            t.tooLarge = false;
            ++t.attempts;
            if (!t.handle) {
                t.maxBytes = limits.maxBodyBytes;
                t.handle.reset(curl_easy_init());
                Configure(t, i, requested[i], limits);
            }
            curl_multi_add_handle(multi.get(), t.handle.get());
            ++inFlight;
        };
        auto deliver = [&](size_t i, TileFetch&& fetch) {
            transfers[i] = Transfer{};
            if (!sink(i, std::move(fetch))) stopped = true;
        };
        // Starts the next addresses that can go; an address that is no
        // tile address ends at once.
        auto fill = [&] {
            while (!stopped && started < urls.size() && inFlight < kParallelTransfers) {
                const size_t i = started++;
                if (!RequestUrl(urls[i], requested[i])) {
                    deliver(i, TileFetch{TileOutcome::Failed, {}, "not a tile service address"});
                    continue;
                }
                begin(i);
            }
        };

        fill();
        while (inFlight > 0) {
            if (Clock::now() >= deadline) {
                // Whatever has not ended fails, in address order.
                const std::string reason = "the fetch deadline of " + std::to_string(limits.deadline.count() / 1000) +
                                           " s passed";
                for (size_t i = 0; i < started; ++i) {
                    if (!transfers[i].handle) continue;
                    curl_multi_remove_handle(multi.get(), transfers[i].handle.get());
                    --inFlight;
                    deliver(i, TileFetch{TileOutcome::Failed, {}, reason});
                }
                stopped = true;
                break;
            }
            int running = 0;
            curl_multi_perform(multi.get(), &running);
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
                if (msg->msg != CURLMSG_DONE) continue;
                char* tag = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &tag);
                const size_t i = reinterpret_cast<size_t>(tag);
                const CURLcode result = msg->data.result;
                long status = 0;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &status);
                curl_multi_remove_handle(multi.get(), msg->easy_handle);
                --inFlight;
                Transfer& t = transfers[i];
                if (IsTransient(result, status) && t.attempts <= limits.retries) {
                    begin(i);
                    continue;
                }
                deliver(i, Outcome(t, result, status, limits));
            }
            fill();
            if (inFlight > 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                const int wait = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(1000, left.count())));
                curl_multi_poll(multi.get(), nullptr, 0, wait, nullptr);
            }
        }
    }

private:
    bool RequestUrl(const std::string& url, std::string& requested) const {
        if (urlTemplate.empty()) {
            requested = url;
            return true;
        }
        TileAddress address;
        if (!ParseTileAddress(url, address)) return false;
        requested = ExpandTileTemplate(urlTemplate, address);
        return true;
    }

    void Configure(Transfer& t, size_t index, const std::string& url, const FetchLimits& limits) const {
        CURL* e = t.handle.get();
        const long timeout = static_cast<long>(limits.transferTimeout.count());
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        if (connectTo) curl_easy_setopt(e, CURLOPT_CONNECT_TO, connectTo.get());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, AppendBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        // A declared length above the bound ends the transfer before its body.
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
        curl_easy_setopt(e, CURLOPT_PRIVATE, reinterpret_cast<char*>(index));
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, timeout);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, std::min(timeout, kMaxConnectMilliseconds));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    }

    static TileFetch Outcome(Transfer& t, CURLcode result, long status, const FetchLimits& limits) {
        TileFetch fetch;
        if (t.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
            fetch.reason = "body larger than " + std::to_string(limits.maxBodyBytes) + " bytes";
        } else if (result == CURLE_OPERATION_TIMEDOUT) {
            fetch.reason = "no complete answer within " + std::to_string(limits.transferTimeout.count()) + " ms";
        } else if (result != CURLE_OK) {
            fetch.reason = curl_easy_strerror(result);
        } else if (status == 404 || status == 410) {
            fetch.outcome = TileOutcome::Missing;
            fetch.reason = "HTTP status " + std::to_string(status);
        } else if (status != 200) {
            fetch.reason = "HTTP status " + std::to_string(status);
        } else {
            fetch.outcome = TileOutcome::Body;
            fetch.body = std::move(t.body);
        }
        if (fetch.outcome == TileOutcome::Failed && t.attempts > 1) {
            fetch.reason += " (tried " + std::to_string(t.attempts) + " times)";
        }
        return fetch;
    }

    std::string urlTemplate;
    std::unique_ptr<curl_slist, ListDeleter> connectTo;
    // Kept from one list to the next: its connections serve the next list's tiles.
    std::unique_ptr<CURLM, MultiDeleter> multi;
};

}  // namespace

std::unique_ptr<TileSource> MakeHttpTileSource(const std::string& hostAndPort, const std::string& urlTemplate) {
    return std::make_unique<HttpTileSource>(hostAndPort, urlTemplate);
}
