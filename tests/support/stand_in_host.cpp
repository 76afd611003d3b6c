#include "tests/support/stand_in_host.h"

#include <cstring>

StandInHost::StandInHost(const PluginApi& api) : api(api) {}

StandInHost::~StandInHost() {
    JoinWorkers();
}

void StandInHost::RegisterCallbacks() {
    api.setDownloadCallback(&StandInHost::OnDownload, this);
    api.setEventCallback(&StandInHost::OnEvent, this);
}

StandInHost::CompletedJob* StandInHost::PrepareCompletion(const DataRequestBlock& request, size_t tileCount) {
    std::lock_guard<std::mutex> lock(mutex);
    completed.emplace_back();
    CompletedJob& c = completed.back();
    c.tiles.AddTiles(tileCount, bytesPerPixel, PatternFill);
    c.job = ::CompletedJob(request, c.tiles.Images());
    return &c;
}

int32_t KVL_CALL StandInHost::OnDownload(DownloadJob* job, DownloadDoneFn done, void* context) {
    auto* host = static_cast<StandInHost*>(context);
    OutgoingJob copy{};
    std::memcpy(copy.requestBytes.data(), &job->request, sizeof(DataRequestBlock));
    copy.urls = CopyAddresses(*job);
    copy.itemCount = job->itemCount;
    copy.jobWordA = job->jobWordA;
    copy.jobWordB = job->jobWordB;
    copy.done = done;
    copy.context = context;
    {
        std::lock_guard<std::mutex> lock(host->mutex);
        host->outgoing.push_back(copy);
    }
    if (host->acceptResult == 0) {
        return 0;
    }
    CompletedJob* completion = host->PrepareCompletion(job->request, copy.urls.size());
    const int32_t status = host->completionStatus;
    switch (host->completion) {
        case Completion::InsideCallback:
            done(status, &completion->job);
            break;
        case Completion::WorkerThread: {
            std::lock_guard<std::mutex> lock(host->mutex);
            host->workers.emplace_back([=] { done(status, &completion->job); });
            break;
        }
        case Completion::Later: {
            std::lock_guard<std::mutex> lock(host->mutex);
            host->pending.emplace_back(completion, done);
            break;
        }
    }
    return host->acceptResult;
}

void KVL_CALL StandInHost::OnEvent(int32_t result, DownloadJob* job, LayerImage* image, void* context) {
    auto* host = static_cast<StandInHost*>(context);
    HostEvent event{result, job, *image, {}, context};
    RgbImage raster;
    CopyRaster(*image, raster);
    event.raster = std::move(raster.pixels);
    std::lock_guard<std::mutex> lock(host->mutex);
    host->events.push_back(std::move(event));
}

void StandInHost::CompletePending() {
    std::vector<std::pair<CompletedJob*, DownloadDoneFn>> jobs;
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.swap(pending);
    }
    for (auto& entry : jobs) {
        entry.second(completionStatus, &entry.first->job);
    }
}

void StandInHost::JoinWorkers() {
    for (;;) {
        std::vector<std::thread> running;
        {
            std::lock_guard<std::mutex> lock(mutex);
            running.swap(workers);
        }
        if (running.empty()) {
            return;
        }
        for (std::thread& t : running) {
            t.join();
        }
    }
}

std::vector<OutgoingJob> StandInHost::Outgoing() {
    std::lock_guard<std::mutex> lock(mutex);
    return outgoing;
}

std::vector<HostEvent> StandInHost::Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}
