#include "render/chunked_render.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class PlanDrawing {
public:
    PlanDrawing(PluginHost& host, const RenderPlan& plan, const TileSourceFactory& sources,
                const DrawSettings& settings, RasterOutput& output, RenderTotals& totals)
        : host(host), plan(plan), sources(sources), settings(settings), output(output), totals(totals) {
        for (const Segment& segment : plan.segments) pixels += uint64_t{segment.columns} * segment.rows;
    }

    bool Run(std::string& error) {
        Tell();
        std::vector<std::thread> threads;
        const unsigned count = std::max(1u, settings.threads);
        for (unsigned t = 1; t < count; ++t) threads.emplace_back([this] { Work(); });
        Work();
        for (std::thread& thread : threads) thread.join();
        error = failure;
        return failedAt == SIZE_MAX;
    }

private:
    // One drawing thread; nothing thrown leaves it.
    void Work() {
        try {
            std::string problem;
            const std::unique_ptr<TileSource> source = sources(problem);
            if (!source) return Fail(0, problem);
            for (size_t i = next++; i < plan.segments.size() && !stop; i = next++) {
                Draw(i, *source);
            }
        } catch (const std::exception& e) {
            Fail(0, std::string("failed: ") + e.what());
        } catch (...) {
            Fail(0, "failed");
        }
    }

    void Draw(size_t index, TileSource& source) {
        const Segment& segment = plan.segments[index];
        std::string problem;
        if (segment.nodata) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!output.WriteNodata(segment.column0, segment.row0, segment.columns, segment.rows, problem)) {
                return FailLocked(index, problem);
            }
            return Advance(segment);
        }
        DataRequestBlock request = segment.request;
        request.layerId = settings.layerId;
        IntakeReport report;
        const RenderOutcome outcome = host.Render(request, RenderTileProvider(source, settings.render, request, report));
        const std::lock_guard<std::mutex> lock(mutex);
        ++totals.requests;
        totals.tiles += report.tiles;
        totals.tileBytes += report.tileBytes;
        totals.missing += report.missing;
        if (report.missing > 0 && index < firstMissingAt) {
            firstMissingAt = index;
            totals.firstMissing = report.firstMissing;
        }
        if (!outcome.Ok()) return FailLocked(index, outcome.message);
        const size_t stride = size_t{static_cast<uint32_t>(outcome.raster.width)} * 3;
        if (!output.Write(segment.column0, segment.row0, segment.columns, segment.rows, outcome.raster.pixels.data(),
                          stride, problem)) {
            return FailLocked(index, problem);
        }
        Advance(segment);
    }

    void Advance(const Segment& segment) {
        done += uint64_t{segment.columns} * segment.rows;
        Tell();
    }

    void Tell() {
        if (settings.progress != nullptr) settings.progress->Update(done, pixels);
    }

    void Fail(size_t index, const std::string& problem) {
        const std::lock_guard<std::mutex> lock(mutex);
        FailLocked(index, problem);
    }

    void FailLocked(size_t index, const std::string& problem) {
        stop = true;
        if (index < failedAt) {
            failedAt = index;
            failure = problem;
        }
    }

    PluginHost& host;
    const RenderPlan& plan;
    const TileSourceFactory& sources;
    const DrawSettings& settings;
    RasterOutput& output;
    RenderTotals& totals;

    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;  // the output, the totals, the progress and the failure
    uint64_t pixels = 0, done = 0;
    size_t firstMissingAt = SIZE_MAX;
    size_t failedAt = SIZE_MAX;
    std::string failure;
};

}  // namespace

bool DrawPlan(PluginHost& host, const RenderPlan& plan, const TileSourceFactory& sources, const DrawSettings& settings,
              RasterOutput& output, RenderTotals& totals, std::string& error) {
    PlanDrawing drawing(host, plan, sources, settings, output, totals);
    return drawing.Run(error);
}
