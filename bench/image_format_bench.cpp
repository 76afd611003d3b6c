// The image formats side by side on real map images, layer by layer: PNG
// and JPEG as answers are written, WebP lossy at each quality and method
// asked for and WebP lossless at each effort and method, timed interleaved
// in CPU time on the same rasters. Prints one table a layer: milliseconds
// and bytes per image, both against PNG, and how far each lossy file's
// pixels lie from the image (mean absolute difference over the bands, 0 to
// 255, and the share of pixels changed enough to be seen); "answers" marks
// the settings zarvo-serve answers with.
//
// Each image's layer is its file name up to the first '-' (map-3.png).
//
// usage: zarvo_image_format_bench [--repetitions N] [--lossy Q:M,...] [--lossless E:M,...] IMAGE.png...

#include <time.h>
#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/image_decoding.h"
#include "host/jpeg_encoder.h"
#include "host/png_encoder.h"
#include "host/webp_encoder.h"
#include "serve/drawing/image_formats.h"

namespace {

struct Setting {
    ImageEncoding encoding;
    std::string name;
};

struct Image {
    std::string layer;
    RgbImage pixels;
};

double CpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "zarvo_image_format_bench: %s\n", message.c_str());
    return 1;
}

bool Encode(const RgbImage& image, const ImageEncoding& encoding, std::vector<uint8_t>& encoded, std::string& error) {
    switch (encoding.codec) {
        case ImageCodec::Png: return EncodePng(image, PngCompression::Fast, encoded, error);
        case ImageCodec::Jpeg: return EncodeJpeg(image, encoding.quality, encoded, error);
        default:
            return EncodeWebp(
                image, WebpSettings{encoding.codec == ImageCodec::WebpLossless, encoding.quality, encoding.method},
                encoded, error);
    }
}

bool Decode(const std::vector<uint8_t>& file, ImageCodec codec, RgbImage& image, std::string& error) {
    if (codec == ImageCodec::Png || codec == ImageCodec::Jpeg) {
        return DecodeImage(file, ImageLimits{8192, 8192}, image, error);
    }
    int width = 0, height = 0;
    uint8_t* rgb = WebPDecodeRGB(file.data(), file.size(), &width, &height);
    if (rgb == nullptr) {
        error = "cannot decode the WebP file";
        return false;
    }
    image.width = width;
    image.height = height;
    image.pixels.assign(rgb, rgb + size_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 3);
    WebPFree(rgb);
    return true;
}

// A difference this large in a band is seen: a line or a letter's edge
// smeared, a colour shifted.
constexpr int kVisible = 16;

struct Difference {
    double mean = 0;     // absolute, over the bands
    double visible = 0;  // share of pixels with a band off by more than kVisible
};

Difference DifferenceOf(const RgbImage& a, const RgbImage& b) {
    Difference difference;
    size_t visible = 0;
    for (size_t i = 0; i < a.pixels.size(); i += 3) {
        int largest = 0;
        for (size_t c = i; c < i + 3; ++c) {
            const int d = std::abs(int{a.pixels[c]} - int{b.pixels[c]});
            difference.mean += d;
            largest = std::max(largest, d);
        }
        visible += largest > kVisible;
    }
    difference.mean /= static_cast<double>(a.pixels.size());
    difference.visible = static_cast<double>(visible) / static_cast<double>(a.pixels.size() / 3);
    return difference;
}

// "Q:M,Q:M" into WebP settings of the codec.
bool ParseWebp(const std::string& text, ImageCodec codec, std::vector<Setting>& settings) {
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        int quality = -1, method = -1;
        char colon = 0;
        std::stringstream in(item);
        if (!(in >> quality >> colon >> method) || colon != ':' || !in.eof() || quality < 0 || quality > 100 ||
            method < 0 || method > 6) {
            return false;
        }
        const bool lossless = codec == ImageCodec::WebpLossless;
        settings.push_back({{codec, quality, method},
                            std::string(lossless ? "WebP lossless, effort " : "WebP lossy, quality ") +
                                std::to_string(quality) + ", method " + std::to_string(method)});
    }
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool Same(const ImageEncoding& a, const ImageEncoding& b) {
    return a.codec == b.codec && (a.codec == ImageCodec::Png || a.quality == b.quality) &&
           (a.codec == ImageCodec::Png || a.codec == ImageCodec::Jpeg || a.method == b.method);
}

}  // namespace

int main(int argc, char** argv) {
    int repetitions = 3;
    std::string lossy = "75:0,80:0,85:0,90:0,85:2,85:4", lossless = "0:1,25:1,50:1,75:4";
    std::vector<Image> images;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--repetitions" && i + 1 < argc) {
            repetitions = std::atoi(argv[++i]);
            if (repetitions < 1 || repetitions > 100) return Fail("--repetitions must be 1 to 100");
        } else if (argument == "--lossy" && i + 1 < argc) {
            lossy = argv[++i];
        } else if (argument == "--lossless" && i + 1 < argc) {
            lossless = argv[++i];
        } else if (argument.rfind("--", 0) == 0) {
            return Fail(
                "usage: zarvo_image_format_bench [--repetitions N] [--lossy Q:M,...] [--lossless E:M,...] "
                "IMAGE.png...");
        } else {
            std::ifstream in(argument, std::ios::binary);
            const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            Image image;
            std::string error;
            if (file.empty()) return Fail("cannot read " + argument);
            if (!DecodeImage(file, ImageLimits{8192, 8192}, image.pixels, error)) return Fail(argument + ": " + error);
            const std::string name = std::filesystem::path(argument).filename().string();
            image.layer = name.substr(0, name.find('-'));
            images.push_back(std::move(image));
        }
    }
    if (images.empty()) return Fail("no images given (PNG files named LAYER-...)");

    std::vector<Setting> settings = {{{ImageCodec::Png, 0, 0}, "PNG"}, {{ImageCodec::Jpeg, 90, 0}, "JPEG, quality 90"}};
    if (!ParseWebp(lossy, ImageCodec::WebpLossy, settings) ||
        !ParseWebp(lossless, ImageCodec::WebpLossless, settings)) {
        return Fail("--lossy and --lossless take QUALITY:METHOD pairs, 0 to 100 and 0 to 6, as in 80:2,90:4");
    }

    // times[setting][image] over the repetitions; bytes and differences per setting and image.
    std::vector<std::vector<std::vector<double>>> times(settings.size(),
                                                        std::vector<std::vector<double>>(images.size()));
    std::vector<std::vector<double>> bytes(settings.size(), std::vector<double>(images.size()));
    std::vector<std::vector<Difference>> differences(settings.size(), std::vector<Difference>(images.size()));
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (size_t s = 0; s < settings.size(); ++s) {
            for (size_t i = 0; i < images.size(); ++i) {
                std::vector<uint8_t> encoded;
                std::string error;
                const double started = CpuMilliseconds();
                const bool encodedWell = Encode(images[i].pixels, settings[s].encoding, encoded, error);
                times[s][i].push_back(CpuMilliseconds() - started);
                if (!encodedWell) return Fail(settings[s].name + ": " + error);
                if (repetition > 0) continue;
                bytes[s][i] = static_cast<double>(encoded.size());
                RgbImage decoded;
                if (!Decode(encoded, settings[s].encoding.codec, decoded, error)) {
                    return Fail(settings[s].name + ": " + error);
                }
                differences[s][i] = DifferenceOf(decoded, images[i].pixels);
                const bool lossless = settings[s].encoding.codec == ImageCodec::Png ||
                                      settings[s].encoding.codec == ImageCodec::WebpLossless;
                if (lossless && differences[s][i].mean != 0) {
                    return Fail(settings[s].name + " does not give the pixels back");
                }
            }
        }
    }

    std::map<std::string, std::vector<size_t>> layers;
    for (size_t i = 0; i < images.size(); ++i) layers[images[i].layer].push_back(i);
    std::printf(
        "%zu images, %d repetitions; ms: CPU time per image (median of the repetitions, mean over the "
        "images); difference: mean absolute, over the bands, from the image (0 to 255); visibly changed: a band "
        "off by more than 16\n",
        images.size(), repetitions);
    for (const auto& [layer, members] : layers) {
        std::printf("\n%s (%zu images)\n\n", layer.c_str(), members.size());
        std::printf(
            "| format | ms per image | kB per image | difference | pixels visibly changed | time / PNG | "
            "size / PNG |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
        std::vector<double> ms(settings.size()), kb(settings.size()), off(settings.size()), seen(settings.size());
        for (size_t s = 0; s < settings.size(); ++s) {
            for (size_t i : members) {
                ms[s] += Median(times[s][i]) / static_cast<double>(members.size());
                kb[s] += bytes[s][i] / 1024 / static_cast<double>(members.size());
                off[s] += differences[s][i].mean / static_cast<double>(members.size());
                seen[s] += differences[s][i].visible / static_cast<double>(members.size());
            }
        }
        for (size_t s = 0; s < settings.size(); ++s) {
            const ImageEncoding& encoding = settings[s].encoding;
            bool answers = false;
            for (const ImageFormatEntry& format : ImageFormats()) {
                answers = answers || Same(EncodingOf(format.format, layer), encoding);
            }
            std::printf("| %s%s | %.2f | %.1f | %.2f | %.1f %% | %.2f | %.3f |\n", settings[s].name.c_str(),
                        answers ? " (answers)" : "", ms[s], kb[s], off[s], 100 * seen[s], ms[s] / ms[0], kb[s] / kb[0]);
        }
    }
    return 0;
}
