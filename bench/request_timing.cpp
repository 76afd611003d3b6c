// Times whole requests through a loaded plug-in's C interface, from
// DataRequest to the finished raster, the way a host drives it. Built for
// Linux and for Windows, so the shared library and the DLL (under wine)
// can be timed side by side on the same scene: bench/compare_dll.sh.
//
//   zarvo_request_timing [--library PATH] [--size PIXELS] [--runs N]
//
// Prints the median, over N runs, of the process CPU time per raster pixel
// (user and system time: page faults count).

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "host/plugin_host.h"
#include "host/plugin_library.h"

namespace {

// Process CPU time in seconds: user time, and system time (page faults).
struct CpuTime {
    double user;
    double system;
};

CpuTime ProcessCpuTime() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return CpuTime{0, 0};
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return CpuTime{seconds(user), seconds(kernel)};
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return CpuTime{seconds(usage.ru_utime), seconds(usage.ru_stime)};
#endif
}

bool ParseCount(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = ZARVO_PLUGIN_PATH;
    long size = 2048;
    long runs = 7;
    for (int k = 1; k < argc; k += 2) {
        const std::string arg = argv[k];
        const char* value = k + 1 < argc ? argv[k + 1] : nullptr;
        if (value == nullptr) {
            std::fprintf(stderr, "zarvo_request_timing: %s needs a value\n", arg.c_str());
            return 2;
        }
        if (arg == "--library") {
            library = value;
        } else if (arg == "--size" && !ParseCount(value, 1, 8192, size)) {
            std::fprintf(stderr, "zarvo_request_timing: --size wants 1 to 8192, got '%s'\n", value);
            return 2;
        } else if (arg == "--runs" && !ParseCount(value, 1, 101, runs)) {
            std::fprintf(stderr, "zarvo_request_timing: --runs wants 1 to 101, got '%s'\n", value);
            return 2;
        } else if (arg != "--library" && arg != "--size" && arg != "--runs") {
            std::fprintf(stderr, "zarvo_request_timing: unknown argument '%s'\n", arg.c_str());
            return 2;
        }
    }

    std::string error;
    const auto plugin = PluginLibrary::Open(library, error);
    if (!plugin) {
        std::fprintf(stderr, "zarvo_request_timing: %s\n", error.c_str());
        return 1;
    }
    const DataRequestBlock request = SceneRequest(static_cast<uint32_t>(size));
    const BenchScene scene(request, 3);
    const TileProvider provider = SceneProvider(scene);
    PluginHost host(plugin->Api(), CompleteOn::RenderingThread);
    if (!host.Bind("map", 1)) {
        std::fprintf(stderr, "zarvo_request_timing: the plug-in refused the layer\n");
        return 1;
    }
    const auto requestOnce = [&] { return host.Render(request, provider).Ok(); };
    if (!requestOnce()) {  // and warm
        std::fprintf(stderr, "zarvo_request_timing: the request failed\n");
        return 1;
    }
    // Each run lasts at least half a second of CPU time, well above the
    // clock's resolution on any system.
    std::vector<double> perPixel;
    std::vector<double> systemShare;
    for (long r = 0; r < runs; ++r) {
        const CpuTime start = ProcessCpuTime();
        double elapsed = 0;
        double system = 0;
        long count = 0;
        do {
            if (!requestOnce()) {
                std::fprintf(stderr, "zarvo_request_timing: the request failed\n");
                return 1;
            }
            ++count;
            const CpuTime now = ProcessCpuTime();
            system = now.system - start.system;
            elapsed = now.user - start.user + system;
        } while (elapsed < 0.5);
        perPixel.push_back(elapsed / static_cast<double>(count) / static_cast<double>(size * size) * 1e9);
        systemShare.push_back(system / elapsed);
    }
    std::sort(perPixel.begin(), perPixel.end());
    std::sort(systemShare.begin(), systemShare.end());
    std::printf("%s %ld x %ld: %.3f ns per pixel (median of %ld runs, CPU time; %.0f%% system)\n", library.c_str(),
                size, size, perPixel[perPixel.size() / 2], runs, 100 * systemShare[systemShare.size() / 2]);
    return 0;
}
