// Runs the benchmarks, then prints per raster size the ratios that matter,
// all measured in this one run: per-pixel path / fast path, and fast path /
// nearest-neighbour floor. Run with --benchmark_repetitions=N to have the
// ratios taken from the medians.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the median stands for its benchmark.
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                realTime[name] = run.GetAdjustedRealTime();
                fromMedian[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !fromMedian[name]) {
                realTime[name] = run.GetAdjustedRealTime();
            }
        }
    }

    void PrintRatios() const {
        std::printf("\nratios (same run, real time):\n");
        for (const char* size : {"256", "1024", "2048"}) {
            const double fast = Find(std::string("BM_FastPath/") + size);
            const double perPixel = Find(std::string("BM_PerPixelPath/") + size);
            const double floor = Find(std::string("BM_FloorGather/") + size);
            if (fast <= 0 || perPixel <= 0 || floor <= 0) continue;
            std::printf("  %4s x %-4s  per-pixel / fast = %6.2f   fast / floor = %5.2f\n", size, size,
                        perPixel / fast, fast / floor);
        }
    }

private:
    double Find(const std::string& name) const {
        const auto it = realTime.find(name);
        return it == realTime.end() ? 0 : it->second;
    }

    std::map<std::string, double> realTime;
    std::map<std::string, bool> fromMedian;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
