#include "host/work_pool.h"

WorkPool::WorkPool(size_t count, size_t capacity) : capacity(capacity) {
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) threads.emplace_back([this] { Run(); });
}

WorkPool::~WorkPool() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& thread : threads) thread.join();
}

bool WorkPool::TrySubmit(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (jobs.size() >= capacity) return false;
        jobs.push_back(std::move(job));
    }
    wake.notify_one();
    return true;
}

size_t WorkPool::Waiting() {
    const std::lock_guard<std::mutex> lock(mutex);
    return jobs.size();
}

void WorkPool::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (jobs.empty()) return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job();
    }
}
