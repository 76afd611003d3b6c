// Out-of-memory injection over a whole flow (bind, request, completion
// with a raster): the N-th allocation fails, for N = 1, 2, 3, ... until the
// flow runs without reaching N. Every time the plug-in must report the
// failure (an out-of-memory result or false), leak nothing, leave its mutex free and then serve
// the same flow normally.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "tests/support/stand_in_host.h"

namespace {

// Every allocation carries a header saying whether it was made while the
// test was counting, so that frees of older memory are told apart.
constexpr size_t kHeader = 16;
constexpr uint32_t kCounted = 0x5A5A0001;
constexpr uint32_t kUncounted = 0x5A5A0000;

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> live{0};
std::atomic<long> failAt{0};  // 0: never fail

void* Allocate(size_t size) {
    uint32_t tag = kUncounted;
    if (counting.load()) {
        const long n = ++allocations;
        if (n == failAt.load()) {
            throw std::bad_alloc();
        }
        tag = kCounted;
        ++live;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw std::bad_alloc();
    *reinterpret_cast<uint32_t*>(block) = tag;
    return block + kHeader;
}

void Release(void* p) noexcept {
    if (p == nullptr) return;
    unsigned char* block = static_cast<unsigned char*>(p) - kHeader;
    if (*reinterpret_cast<uint32_t*>(block) == kCounted) --live;
    std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

// What QuietHost records when no event came, and when a failed event came
// with a raster: neither is a result the plug-in reports.
constexpr int32_t kNoEvent = 1;
constexpr int32_t kRasterWithFailure = 99;

// A host that allocates nothing while the flow runs: its tiles are made
// beforehand and it records into plain words.
struct QuietHost {
    TileSet* tiles = nullptr;
    int32_t accepted = 0;
    int32_t eventResult = kNoEvent;
    int events = 0;
};

QuietHost quiet;

int32_t KVL_CALL QuietDownload(DownloadJob* job, DownloadDoneFn done, void*) {
    DownloadJob completed = *job;
    completed.items = quiet.tiles->Images().data();
    completed.itemCount = static_cast<int32_t>(quiet.tiles->Images().size());
    if (completed.itemCount != job->itemCount) return 0;
    done(0, &completed);
    return 1;
}

void KVL_CALL QuietEvent(int32_t result, DownloadJob*, LayerImage* image, void*) {
    quiet.eventResult = result;
    ++quiet.events;
    if (result != ZARVO_EVENT_RASTER_READY && (image->pixels != nullptr || image->byteSize != 0)) {
        quiet.eventResult = kRasterWithFailure;
    }
}

struct FlowResult {
    bool bound;
    int32_t requested;
    int32_t event;
    int events;
};

const DataRequestBlock kRequest = MakeRequest(3, 80, 0, 100, 10, 64, 48, 1);

FlowResult RunFlow(const PluginApi& api) {
    quiet.eventResult = kNoEvent;
    quiet.events = 0;
    api.setDownloadCallback(QuietDownload, nullptr);
    api.setEventCallback(QuietEvent, nullptr);
    FlowResult r{};
    r.bound = api.initLayer(u"map", 1);
    r.requested = api.request(&kRequest);
    r.event = quiet.eventResult;
    r.events = quiet.events;
    return r;
}

// True when another thread can take the plug-in's mutex within a few seconds.
bool MutexIsFree(const PluginApi& api) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        api.initLayer(u"aerial", 2);
        done = true;
    });
    for (int i = 0; i < 500 && !done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done.load()) {
        other.detach();
        return false;
    }
    other.join();
    return true;
}

TEST(OutOfMemoryTest, EveryFailedAllocationIsReportedAndCleanedUp) {
    TileSet tiles;
    tiles.AddTiles(4, 3, PatternFill);  // the request's 2 x 2 tiles
    quiet.tiles = &tiles;

    long injected = 0;
    for (long n = 1;; ++n) {
        std::string error;
        std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
        ASSERT_NE(library, nullptr) << error;
        const PluginApi& api = library->Api();

        allocations = 0;
        live = 0;
        failAt = n;
        counting = true;
        const FlowResult failed = RunFlow(api);
        failAt = 0;
        const bool reached = allocations.load() >= n;

        const bool free = MutexIsFree(api);
        const FlowResult again = RunFlow(api);
        library.reset();  // unloading tears the manager down
        counting = false;

        ASSERT_TRUE(free) << "allocation " << n << ": the mutex stayed locked";
        EXPECT_TRUE(again.bound && again.requested == ZARVO_REQUEST_STARTED &&
                    again.event == ZARVO_EVENT_RASTER_READY && again.events == 1)
            << "allocation " << n << ": the flow does not work after the failure";
        EXPECT_EQ(live.load(), 0) << "allocation " << n << ": blocks leaked";
        if (!reached) {
            EXPECT_TRUE(failed.bound && failed.requested == ZARVO_REQUEST_STARTED &&
                        failed.event == ZARVO_EVENT_RASTER_READY);
            break;
        }
        ++injected;
        // The failure shows in exactly one place, as its documented result.
        const bool reportedByBind = !failed.bound && failed.requested == ZARVO_REQUEST_NO_LAYER && failed.events == 0;
        const bool reportedByRequest =
            failed.bound && failed.requested == ZARVO_REQUEST_OUT_OF_MEMORY && failed.events == 0;
        const bool reportedByEvent = failed.bound && failed.requested == ZARVO_REQUEST_STARTED && failed.events == 1 &&
                                     failed.event == ZARVO_EVENT_OUT_OF_MEMORY;
        EXPECT_TRUE(reportedByBind || reportedByRequest || reportedByEvent)
            << "allocation " << n << ": bound " << failed.bound << ", request " << failed.requested << ", event "
            << failed.event << " (" << failed.events << " events)";
    }
    std::printf("failed each of the flow's %ld allocations in turn\n", injected);
    EXPECT_GT(injected, 5) << "the flow should allocate in the library";
}

// Loading builds the plug-in's process-wide state; an allocation failing
// there would end the host, so loading allocates nothing that can fail.
TEST(OutOfMemoryTest, LoadingSurvivesAFailingAllocator) {
    allocations = 0;
    failAt = 1;
    counting = true;
    void* handle = dlopen(ZARVO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    counting = false;
    failAt = 0;
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_EQ(dlclose(handle), 0);
}

}  // namespace
