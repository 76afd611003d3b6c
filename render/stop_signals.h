#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How a program that writes files ends when it is told to stop: SIGTERM (a
// scheduler ending a job), SIGINT (Ctrl-C) or SIGHUP (a terminal closed).
// One thread of its own waits for them; on one, it removes the files the
// program has not finished, prints "PROGRAM: stopped by SIGTERM" and exits
// with status 128 + the signal's number (143). A signal the program was
// started ignoring (nohup's SIGHUP) stays ignored.

// The waiting thread, for the program's run: made first in main, before
// any other thread starts, so that every thread inherits the mask and only
// it sees the signals; it ends with the object.
class StopSignals {
public:
    explicit StopSignals(const std::string& program);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::thread waiter;
};

// Files removed if the program is stopped while this object lives: the
// temporary files of an output on its way. A stop waits for a
// StopsDeferred, so a file renamed into place under one is never removed.
class RemovedOnStop {
public:
    RemovedOnStop() = default;
    ~RemovedOnStop();
    RemovedOnStop(const RemovedOnStop&) = delete;
    RemovedOnStop& operator=(const RemovedOnStop&) = delete;

    // `path` is removed on a stop: a file, or a directory with the files in it.
    void Add(const std::string& path);
    // Nothing is removed on a stop any more.
    void Clear();

private:
    std::vector<std::string> paths;
};

// Held while files are put in place: a stop that comes meanwhile waits until
// it is released, so it finds each file either a temporary or in place.
class StopsDeferred {
public:
    StopsDeferred();
    ~StopsDeferred();
    StopsDeferred(const StopsDeferred&) = delete;
    StopsDeferred& operator=(const StopsDeferred&) = delete;
};

// While one lives, a stop signal asks the work to end instead of ending
// the program: the first calls `stop` (the work ends at its next step and
// keeps what it finished, as a pyramid's package does); another ends the
// program as a stop does when none lives. Make it on the thread that
// drives the work; `stop` is never called once it is gone.
class StopsAsked {
public:
    explicit StopsAsked(std::function<void(int signal)> stop);
    ~StopsAsked();
    StopsAsked(const StopsAsked&) = delete;
    StopsAsked& operator=(const StopsAsked&) = delete;

    // The signal that asked, or 0.
    int Received() const;
};

// "SIGTERM", "SIGINT" or "SIGHUP".
const char* SignalName(int signal);

// Whether standard error has a line open (a progress display's): the stop's
// line then begins on a new one.
void SetErrorLineOpen(bool open);
