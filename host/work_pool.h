#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed number of threads fed by a bounded queue. A job that finds the
// queue full is refused at once rather than waiting, so that the caller can
// say so; jobs must not throw.
class WorkPool {
public:
    WorkPool(size_t threads, size_t capacity);
    ~WorkPool();  // finishes every queued job, then joins
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // False when `capacity` jobs already wait.
    bool TrySubmit(std::function<void()> job);
    // Jobs waiting for a thread.
    size_t Waiting();

private:
    void Run();

    const size_t capacity;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    std::vector<std::thread> threads;
};
