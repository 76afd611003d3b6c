// The DLL as the Windows loader sees it: LoadLibrary, every export found by
// name and by ordinal, one request end to end, FreeLibrary.

#include <gtest/gtest.h>

#include <windows.h>

#include "host/utf16.h"
#include "host/plugin_host.h"
#include "tests/support/tile_fixtures.h"

namespace {

struct Export {
    const char* name;
    WORD ordinal;
};

constexpr Export kExports[] = {
    {"DataInitLayer", 1}, {"DataRequest", 2}, {"DataSetDownloadCallback", 3},
    {"DataSetEventCallback", 4}, {"KvlPluginInfo", 5},
};

template <typename Fn>
void Resolve(HMODULE module, WORD ordinal, Fn& out) {
    out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

TEST(WindowsLoaderTest, ExportsByNameAndOrdinalAndServesARequest) {
    HMODULE module = LoadLibraryA(ZARVO_PLUGIN_PATH);
    ASSERT_NE(module, nullptr) << "LoadLibrary failed with " << GetLastError();
    for (const Export& e : kExports) {
        const FARPROC byName = GetProcAddress(module, e.name);
        const FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(e.ordinal));
        EXPECT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(byName, byOrdinal) << e.name << " is not at ordinal " << e.ordinal;
    }
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(6)), nullptr) << "no sixth export";

    PluginApi api;
    Resolve(module, 1, api.initLayer);
    Resolve(module, 2, api.request);
    Resolve(module, 3, api.setDownloadCallback);
    Resolve(module, 4, api.setEventCallback);
    Resolve(module, 5, api.pluginInfo);

    const PluginDescriptor* descriptor = api.pluginInfo();
    EXPECT_EQ(sizeof(PluginDescriptor), 40u);
    EXPECT_EQ(ToUtf8(descriptor->type), "DataPlugin");
    EXPECT_EQ(ToUtf8(descriptor->name), "Zarvo Data Plugin");
    EXPECT_EQ(descriptor->number, 2);

    {
        PluginHost host(api, CompleteOn::WorkerThread);
        ASSERT_TRUE(host.Bind("aerial", 1));
        std::vector<std::string> addresses;
        const RenderOutcome outcome =
            host.Render(MakeRequest(3, 80, 0, 100, 10, 300, 200, 1), PatternTiles(3, &addresses));
        ASSERT_TRUE(outcome.Ok()) << outcome.message;
        EXPECT_EQ(outcome.raster.pixels.size(), 180000u);
        ASSERT_FALSE(addresses.empty());
        EXPECT_EQ(addresses[0], "http://tile1.zarvo.example/geowebcache/service/tms1.0.0/aerial/2/2/2.jpeg");
    }
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
