#include "render/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <list>
#include <mutex>
#include <thread>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
// Wakes the waiting thread when the program ends; any other time it is
// let pass.
constexpr int kEndSignal = SIGUSR1;
std::atomic<bool> ending{false};

// The files a stop removes, each registered by the object that owns it.
// Recursive: a RemovedOnStop may end under a StopsDeferred of its thread.
std::recursive_mutex registryMutex;
std::list<std::string> registry;

std::atomic<bool> errorLineOpen{false};

// The StopsAsked living, if one does, and the signal that asked it.
std::mutex askMutex;
std::function<void(int)> asked;
std::atomic<int> askedBy{0};

// Asks the living StopsAsked's work to stop, if one lives and has not
// been asked before; whether it was.
bool AskToStop(int signal) {
    const std::lock_guard<std::mutex> lock(askMutex);
    if (!asked || askedBy != 0) return false;
    askedBy = signal;
    try {
        asked(signal);
    } catch (...) {
        // Nothing leaves this thread; the work still sees Received().
    }
    return true;
}

// Waits for a stop signal, then ends the program; the registry stays
// locked, so no file is put in place or released meanwhile.
void WaitForStop(sigset_t signals, std::string program) {
    int received = 0;
    do {
        if (sigwait(&signals, &received) != 0 || ending) return;
    } while (received == kEndSignal || AskToStop(received));
    registryMutex.lock();
    for (const std::string& path : registry) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    const std::string line =
        std::string(errorLineOpen ? "\n" : "") + program + ": stopped by " + SignalName(received) + "\n";
    // Straight to the descriptor: another thread may hold the stream's lock.
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Nothing more can be told.
    }
    _exit(128 + received);
}

}  // namespace

const char* SignalName(int signal) {
    switch (signal) {
        case SIGTERM: return "SIGTERM";
        case SIGINT: return "SIGINT";
        default: return "SIGHUP";
    }
}

StopSignals::StopSignals(const std::string& program) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, kEndSignal);
    for (int signal : kStopSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    waiter = std::thread(WaitForStop, signals, program);
}

StopSignals::~StopSignals() {
    ending = true;
    pthread_kill(waiter.native_handle(), kEndSignal);
    waiter.join();
}

RemovedOnStop::~RemovedOnStop() {
    Clear();
}

void RemovedOnStop::Add(const std::string& path) {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex);
    registry.push_back(path);
    paths.push_back(path);
}

void RemovedOnStop::Clear() {
    const std::lock_guard<std::recursive_mutex> lock(registryMutex);
    for (const std::string& path : paths) {
        const auto at = std::find(registry.begin(), registry.end(), path);
        if (at != registry.end()) registry.erase(at);
    }
    paths.clear();
}

StopsDeferred::StopsDeferred() {
    registryMutex.lock();
}

StopsDeferred::~StopsDeferred() {
    registryMutex.unlock();
}

StopsAsked::StopsAsked(std::function<void(int)> stop) {
    const std::lock_guard<std::mutex> lock(askMutex);
    asked = std::move(stop);
    askedBy = 0;
}

StopsAsked::~StopsAsked() {
    const std::lock_guard<std::mutex> lock(askMutex);
    asked = nullptr;
}

int StopsAsked::Received() const {
    return askedBy;
}

void SetErrorLineOpen(bool open) {
    errorLineOpen = open;
}
