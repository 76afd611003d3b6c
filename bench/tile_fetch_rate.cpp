// Tile fetches per second from an HTTP tile server through the shared tile
// source, the way zarvo-serve fetches: a new source for each batch of 16
// addresses, several threads at once. bench/server/tile_fetch_rate.sh runs
// it against nginx serving the demo tiles.
//
// usage: zarvo_tile_fetch_rate http://HOST:PORT SECONDS [THREADS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/tile_source.h"

namespace {

constexpr int kBatch = 16;
constexpr int kColumns = 32;  // service zoom 5 of the map layer: 32 x 32 tiles

std::vector<std::string> Batch(int& next) {
    std::vector<std::string> urls;
    for (int i = 0; i < kBatch; ++i, ++next) {
        const int x = next % kColumns, y = (next / kColumns) % kColumns;
        urls.push_back("http://tile1.zarvo.example/geowebcache/service/tms1.0.0/map/5/" + std::to_string(x) + "/" +
                       std::to_string(y) + ".png");
    }
    return urls;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: zarvo_tile_fetch_rate http://HOST:PORT SECONDS [THREADS]\n");
        return 2;
    }
    const std::string server = argv[1];
    const double seconds = std::stod(argv[2]);
    const int threadCount = argc > 3 ? std::stoi(argv[3]) : 4;
    std::atomic<long> fetched{0}, failed{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            int next = t * 97;
            while (std::chrono::steady_clock::now() < end) {
                std::string error;
                const std::unique_ptr<TileSource> source = MakeTileSource(server, error);
                if (!source) {
                    ++failed;
                    return;
                }
                source->Fetch(Batch(next), FetchLimits{}, [&](size_t, TileFetch&& fetch) {
                    ++(fetch.outcome == TileOutcome::Body ? fetched : failed);
                    return true;
                });
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::printf("%.0f fetches/s, %ld failed\n", static_cast<double>(fetched.load()) / seconds, failed.load());
    return failed.load() == 0 ? 0 : 1;
}
