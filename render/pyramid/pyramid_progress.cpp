#include "render/pyramid/pyramid_progress.h"

#include <cmath>

namespace {

// A terminal line is redrawn at most this often.
constexpr std::chrono::milliseconds kRedraw{200};
// Rates are measured over at least this long a stretch.
constexpr std::chrono::seconds kWindow{5};

}  // namespace

std::string DurationText(double seconds) {
    const long long s = std::llround(std::max(0.0, seconds));
    char text[48];
    if (s < 60) {
        std::snprintf(text, sizeof text, "%lld s", s);
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s / 60 % 60);
    }
    return text;
}

PyramidProgress::PyramidProgress(ProgressStyle style, std::FILE* stream, uint64_t total)
    : style(style), stream(stream), total(total) {
    older.at = recent.at = shownAt = Clock::now();
}

std::string PyramidProgress::Line(uint64_t done, uint64_t drawn, Clock::time_point now) {
    if (now - recent.at >= kWindow) {
        older = recent;
        recent = Sample{now, done, drawn};
    }
    const double seconds = std::chrono::duration<double>(now - older.at).count();
    char text[160];
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    int length = std::snprintf(text, sizeof text, "tiles %3d%% (%llu of %llu)", percent,
                               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    if (seconds >= 1 && done > older.done) {
        const double drawnRate = static_cast<double>(drawn - older.drawn) / seconds;
        const double doneRate = static_cast<double>(done - older.done) / seconds;
        std::snprintf(text + length, sizeof text - length, ", %.0f tiles/s, %s left", drawnRate,
                      DurationText(static_cast<double>(total - done) / doneRate).c_str());
    }
    return text;
}

void PyramidProgress::Update(uint64_t done, uint64_t drawn) {
    if (style == ProgressStyle::None || finished) return;
    const Clock::time_point now = Clock::now();
    if (style == ProgressStyle::Bar) {
        if (now - shownAt < kRedraw && done < total) return;
        shownAt = now;
        std::fprintf(stream, "\r%-78s", Line(done, drawn, now).c_str());
        std::fflush(stream);
        return;
    }
    const int tenths = total == 0 ? 10 : static_cast<int>(done * 10 / total);
    if (tenths <= tenthsShown) {
        Line(done, drawn, now);  // keeps the rate's window moving
        return;
    }
    tenthsShown = tenths;
    std::fprintf(stream, "%s\n", Line(done, drawn, now).c_str());
    std::fflush(stream);
}

void PyramidProgress::Finish() {
    if (style != ProgressStyle::Bar || finished) return;
    finished = true;
    std::fputc('\n', stream);
    std::fflush(stream);
}
