#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// How far a render has come, told the way the output is read:
enum class ProgressStyle {
    None,  // --quiet
    Bar,   // a terminal: one bar with its percentage and the count, redrawn in place
    Dots,  // a pipe or a log: "0...10...20...30...40...50...60...70...80...90...100 - done."
};

// On a terminal a bar, elsewhere dots; nothing when quiet.
ProgressStyle ProgressStyleFor(std::FILE* stream, bool quiet);

class Progress {
public:
    // `unit`: what is counted, "pixels".
    Progress(ProgressStyle style, std::FILE* stream, const char* unit) : style(style), stream(stream), unit(unit) {}

    // `done` of `total` ended. Prints only when the picture changes.
    void Update(uint64_t done, uint64_t total);
    // Ends the line, whatever was reached; " - done." only when the work
    // `succeeded` (a failure's line follows on a line of its own).
    void Finish(bool succeeded);

private:
    ProgressStyle style;
    std::FILE* stream;
    const char* unit;
    int shown = -1;  // bar: percent shown; dots: 2.5 % steps shown
    bool finished = false;
};
