// The PNG encoder's settings side by side on real map images: every
// libdeflate level and row filter asked for, and zlib as libpng drives it
// (the encoder before libdeflate), timed interleaved in CPU time on the
// same rasters. Prints one table row a setting: milliseconds and bytes per
// image, and both against zlib level 1 with the "up" filter.
//
// usage: zarvo_png_bench [--repetitions N] [--levels L,L,...] IMAGE.png...

#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/image_decoding.h"
#include "host/png_encoder.h"

namespace {

struct Setting {
    bool zlib;  // zlib as libpng drives it, else libdeflate through EncodePng
    int level;
    PngFilter filter;
};

const char* FilterName(PngFilter filter) {
    static const char* const names[] = {"none", "sub", "up", "average", "paeth", "adaptive"};
    return names[static_cast<int>(filter)];
}

double CpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The rows filtered as EncodePng filters them, compressed by zlib with the
// strategy libpng picks for filtered rows; the stream's length.
size_t ZlibBytes(const RgbImage& image, int level, PngFilter filter) {
    const uint32_t width = static_cast<uint32_t>(image.width), height = static_cast<uint32_t>(image.height);
    const size_t filteredBytes = size_t{height} * (size_t{width} * 3 + 1);
    std::vector<uint8_t> filtered(filteredBytes);
    FilterPngRows(image.pixels.data(), width, height, filter, filtered.data());
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15, 8, filter == PngFilter::None ? Z_DEFAULT_STRATEGY : Z_FILTERED) !=
        Z_OK) {
        return 0;
    }
    std::vector<uint8_t> out(deflateBound(&stream, filteredBytes));
    stream.next_in = filtered.data();
    stream.avail_in = static_cast<uInt>(filteredBytes);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const size_t bytes = stream.total_out;
    deflateEnd(&stream);
    return result == Z_STREAM_END ? bytes : 0;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "zarvo_png_bench: %s\n", message.c_str());
    return 1;
}

bool ParseLevels(const std::string& text, std::vector<int>& levels) {
    std::stringstream list(text);
    std::string item;
    levels.clear();
    while (std::getline(list, item, ',')) {
        char* end = nullptr;
        const long level = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || level < 0 || level > 12) return false;
        levels.push_back(static_cast<int>(level));
    }
    return !levels.empty();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int repetitions = 5;
    std::vector<int> levels = {1, 2, 3, 4, 6, 9, 12};
    std::vector<RgbImage> images;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--repetitions" && i + 1 < argc) {
            repetitions = std::atoi(argv[++i]);
            if (repetitions < 1 || repetitions > 100) return Fail("--repetitions must be 1 to 100");
        } else if (argument == "--levels" && i + 1 < argc) {
            if (!ParseLevels(argv[++i], levels)) return Fail("--levels takes levels 0 to 12, as in 1,2,6");
        } else if (argument.rfind("--", 0) == 0) {
            return Fail("usage: zarvo_png_bench [--repetitions N] [--levels L,L,...] IMAGE.png...");
        } else {
            std::vector<uint8_t> file;
            RgbImage image;
            std::string error;
            if (!ReadFile(argument, file)) return Fail("cannot read " + argument);
            if (!DecodeImage(file, ImageLimits{8192, 8192}, image, error)) return Fail(argument + ": " + error);
            images.push_back(std::move(image));
        }
    }
    if (images.empty()) return Fail("no images given (PNG or JPEG files)");

    const PngFilter filters[] = {PngFilter::None, PngFilter::Sub,   PngFilter::Up,
                                 PngFilter::Average, PngFilter::Paeth, PngFilter::Adaptive};
    std::vector<Setting> settings;
    for (int level : {1, 6}) {
        for (PngFilter filter : {PngFilter::Up, PngFilter::Adaptive}) settings.push_back({true, level, filter});
    }
    for (int level : levels) {
        for (PngFilter filter : filters) settings.push_back({false, level, filter});
    }

    // times[setting][image] over the repetitions; bytes[setting] summed over the images.
    std::vector<std::vector<std::vector<double>>> times(settings.size(),
                                                        std::vector<std::vector<double>>(images.size()));
    std::vector<double> bytes(settings.size(), 0);
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (size_t s = 0; s < settings.size(); ++s) {
            const Setting& setting = settings[s];
            for (size_t i = 0; i < images.size(); ++i) {
                const RgbImage& image = images[i];
                std::vector<uint8_t> encoded;
                std::string error;
                const double started = CpuMilliseconds();
                size_t length = 0;
                if (setting.zlib) {
                    length = ZlibBytes(image, setting.level, setting.filter);
                } else if (EncodePng(image, PngSettings{setting.level, setting.filter}, encoded, error)) {
                    length = encoded.size();
                }
                times[s][i].push_back(CpuMilliseconds() - started);
                if (length == 0) return Fail("cannot encode: " + error);
                if (repetition > 0) continue;
                bytes[s] += static_cast<double>(length);
                // Each setting's files must give back the pixels.
                RgbImage decoded;
                if (!setting.zlib && (!DecodeImage(encoded, ImageLimits{8192, 8192}, decoded, error) ||
                                      decoded.pixels != image.pixels)) {
                    return Fail(std::string("level ") + std::to_string(setting.level) + " filter " +
                                FilterName(setting.filter) + " does not give the pixels back " + error);
                }
            }
        }
    }

    std::vector<double> milliseconds(settings.size());
    for (size_t s = 0; s < settings.size(); ++s) {
        double sum = 0;
        for (const std::vector<double>& perImage : times[s]) sum += Median(perImage);
        milliseconds[s] = sum / static_cast<double>(images.size());
        bytes[s] /= static_cast<double>(images.size());
    }
    const size_t reference = 0;  // zlib level 1, "up"
    std::printf("%zu images, %d repetitions; ms: CPU time per image (median of the repetitions, mean over the images)\n\n",
                images.size(), repetitions);
    std::printf("| deflate | level | filter | ms per image | kB per image | time / zlib 1 up | size / zlib 1 up |\n");
    std::printf("|---|---:|---|---:|---:|---:|---:|\n");
    for (size_t s = 0; s < settings.size(); ++s) {
        std::printf("| %s | %d | %s | %.2f | %.1f | %.2f | %.3f |\n", settings[s].zlib ? "zlib" : "libdeflate",
                    settings[s].level, FilterName(settings[s].filter), milliseconds[s], bytes[s] / 1024,
                    milliseconds[s] / milliseconds[reference], bytes[s] / bytes[reference]);
    }
    return 0;
}
