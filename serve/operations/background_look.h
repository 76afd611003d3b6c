#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

// A value looked up on a thread of its own, as the look may wait for disks
// or the network, and never on the thread that asks for it: Current gives
// the last value found at once. On demand, Current has it looked up again
// when it is older than `fresh`; kept current, it is looked up again every
// `fresh` whether asked for or not, or less often when a look takes long
// (never more than a twentieth of the time spent looking). One look at a
// time; `look` must not throw.
template <typename Value>
class BackgroundLook {
public:
    using Clock = std::chrono::steady_clock;
    enum class Mode { OnDemand, KeptCurrent };

    BackgroundLook(std::function<Value()> look, Mode mode, Clock::duration fresh, Value first)
        : look(std::move(look)), mode(mode), fresh(fresh), value(std::make_shared<const Value>(std::move(first))),
          seen(Clock::now()), thread([this] { Run(); }) {}
    // Waits for a look in progress.
    ~BackgroundLook() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        thread.join();
    }
    BackgroundLook(const BackgroundLook&) = delete;
    BackgroundLook& operator=(const BackgroundLook&) = delete;

    std::shared_ptr<const Value> Current() {
        const std::lock_guard<std::mutex> lock(mutex);
        if (mode == Mode::OnDemand && Clock::now() - seen >= fresh) Ask();
        return value;
    }
    // Has it looked up again now, whatever its age.
    void LookNow() {
        const std::lock_guard<std::mutex> lock(mutex);
        Ask();
    }

private:
    void Ask() {
        asked = true;
        wake.notify_one();
    }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        Clock::duration took{};
        for (;;) {
            const auto due = [&] { return stopping || asked; };
            if (mode == Mode::KeptCurrent) {
                wake.wait_for(lock, std::max(fresh, 20 * took), due);
            } else {
                wake.wait(lock, due);
            }
            if (stopping) return;
            asked = false;
            lock.unlock();
            const Clock::time_point start = Clock::now();
            auto found = std::make_shared<const Value>(look());
            took = Clock::now() - start;
            lock.lock();
            value = std::move(found);
            seen = Clock::now();
        }
    }

    const std::function<Value()> look;
    const Mode mode;
    const Clock::duration fresh;
    std::mutex mutex;
    std::condition_variable wake;
    std::shared_ptr<const Value> value;
    Clock::time_point seen;
    bool asked = false;
    bool stopping = false;
    std::thread thread;  // last: starts once the rest is there
};
