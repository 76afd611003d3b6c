#include "render/progress.h"

#include <unistd.h>

#include <string>

#include "render/stop_signals.h"

namespace {

// `count` in the scale of `total`: "512" of "900", "0.5" of "1.2 million".
std::string Scaled(uint64_t count, uint64_t total, const char** scale) {
    static const char* const kScales[] = {"", " thousand", " million", " billion"};
    double divisor = 1;
    size_t step = 0;
    while (step + 1 < sizeof kScales / sizeof kScales[0] && static_cast<double>(total) >= divisor * 1000) {
        divisor *= 1000;
        ++step;
    }
    *scale = kScales[step];
    char text[32];
    if (step == 0) {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(count));
    } else {
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(count) / divisor);
    }
    return text;
}

}  // namespace

ProgressStyle ProgressStyleFor(std::FILE* stream, bool quiet) {
    if (quiet) return ProgressStyle::None;
    return isatty(fileno(stream)) != 0 ? ProgressStyle::Bar : ProgressStyle::Dots;
}

void Progress::Update(uint64_t done, uint64_t total) {
    if (style == ProgressStyle::None || finished || total == 0) return;
    SetErrorLineOpen(true);
    if (style == ProgressStyle::Bar) {
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == shown) return;
        shown = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : ' ';
        bar[kWidth] = '\0';
        const char* scale = "";
        const std::string of = Scaled(total, total, &scale);
        const std::string reached = Scaled(done, total, &scale);
        std::fprintf(stream, "\r[%s] %3d%% (%s of %s%s %s)", bar, percent, reached.c_str(), of.c_str(), scale, unit);
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
    std::fflush(stream);
}

void Progress::Finish(bool succeeded) {
    if (style == ProgressStyle::None || finished || shown < 0) return;
    finished = true;
    std::fputs(succeeded && style == ProgressStyle::Dots && shown == 40 ? " - done.\n" : "\n", stream);
    std::fflush(stream);
    SetErrorLineOpen(false);
}
