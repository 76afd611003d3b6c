#include "render/pyramid/stop_signals.h"

#include <pthread.h>

#include <ctime>

namespace {

// How long the waiting thread sleeps between looks at `closing`.
constexpr long kLookNanoseconds = 100 * 1000 * 1000;

}  // namespace

const char* SignalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

StopSignals::StopSignals(std::function<void(int)> stop, std::function<void(int)> again)
    : stop(std::move(stop)), again(std::move(again)) {
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // One the program was started ignoring (nohup's SIGHUP) stays so.
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    waiter = std::thread([this] { Wait(); });
}

StopSignals::~StopSignals() {
    closing = true;
    waiter.join();
    // The signals stay blocked: one that comes now waits for the exit,
    // which is near, instead of ending the process half way through it.
}

void StopSignals::Wait() {
    const timespec look{0, kLookNanoseconds};
    while (!closing) {
        const int signal = sigtimedwait(&signals, nullptr, &look);
        if (signal < 0) continue;  // EAGAIN (none yet) or EINTR
        int none = 0;
        const bool first = received.compare_exchange_strong(none, signal);
        try {
            first ? stop(signal) : again(signal);
        } catch (...) {
            // Nothing leaves this thread; the work still sees Received().
        }
    }
}
