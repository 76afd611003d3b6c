#pragma once

#include <cstddef>
#include <cstdio>

// How far the tile intake has come, told the way the output is read:
enum class ProgressStyle {
    None,  // --quiet
    Bar,   // a terminal: one bar with its percentage, redrawn in place
    Dots,  // a pipe or a log: "0...10...20...30...40...50...60...70...80...90...100 - done."
};

// On a terminal a bar, elsewhere dots; nothing when quiet.
ProgressStyle ProgressStyleFor(std::FILE* stream, bool quiet);

class Progress {
public:
    Progress(ProgressStyle style, std::FILE* stream, const char* what) : style(style), stream(stream), what(what) {}

    // `done` of `total` ended. Prints only when the picture changes.
    void Update(size_t done, size_t total);
    // Ends the line, whatever was reached.
    void Finish();

private:
    ProgressStyle style;
    std::FILE* stream;
    const char* what;
    int shown = -1;  // bar: percent shown; dots: 2.5 % steps shown
    bool finished = false;
};
