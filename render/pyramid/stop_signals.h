#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

// SIGINT, SIGTERM and SIGHUP, taken on a thread of their own for as long as
// this lives, so that a drawing stopped by the user or by a scheduler ends
// cleanly: the first signal calls `stop`, which asks the work to end; a
// second one calls `again`, for a user who will not wait. A signal the
// program was started ignoring (nohup's SIGHUP) stays ignored. Make it before
// any other thread starts: the threads made after it inherit the blocked
// signals, and only its own thread takes them.
class StopSignals {
public:
    StopSignals(std::function<void(int signal)> stop, std::function<void(int signal)> again);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first signal taken, or 0.
    int Received() const { return received.load(); }

private:
    void Wait();

    const std::function<void(int)> stop, again;
    sigset_t signals;
    std::atomic<int> received{0};
    std::atomic<bool> closing{false};
    std::thread waiter;
};

// "SIGINT", "SIGTERM", "SIGHUP".
const char* SignalName(int signal);
