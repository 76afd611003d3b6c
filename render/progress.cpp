#include "render/progress.h"

#include <unistd.h>

ProgressStyle ProgressStyleFor(std::FILE* stream, bool quiet) {
    if (quiet) return ProgressStyle::None;
    return isatty(fileno(stream)) != 0 ? ProgressStyle::Bar : ProgressStyle::Dots;
}

void Progress::Update(size_t done, size_t total) {
    if (style == ProgressStyle::None || finished || total == 0) return;
    if (style == ProgressStyle::Bar) {
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == shown) return;
        shown = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : ' ';
        bar[kWidth] = '\0';
        std::fprintf(stream, "\r%s [%s] %3d%% (%zu of %zu)", what, bar, percent, done, total);
        std::fflush(stream);
        return;
    }
    // Dots: one mark per 2.5 %, a number every 10 %.
    const int step = static_cast<int>(done * 40 / total);
    while (shown < step) {
        ++shown;
        if (shown % 4 == 0) {
            std::fprintf(stream, "%d", shown / 4 * 10);
        } else {
            std::fputc('.', stream);
        }
    }
    if (step == 40) {
        std::fprintf(stream, " - done.\n");
        finished = true;
    }
    std::fflush(stream);
}

void Progress::Finish() {
    if (style == ProgressStyle::None || finished) return;
    finished = true;
    std::fputc('\n', stream);
    std::fflush(stream);
}
