#include "render/chunked_render.h"

#include <cstdio>

bool DrawPlan(RenderHost& host, const RenderPlan& plan, int32_t layerId, RasterOutput& output, ProgressStyle style,
              RenderTotals& totals, std::string& error) {
    uint64_t pixels = 0, done = 0;
    for (const Segment& segment : plan.segments) pixels += uint64_t{segment.columns} * segment.rows;
    Progress progress(style, stderr, "pixels");
    progress.Update(0, 1);
    for (const Segment& segment : plan.segments) {
        if (segment.nodata) {
            if (!output.WriteNodata(segment.column0, segment.row0, segment.columns, segment.rows, error)) return false;
        } else {
            DataRequestBlock request = segment.request;
            request.layerId = layerId;
            const RenderOutcome outcome = host.Render(request);
            ++totals.requests;
            totals.tiles += outcome.tiles;
            totals.tileBytes += outcome.tileBytes;
            if (outcome.missing > 0 && totals.missing == 0) totals.firstMissing = outcome.firstMissing;
            totals.missing += outcome.missing;
            if (!outcome.refusal.empty()) {
                error = outcome.refusal;
                return false;
            }
            if (outcome.requestResult != ZARVO_REQUEST_STARTED) {
                error = "request refused (" + std::to_string(outcome.requestResult) +
                        "): " + DescribeRequestResult(outcome.requestResult);
                return false;
            }
            if (outcome.eventResult != ZARVO_EVENT_RASTER_READY) {
                error = DescribeEventResult(outcome.eventResult, outcome.problem);
                return false;
            }
            const size_t stride = size_t{static_cast<uint32_t>(outcome.raster.width)} * 3;
            if (!output.Write(segment.column0, segment.row0, segment.columns, segment.rows,
                              outcome.raster.pixels.data(), stride, error)) {
                return false;
            }
        }
        done += uint64_t{segment.columns} * segment.rows;
        progress.Update(static_cast<size_t>(done * 1000 / pixels), 1000);
    }
    progress.Finish();
    return true;
}
