#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "render/progress.h"

// The one progress display of a pyramid: the tiles done (drawn, present or
// empty) of the part's, the tiles drawn per second and the time left. On a
// terminal one line redrawn in place, a few times a second; in a log a line
// at each tenth. Not thread-safe: its caller serialises the updates.
class PyramidProgress {
public:
    using Clock = std::chrono::steady_clock;

    PyramidProgress(ProgressStyle style, std::FILE* stream, uint64_t total);

    void Update(uint64_t done, uint64_t drawn);
    // Ends the line on a terminal, whatever was reached.
    void Finish();

private:
    // Rates over the last few seconds, so that tiles skipped as present at
    // the start of a resumed run do not make the time left look short.
    struct Sample {
        Clock::time_point at;
        uint64_t done = 0, drawn = 0;
    };
    std::string Line(uint64_t done, uint64_t drawn, Clock::time_point now);

    const ProgressStyle style;
    std::FILE* const stream;
    const uint64_t total;
    Sample older, recent;
    Clock::time_point shownAt;
    int tenthsShown = 0;
    bool finished = false;
};

// "45 s", "12 min 05 s", "3 h 07 min".
std::string DurationText(double seconds);
