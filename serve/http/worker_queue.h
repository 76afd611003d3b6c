#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serve/http/http_exchange.h"

// Heavy requests waiting for the workers, and the workers. A request is
// admitted only when it is expected to end within the admission wait and
// before its deadline, counting the work queued ahead of it and the work in
// progress at the rate work has been measured to go; the rest is refused at
// once. What waits holds only its job (the request's head), never an image.
//
// Waiting work is taken cheapest first, for a while: a job's place is its
// arrival plus a multiple of its expected time (at most half the admission
// wait), so that a small map is not held up behind a burst of large ones,
// and a stream of small ones does not starve a large one for long.
class WorkerQueue {
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        size_t workers = 2;
        size_t capacity = 1024;  // jobs waiting at most, whatever their cost
        Clock::duration admissionWait = std::chrono::seconds(5);
    };

    class Ticket;

    struct Admission {
        std::shared_ptr<Ticket> ticket;  // null: refused
        // Refused: how long the work already admitted is expected to take
        // the workers. Admitted: the latest start from which the job can
        // still end by its deadline.
        Clock::duration backlog{};
        Clock::time_point latestStart = Clock::time_point::max();
    };

    explicit WorkerQueue(const Settings& settings);
    // Waits for the jobs in progress; a job still waiting is dropped unrun.
    ~WorkerQueue();
    WorkerQueue(const WorkerQueue&) = delete;
    WorkerQueue& operator=(const WorkerQueue&) = delete;

    // From any thread. `job` runs on a worker and must not throw.
    Admission Admit(const WorkCost& cost, Clock::time_point deadline, std::function<void()> job);
    // Takes a waiting job back, unrun; false when a worker has it already.
    bool Withdraw(const Ticket& ticket);

    size_t Waiting() const;
    // What work has taken for each second guessed (1 before any has ended).
    double ComputeFactor() const;
    double WaitFactor() const;

private:
    // Guessed and measured seconds of recent work of one kind, older work
    // counting less, from a start of one guessed second taking one.
    struct Rate {
        double guessed = 1.0, took = 1.0;
        double Factor() const;
        void Learn(double guess, double seconds);
    };

    void Work();
    double Expected(const WorkCost& cost) const;  // with the mutex held

    const Settings settings;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::multimap<Clock::time_point, std::shared_ptr<Ticket>> waiting;  // by place
    std::vector<std::shared_ptr<Ticket>> running;
    Rate compute, wait;
    bool stopping = false;
    std::vector<std::thread> workers;
};
