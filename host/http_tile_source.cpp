#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

constexpr size_t kParallelTransfers = 8;
constexpr long kMaxConnectMilliseconds = 10000;
// Idle clients kept with their open connections: about one per thread
// that fetches at once; more are closed when their fetch ends.
constexpr size_t kIdleClients = 32;
// Retries wait kFirstBackoff, then twice as long each time up to
// kMaxBackoff, each wait drawn between its half and its whole so that
// clients that failed together do not come back together.
constexpr std::chrono::milliseconds kFirstBackoff{100};
constexpr std::chrono::milliseconds kMaxBackoff{2000};

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// The process's HTTP client: libcurl initialised once, at program start
// before any thread exists, and multi handles that keep their connections
// open between fetches (keep-alive, HTTP/2 multiplexing), lent to one fetch
// at a time. Name lookups and TLS sessions are shared by all of them.
class HttpClient {
public:
    HttpClient() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        share = curl_share_init();
        if (share != nullptr) {
            curl_share_setopt(share, CURLSHOPT_LOCKFUNC, Lock);
            curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, Unlock);
            curl_share_setopt(share, CURLSHOPT_USERDATA, this);
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
    }
    ~HttpClient() {
        idle.clear();
        if (share != nullptr) curl_share_cleanup(share);
        curl_global_cleanup();
    }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // An idle multi handle with its open connections, or a new one.
    MultiHandle Take() {
        {
            const std::lock_guard<std::mutex> lock(idleMutex);
            if (!idle.empty()) {
                MultiHandle multi = std::move(idle.back());
                idle.pop_back();
                return multi;
            }
        }
        MultiHandle multi(curl_multi_init());
        if (multi) {
            curl_multi_setopt(multi.get(), CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
            curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, static_cast<long>(kParallelTransfers));
        }
        return multi;
    }

    void Give(MultiHandle multi) {
        const std::lock_guard<std::mutex> lock(idleMutex);
        if (idle.size() < kIdleClients) idle.push_back(std::move(multi));
    }

    CURLSH* Share() const { return share; }

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<HttpClient*>(self)->locks[Slot(data)].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<HttpClient*>(self)->locks[Slot(data)].unlock();
    }
    static size_t Slot(curl_lock_data data) {
        return data == CURL_LOCK_DATA_DNS ? 0 : data == CURL_LOCK_DATA_SSL_SESSION ? 1 : 2;
    }

    CURLSH* share = nullptr;
    std::mutex locks[3];
    std::mutex idleMutex;
    std::vector<MultiHandle> idle;
};

HttpClient theClient;

std::chrono::milliseconds Backoff(int attempt, std::minstd_rand& random) {
    const int doublings = std::min(attempt - 1, 16);
    const auto longest = std::min(kMaxBackoff, kFirstBackoff * (int64_t{1} << doublings));
    std::uniform_int_distribution<int64_t> draw(longest.count() / 2, longest.count());
    return std::chrono::milliseconds(draw(random));
}

// One address on its way: its handle, its body so far, how often it was tried.
struct Transfer {
    std::unique_ptr<CURL, EasyDeleter> handle;
    std::vector<uint8_t> body;
    size_t maxBytes = 0;
    bool tooLarge = false;
    bool inMulti = false;  // added to the multi handle (not waiting to be tried again)
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
        if (!hostAndPort.empty()) {
            connectTo.reset(curl_slist_append(nullptr, ("::" + hostAndPort).c_str()));
        }
    }

    void Fetch(const std::vector<std::string>& urls, const FetchLimits& limits, const TileSink& sink) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + limits.deadline;
        MultiHandle multi = theClient.Take();
        if (!multi) {
            for (size_t i = 0; i < urls.size(); ++i) {
                if (!sink(i, TileFetch{TileOutcome::Failed, {}, "out of memory"})) break;
            }
            return;
        }
        std::vector<Transfer> transfers(urls.size());
        std::vector<std::string> requested(urls.size());
        // Transfers that failed in passing, with when to try them again.
        std::vector<std::pair<Clock::time_point, size_t>> retries;
        std::minstd_rand random(std::random_device{}());
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
            t.inMulti = true;
            ++inFlight;
        };
        auto deliver = [&](size_t i, TileFetch&& fetch) {
            transfers[i] = Transfer{};
            fetch.address = requested[i];
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
        while (inFlight > 0 || !retries.empty()) {
            if (Clock::now() >= deadline) {
                // Whatever has not ended fails, in address order.
                const std::string reason = "the fetch deadline of " + std::to_string(limits.deadline.count() / 1000) +
                                           " s passed";
                for (size_t i = 0; i < started; ++i) {
                    Transfer& t = transfers[i];
                    if (!t.handle) continue;
                    if (t.inMulti) {
                        curl_multi_remove_handle(multi.get(), t.handle.get());
                        --inFlight;
                    }
                    deliver(i, TileFetch{TileOutcome::Failed, {}, reason});
                }
                retries.clear();
                stopped = true;
                break;
            }
            // Retries whose wait is over go again: a transfer under way is
            // finished, tries included, even once the fetch is stopped.
            const Clock::time_point now = Clock::now();
            for (auto it = retries.begin(); it != retries.end();) {
                if (it->first > now) {
                    ++it;
                    continue;
                }
                const size_t i = it->second;
                it = retries.erase(it);
                begin(i);
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
                t.inMulti = false;
                if (IsTransient(result, status) && t.attempts <= limits.retries) {
                    retries.emplace_back(Clock::now() + Backoff(t.attempts, random), i);
                    continue;
                }
                deliver(i, Outcome(t, result, status, limits));
            }
            fill();
            if (inFlight > 0 || !retries.empty()) {
                Clock::time_point wake = std::min(deadline, Clock::now() + std::chrono::seconds(1));
                for (const auto& retry : retries) wake = std::min(wake, retry.first);
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
                const int wait = static_cast<int>(std::max<int64_t>(0, left.count()));
                curl_multi_poll(multi.get(), nullptr, 0, wait, nullptr);
            }
        }
        // Every handle is out of the multi handle now; its connections stay
        // open for the next fetch.
        transfers.clear();
        theClient.Give(std::move(multi));
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
        // HTTP/2 where the server offers it over TLS, its connections then
        // shared by the transfers that follow. A transfer never waits for
        // another's connection to learn whether it can share it (over plain
        // HTTP that means the other's whole answer): each starts at once,
        // and its time limit is its own.
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
        if (theClient.Share() != nullptr) curl_easy_setopt(e, CURLOPT_SHARE, theClient.Share());
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
};

}  // namespace

std::unique_ptr<TileSource> MakeHttpTileSource(const std::string& hostAndPort, const std::string& urlTemplate) {
    return std::make_unique<HttpTileSource>(hostAndPort, urlTemplate);
}
