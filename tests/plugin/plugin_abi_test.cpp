// The plug-in as the host sees it: loaded dynamically and driven through its
// five exports and the completion routine it hands out with every job.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "host/utf16.h"
#include "layers/zarvo_src_layer.h"
#include "tests/support/stand_in_host.h"

namespace {

class PluginAbiTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh load per test: the manager is built at load and torn down
        // at unload, so no binding or callback leaks from one test to the next.
        std::string error;
        library = PluginLibrary::Open(ZARVO_PLUGIN_PATH, error);
        ASSERT_NE(library, nullptr) << error;
        host = std::make_unique<StandInHost>(library->Api());
    }

    void TearDown() override {
        if (host) host->JoinWorkers();
        host.reset();
        library.reset();
    }

    const PluginApi& Api() { return library->Api(); }
    bool Bind(const char16_t* name, int32_t id) { return Api().initLayer(name, id); }

    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<StandInHost> host;
};

const DataRequestBlock kOneTile = MakeRequest(3, 10, 50, 20, 60, 2, 2, 1);
const DataRequestBlock kFourTiles = MakeRequest(3, 80, 0, 100, 10, 300, 200, 1);

TEST_F(PluginAbiTest, DescriptorIsStaticAndComplete) {
    const PluginDescriptor* first = Api().pluginInfo();
    const PluginDescriptor* second = Api().pluginInfo();
    ASSERT_EQ(first, second);
    EXPECT_EQ(ToUtf8(first->type), "DataPlugin");
    EXPECT_EQ(ToUtf8(first->name), "Zarvo Data Plugin");
    EXPECT_EQ(ToUtf8(first->description), "Zarvo Data Plugin for Kavlor");
    for (const char16_t* text : {first->vendor, first->webAddress, first->contactEmail, first->legalNotice}) {
        ASSERT_NE(text, nullptr);
        EXPECT_FALSE(ToUtf8(text).empty());
    }
    EXPECT_EQ(first->number, 2);
    EXPECT_EQ(first->reserved1, 0);
    EXPECT_EQ(first->reserved2, 0);
}

// Hosts compiled against older headers compare results with bare numbers,
// so every name keeps its number. The only test that spells them out.
TEST(ResultCodes, KeepTheirNumbers) {
    struct Code {
        const char* name;
        int32_t value;
        int32_t number;
    };
#define ZARVO_CODE(name, number) Code{#name, name, number}
    const Code codes[] = {
        ZARVO_CODE(ZARVO_REQUEST_STARTED, 1),      ZARVO_CODE(ZARVO_REQUEST_REFUSED, -1),
        ZARVO_CODE(ZARVO_REQUEST_UNSERVABLE, -2),  ZARVO_CODE(ZARVO_REQUEST_NO_LAYER, -3),
        ZARVO_CODE(ZARVO_REQUEST_OUT_OF_MEMORY, -4), ZARVO_CODE(ZARVO_EVENT_RASTER_READY, 0),
        ZARVO_CODE(ZARVO_EVENT_BAD_TILE_IMAGE, -1), ZARVO_CODE(ZARVO_EVENT_TILES_MISMATCH, -2),
        ZARVO_CODE(ZARVO_EVENT_NO_TRANSFORM, -3),  ZARVO_CODE(ZARVO_EVENT_OUT_OF_MEMORY, -4),
    };
#undef ZARVO_CODE
    for (const Code& code : codes) {
        EXPECT_EQ(code.value, code.number) << code.name;
    }
}

// The host may rely on each call putting the record right again.
TEST_F(PluginAbiTest, EveryDescriptorCallRestoresWhatTheHostChanged) {
    auto* record = const_cast<PluginDescriptor*>(Api().pluginInfo());
    const PluginDescriptor published = *record;
    record->type = nullptr;
    record->legalNotice = u"changed";
    record->number = 7;
    record->reserved1 = -1;
    record->reserved2 = 3;
    ASSERT_EQ(Api().pluginInfo(), record);
    EXPECT_EQ(record->type, published.type);
    EXPECT_EQ(record->legalNotice, published.legalNotice);
    EXPECT_EQ(record->number, 2);
    EXPECT_EQ(record->reserved1, 0);
    EXPECT_EQ(record->reserved2, 0);
}

TEST_F(PluginAbiTest, ResultCodesInTheOrderTheyAreDecided) {
    EXPECT_EQ(Api().request(nullptr), ZARVO_REQUEST_UNSERVABLE);
    EXPECT_EQ(host->Request(kOneTile), ZARVO_REQUEST_REFUSED) << "no download callback, unbound id";
    ASSERT_TRUE(Bind(u"map", 1));
    EXPECT_EQ(host->Request(kOneTile), ZARVO_REQUEST_REFUSED) << "no download callback, bound id";
    Api().setDownloadCallback(nullptr, nullptr);
    EXPECT_EQ(host->Request(kOneTile), ZARVO_REQUEST_REFUSED) << "a null download callback";

    host->RegisterCallbacks();
    EXPECT_EQ(Api().request(nullptr), ZARVO_REQUEST_UNSERVABLE);
    DataRequestBlock unbound = kOneTile;
    unbound.layerId = 99;
    EXPECT_EQ(host->Request(unbound), ZARVO_REQUEST_NO_LAYER);
    DataRequestBlock noTiles = kOneTile;
    noTiles.zoom = 0;
    EXPECT_EQ(host->Request(noTiles), ZARVO_REQUEST_UNSERVABLE);
    EXPECT_TRUE(host->Outgoing().empty()) << "refused requests reach no host function";

    host->acceptResult = 0;
    EXPECT_EQ(host->Request(kOneTile), ZARVO_REQUEST_REFUSED);
    host->acceptResult = 7;
    EXPECT_EQ(host->Request(kOneTile), ZARVO_REQUEST_STARTED);
    EXPECT_EQ(host->Outgoing().size(), 2u);
    EXPECT_TRUE(host->Events().empty());
}

TEST_F(PluginAbiTest, OutgoingJobCarriesTheRequestAndOneAddressPerTile) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"map", 1));
    DataRequestBlock request = kFourTiles;
    for (uint32_t i = 0; i < 4; ++i) request.hostWords[i] = 0xA5A50000u + i;
    ASSERT_EQ(host->Request(request), ZARVO_REQUEST_STARTED);
    const OutgoingJob job = host->Outgoing().at(0);
    EXPECT_EQ(std::memcmp(job.requestBytes.data(), &request, sizeof request), 0);
    EXPECT_EQ(job.itemCount, 4);
    EXPECT_EQ(job.jobWordA, 1);
    EXPECT_EQ(job.jobWordB, 2);
    EXPECT_EQ(job.context, host.get());
    ASSERT_EQ(job.urls.size(), 4u);
    EXPECT_EQ(job.urls[0], "http://tile1.zarvo.example/geowebcache/service/tms1.0.0/map/2/2/2.png");
    EXPECT_EQ(job.urls[3], "http://tile1.zarvo.example/geowebcache/service/tms1.0.0/map/2/3/1.png");
}

TEST_F(PluginAbiTest, CompletedJobDeliversTheRaster) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"map", 1));
    ASSERT_EQ(host->Request(kFourTiles), ZARVO_REQUEST_STARTED);
    host->CompletePending();
    const std::vector<HostEvent> events = host->Events();
    ASSERT_EQ(events.size(), 1u);
    const HostEvent& e = events[0];
    EXPECT_EQ(e.result, ZARVO_EVENT_RASTER_READY);
    EXPECT_EQ(e.context, host.get());
    EXPECT_EQ(e.image.byteSize, 180000);
    EXPECT_EQ(e.image.width, 300);
    EXPECT_EQ(e.image.height, 200);
    EXPECT_EQ(e.image.bytesPerPixel, 3);
    EXPECT_EQ(e.image.reserved, 0);

    // The same raster as the layer makes in-process from the same tiles.
    ZarvoSrcLayer layer;
    ASSERT_TRUE(layer.Init(u"map"));
    LayerImage direct{};
    ASSERT_EQ(layer.ProcessDownload(*e.job, direct), ZARVO_EVENT_RASTER_READY);
    EXPECT_EQ(std::vector<uint8_t>(direct.pixels, direct.pixels + direct.byteSize), e.raster);
    delete[] direct.pixels;
}

TEST_F(PluginAbiTest, FailedDownloadPassesTheStatusThrough) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"map", 1));
    host->completionStatus = 5;
    ASSERT_EQ(host->Request(kOneTile), ZARVO_REQUEST_STARTED);
    ASSERT_TRUE(Bind(u"hybrid", 2));  // rebinding does not matter to a failed job
    host->CompletePending();
    const std::vector<HostEvent> events = host->Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].result, 5);
    EXPECT_NE(events[0].job, nullptr);
    const LayerImage zero{};
    EXPECT_EQ(std::memcmp(&events[0].image, &zero, sizeof zero), 0);
}

TEST_F(PluginAbiTest, CompletionsThatReachNoLayerOrNoJobAreDropped) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"map", 1));
    ASSERT_EQ(host->Request(kOneTile), ZARVO_REQUEST_STARTED);
    const DownloadDoneFn done = host->Outgoing().at(0).done;
    done(0, nullptr);
    done(3, nullptr);

    TileSet tiles;
    tiles.AddTiles(1, 3, PatternFill);
    DataRequestBlock neverBound = kOneTile;
    neverBound.layerId = 42;
    DownloadJob job = CompletedJob(neverBound, tiles.Images());
    done(0, &job);
    EXPECT_TRUE(host->Events().empty());

    done(9, &job);  // a failure is reported whatever the id
    ASSERT_EQ(host->Events().size(), 1u);
    EXPECT_EQ(host->Events()[0].result, 9);
}

TEST_F(PluginAbiTest, CompletesFromInsideTheCallbackAndFromOtherThreads) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"aerial", 1));
    host->completion = Completion::InsideCallback;
    ASSERT_EQ(host->Request(kFourTiles), ZARVO_REQUEST_STARTED);
    host->completion = Completion::WorkerThread;
    host->bytesPerPixel = 4;
    ASSERT_EQ(host->Request(kFourTiles), ZARVO_REQUEST_STARTED);
    host->JoinWorkers();
    const std::vector<HostEvent> events = host->Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].result, ZARVO_EVENT_RASTER_READY);
    EXPECT_EQ(events[1].result, ZARVO_EVENT_RASTER_READY);
    EXPECT_EQ(events[0].raster, events[1].raster) << "4-byte tiles give the same raster";
}

TEST_F(PluginAbiTest, NoEventCallbackStillCompletes) {
    host->RegisterCallbacks();
    Api().setEventCallback(nullptr, nullptr);
    ASSERT_TRUE(Bind(u"map", 1));
    host->completion = Completion::InsideCallback;
    EXPECT_EQ(host->Request(kFourTiles), ZARVO_REQUEST_STARTED);  // the raster is freed; the leak checker would say otherwise
    EXPECT_TRUE(host->Events().empty());
}

TEST_F(PluginAbiTest, EventCallbackIsReplacedWithItsContext) {
    host->RegisterCallbacks();
    StandInHost other(Api());
    Api().setEventCallback(&StandInHost::OnEvent, &other);
    ASSERT_TRUE(Bind(u"map", 1));
    host->completion = Completion::InsideCallback;
    ASSERT_EQ(host->Request(kOneTile), ZARVO_REQUEST_STARTED);
    EXPECT_TRUE(host->Events().empty());
    ASSERT_EQ(other.Events().size(), 1u);
    EXPECT_EQ(other.Events()[0].context, &other);
}

// A host that calls the plug-in again from inside its event callback: the
// first event re-registers the callback, rebinds the id and sends another
// request, whose event arrives before the first callback has returned.
struct ReenteringHost {
    const PluginApi* api;
    StandInHost* recorder;
    int32_t nestedRequest = 0;
    int calls = 0;

    static void KVL_CALL OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context) {
        auto* self = static_cast<ReenteringHost*>(context);
        StandInHost::OnEvent(result, job, image, self->recorder);
        if (++self->calls > 1) return;
        self->api->setEventCallback(&ReenteringHost::OnEvent, self);
        self->api->initLayer(u"aerial", 1);
        self->nestedRequest = self->api->request(&kOneTile);
    }
};

TEST_F(PluginAbiTest, HostMayCallExportsFromInsideItsEventCallback) {
    host->RegisterCallbacks();
    host->completion = Completion::InsideCallback;
    ReenteringHost reentering{&Api(), host.get()};
    Api().setEventCallback(&ReenteringHost::OnEvent, &reentering);
    ASSERT_TRUE(Bind(u"map", 1));
    ASSERT_EQ(host->Request(kOneTile), ZARVO_REQUEST_STARTED);
    EXPECT_EQ(reentering.nestedRequest, ZARVO_REQUEST_STARTED);
    const std::vector<OutgoingJob> outgoing = host->Outgoing();
    ASSERT_EQ(outgoing.size(), 2u);
    EXPECT_NE(outgoing[1].urls.at(0).find("/aerial/"), std::string::npos);
    const std::vector<HostEvent> events = host->Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].result, ZARVO_EVENT_RASTER_READY);
    EXPECT_EQ(events[1].result, ZARVO_EVENT_RASTER_READY);
}

// The tile address extension tells which layer served a request.
std::string FirstUrlFor(StandInHost& host, int32_t id) {
    DataRequestBlock r = kOneTile;
    r.layerId = id;
    const size_t before = host.Outgoing().size();
    if (host.Request(r) != ZARVO_REQUEST_STARTED || host.Outgoing().size() != before + 1) return "";
    const std::string url = host.Outgoing().back().urls.at(0);
    return url.substr(url.find("tms1.0.0/") + 9);
}

TEST_F(PluginAbiTest, BindingsFoldCaseShareLayersAndSurviveBadNames) {
    host->RegisterCallbacks();
    EXPECT_TRUE(Bind(u"aerial", 7));
    EXPECT_FALSE(Bind(u"roads", 7));
    EXPECT_FALSE(Api().initLayer(nullptr, 7));
    EXPECT_EQ(FirstUrlFor(*host, 7), "aerial/2/2/2.jpeg");

    EXPECT_TRUE(Bind(u"MAP", 0));
    EXPECT_TRUE(Bind(u"Map", -5));
    EXPECT_EQ(FirstUrlFor(*host, 0), "map/2/2/2.png");
    EXPECT_EQ(FirstUrlFor(*host, -5), "map/2/2/2.png");
    EXPECT_TRUE(Bind(u"HyBrId", -5));
    EXPECT_EQ(FirstUrlFor(*host, -5), "hybrid/2/2/2.png");
    EXPECT_EQ(FirstUrlFor(*host, 0), "map/2/2/2.png");
    EXPECT_FALSE(Bind(u"m\u00C1p", 3)) << "only A to Z fold";
    EXPECT_FALSE(Bind(u"", 3));
}

TEST_F(PluginAbiTest, CompletionGoesToTheLayerBoundWhenItArrives) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"map", 1));
    ASSERT_EQ(host->Request(kOneTile), ZARVO_REQUEST_STARTED);
    ASSERT_TRUE(Bind(u"aerial", 1));
    host->CompletePending();
    ASSERT_EQ(host->Events().size(), 1u);
    EXPECT_EQ(host->Events()[0].result, ZARVO_EVENT_RASTER_READY);
}

TEST_F(PluginAbiTest, UnloadTearsTheManagerDown) {
    host->RegisterCallbacks();
    ASSERT_TRUE(Bind(u"map", 1));
    host.reset();
    library.reset();
    SetUp();
    host->RegisterCallbacks();
    EXPECT_EQ(host->Request(kOneTile), ZARVO_REQUEST_NO_LAYER) << "a fresh load starts with no bindings";
}

// Requests and completions on shared layers from several threads while
// another thread keeps binding ids. The thread sanitizer build runs this.
TEST_F(PluginAbiTest, ConcurrentRequestsCompletionsAndBindings) {
    host->RegisterCallbacks();
    host->completion = Completion::WorkerThread;
    ASSERT_TRUE(Bind(u"map", 1));
    ASSERT_TRUE(Bind(u"hybrid", 2));
    std::atomic<bool> stop{false};
    std::thread binder([&] {
        const char16_t* names[] = {u"map", u"aerial", u"hybrid", u"nothing"};
        for (int i = 0; i < 5000 && !stop.load(); ++i) {
            Api().initLayer(names[i % 4], 3 + i % 5);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> requesters;
    std::atomic<int> accepted{0};
    for (int t = 0; t < 4; ++t) {
        requesters.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                DataRequestBlock r = MakeRequest(4, 10 + t, 40, 30 + i, 55, 16, 16, 1 + (i + t) % 2);
                if (host->Request(r) == ZARVO_REQUEST_STARTED) ++accepted;
            }
        });
    }
    for (std::thread& t : requesters) t.join();
    stop = true;
    binder.join();
    host->JoinWorkers();
    EXPECT_EQ(accepted.load(), 80);
    const std::vector<HostEvent> events = host->Events();
    ASSERT_EQ(events.size(), 80u);
    for (const HostEvent& e : events) {
        EXPECT_EQ(e.result, ZARVO_EVENT_RASTER_READY);
        EXPECT_EQ(e.raster.size(), 16u * 16u * 3u);
    }
}

}  // namespace
