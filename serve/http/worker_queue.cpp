#include "serve/http/worker_queue.h"

#include <algorithm>

namespace {

// How many times its own expected time a job may be overtaken by cheaper
// work that arrives after it.
constexpr double kOvertaking = 100;
// How much one more job weighs against all the work learnt from before it.
constexpr double kKeep = 0.97;
// The factors stay within these, whatever a stalled source or an idle
// machine shows for a while.
constexpr double kLeastFactor = 0.05;
constexpr double kMostFactor = 1000;

// Work expected to take longer than this is taken as taking this long.
constexpr double kLongestExpected = 86400;

using Seconds = std::chrono::duration<double>;

}  // namespace

class WorkerQueue::Ticket {
public:
    enum class State { Waiting, Running, Ended };

private:
    friend class WorkerQueue;
    WorkCost cost;
    double expected = 0;  // seconds, as corrected when admitted
    std::function<void()> job;
    State state = State::Waiting;
    std::multimap<Clock::time_point, std::shared_ptr<Ticket>>::iterator place;
    Clock::time_point started;
};

double WorkerQueue::Rate::Factor() const {
    return std::clamp(took / guessed, kLeastFactor, kMostFactor);
}

void WorkerQueue::Rate::Learn(double guess, double seconds) {
    guessed = guessed * kKeep + guess;
    took = took * kKeep + seconds;
}

WorkerQueue::WorkerQueue(const Settings& settings) : settings(settings) {
    workers.reserve(settings.workers);
    for (size_t i = 0; i < settings.workers; ++i) workers.emplace_back([this] { Work(); });
}

WorkerQueue::~WorkerQueue() {
    std::multimap<Clock::time_point, std::shared_ptr<Ticket>> dropped;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        dropped.swap(waiting);
    }
    wake.notify_all();
    for (std::thread& worker : workers) worker.join();
}

double WorkerQueue::Expected(const WorkCost& cost) const {
    const double seconds =
        std::max(0.0, cost.computeSeconds) * compute.Factor() + std::max(0.0, cost.waitSeconds) * wait.Factor();
    return std::min(seconds, kLongestExpected);  // so that no duration made from it overflows
}

WorkerQueue::Admission WorkerQueue::Admit(const WorkCost& cost, Clock::time_point deadline, std::function<void()> job) {
    const Clock::time_point now = Clock::now();
    Admission admission;
    const std::lock_guard<std::mutex> lock(mutex);
    const double expected = Expected(cost);
    const auto overtaking = std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(
                                                          Seconds(kOvertaking * expected)),
                                                      settings.admissionWait / 2);
    const Clock::time_point place = now + overtaking;
    double ahead = 0, all = 0;
    for (const auto& [key, ticket] : waiting) {
        all += ticket->expected;
        if (key <= place) ahead += ticket->expected;
    }
    for (const auto& ticket : running) {
        const double left = std::max(0.0, ticket->expected - Seconds(now - ticket->started).count());
        all += left;
        ahead += left;
    }
    const double workers = static_cast<double>(std::max<size_t>(1, settings.workers));
    const auto end = now + std::chrono::duration_cast<Clock::duration>(Seconds(ahead / workers + expected));
    if (waiting.size() >= settings.capacity || end > now + settings.admissionWait || end > deadline) {
        admission.backlog = std::chrono::duration_cast<Clock::duration>(Seconds(all / workers));
        return admission;
    }
    auto ticket = std::make_shared<Ticket>();
    ticket->cost = cost;
    ticket->expected = expected;
    ticket->job = std::move(job);
    ticket->place = waiting.emplace(place, ticket);
    if (deadline != Clock::time_point::max()) {
        admission.latestStart = deadline - std::chrono::duration_cast<Clock::duration>(Seconds(expected));
    }
    admission.ticket = std::move(ticket);
    wake.notify_one();
    return admission;
}

bool WorkerQueue::Withdraw(const Ticket& ticket) {
    std::function<void()> dropped;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (ticket.state != Ticket::State::Waiting || stopping) return false;
        const std::shared_ptr<Ticket> held = ticket.place->second;
        held->state = Ticket::State::Ended;
        dropped = std::move(held->job);
        waiting.erase(held->place);
    }
    return true;  // the job goes here, outside the lock
}

size_t WorkerQueue::Waiting() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return waiting.size();
}

double WorkerQueue::ComputeFactor() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return compute.Factor();
}

double WorkerQueue::WaitFactor() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return wait.Factor();
}

void WorkerQueue::Work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !waiting.empty(); });
        if (stopping) return;
        const std::shared_ptr<Ticket> ticket = waiting.begin()->second;
        waiting.erase(waiting.begin());
        ticket->state = Ticket::State::Running;
        ticket->started = Clock::now();
        running.push_back(ticket);
        std::function<void()> job = std::move(ticket->job);
        lock.unlock();
        job();
        job = nullptr;
        const double took = Seconds(Clock::now() - ticket->started).count();
        lock.lock();
        ticket->state = Ticket::State::Ended;
        running.erase(std::find(running.begin(), running.end(), ticket));
        // Work that waited for nothing outside shows the rate of computing;
        // the rest shows, beyond that, the rate of waiting.
        const double computing = std::max(0.0, ticket->cost.computeSeconds);
        if (ticket->cost.waitSeconds <= 0) {
            compute.Learn(computing, took);
        } else {
            wait.Learn(ticket->cost.waitSeconds, std::max(0.0, took - computing * compute.Factor()));
        }
    }
}
