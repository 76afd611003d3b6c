// Exports called from several threads at once where one call changes what
// the others read: callback registrations against the requests that use
// them, and descriptor calls against the host reading the descriptor. The
// thread sanitizer build checks that nothing races; every build checks that
// each call saw whole, correct data. Both tests do a fixed number of calls.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/plugin_library.h"
#include "host/utf16.h"
#include "tests/support/tile_fixtures.h"

namespace {

// Two hosts' contexts: only their addresses matter.
struct Context {
    char unused;
};
Context contextA;
Context contextB;

std::atomic<long> downloadCalls{0};
std::atomic<long> eventCalls{0};
std::atomic<long> wrongContexts{0};
std::atomic<long> wrongResults{0};

// The host's own failure status: the plug-in hands it straight back to the
// event callback, so each request is one round trip with no raster to make.
constexpr int32_t kHostStatus = 17;

template <Context& expected>
int32_t KVL_CALL Download(DownloadJob* job, DownloadDoneFn done, void* context) {
    if (context != &expected) ++wrongContexts;
    ++downloadCalls;
    done(kHostStatus, job);
    return 1;
}

template <Context& expected>
void KVL_CALL Event(int32_t result, DownloadJob*, LayerImage*, void* context) {
    if (context != &expected) ++wrongContexts;
    if (result != kHostStatus) ++wrongResults;
    ++eventCalls;
}

class ThreadSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
        ASSERT_NE(library, nullptr) << error;
        downloadCalls = 0;
        eventCalls = 0;
        wrongContexts = 0;
        wrongResults = 0;
    }

    const PluginApi& Api() { return library->Api(); }

    std::unique_ptr<PluginLibrary> library;
};

// One thread keeps switching both callbacks between host A's function with
// A's context and host B's with B's, the download and event pairs out of
// step, while other threads send requests that run both callbacks.
TEST_F(ThreadSafetyTest, EveryCallbackCallGetsTheContextRegisteredWithIt) {
    constexpr int kRequesters = 2;
    constexpr int kRequestsEach = 1000;
    constexpr int kMostRegistrations = 2000000;
    ASSERT_TRUE(Api().initLayer(u"map", 1));
    Api().setDownloadCallback(&Download<contextA>, &contextA);
    Api().setEventCallback(&Event<contextA>, &contextA);

    // Every thread waits for the others before it starts, so that the
    // registrations overlap the requests rather than run before them.
    std::atomic<int> waiting{kRequesters + 1};
    const auto startTogether = [&] {
        --waiting;
        while (waiting.load() > 0) std::this_thread::yield();
    };
    std::atomic<int> requestersRunning{kRequesters};
    std::atomic<long> registrations{0};
    std::thread registrar([&] {
        startTogether();
        for (int i = 0; i < kMostRegistrations && requestersRunning.load() > 0; ++i) {
            if (i % 2 == 0) {
                Api().setDownloadCallback(&Download<contextB>, &contextB);
            } else {
                Api().setDownloadCallback(&Download<contextA>, &contextA);
            }
            if (i % 4 < 2) {
                Api().setEventCallback(&Event<contextB>, &contextB);
            } else {
                Api().setEventCallback(&Event<contextA>, &contextA);
            }
            ++registrations;
        }
    });
    std::atomic<long> accepted{0};
    std::vector<std::thread> requesters;
    for (int t = 0; t < kRequesters; ++t) {
        requesters.emplace_back([&, t] {
            const DataRequestBlock request = MakeRequest(8, 10 + t, 20, 50 + t, 50, 4, 4, 1);
            startTogether();
            for (int i = 0; i < kRequestsEach; ++i) {
                if (Api().request(&request) == ZARVO_REQUEST_STARTED) ++accepted;
            }
            --requestersRunning;
        });
    }
    for (std::thread& t : requesters) t.join();
    registrar.join();

    EXPECT_EQ(wrongContexts.load(), 0);
    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_EQ(accepted.load(), kRequesters * kRequestsEach);
    EXPECT_EQ(downloadCalls.load(), accepted.load());
    EXPECT_EQ(eventCalls.load(), accepted.load()) << "one event for each accepted job";
    std::printf("%ld re-registrations during %ld requests\n", registrations.load(), accepted.load());
}

// Several threads call KvlPluginInfo and read the record it returns, as
// hosts do, while the others call it again.
TEST_F(ThreadSafetyTest, DescriptorCallsAndReadsFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kCallsEach = 2000;
    std::atomic<long> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t) {
        readers.emplace_back([&] {
            const PluginDescriptor* first = Api().pluginInfo();
            const char16_t* const texts[] = {first->type,       first->name,         first->description,
                                             first->vendor,     first->webAddress,   first->contactEmail,
                                             first->legalNotice};
            for (int i = 0; i < kCallsEach; ++i) {
                const PluginDescriptor* d = Api().pluginInfo();
                const char16_t* const now[] = {d->type,       d->name,         d->description, d->vendor,
                                               d->webAddress, d->contactEmail, d->legalNotice};
                bool same = d == first && d->number == 2 && d->reserved1 == 0 && d->reserved2 == 0;
                for (size_t k = 0; k < 7; ++k) same = same && now[k] == texts[k] && now[k] != nullptr;
                if (!same) ++wrong;
            }
        });
    }
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(ToUtf8(Api().pluginInfo()->type), "DataPlugin");
}

}  // namespace
