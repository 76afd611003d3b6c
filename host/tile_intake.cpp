#include "host/tile_intake.h"

#include <cstdio>
#include <utility>

#include "host/png_reading.h"
#include "host/tile_address.h"

namespace {

std::string Gigabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

}  // namespace

bool TilesFitBudget(size_t tiles, uint64_t budgetBytes, std::string& error) {
    const uint64_t needed = static_cast<uint64_t>(tiles) * kDecodedTileBytes;
    if (needed <= budgetBytes) {
        return true;
    }
    error = "the request needs " + std::to_string(tiles) + " tiles, " + Gigabytes(needed) +
            " decoded, more than the memory budget of " + std::to_string(budgetBytes >> 20) + " MB (" +
            std::to_string(budgetBytes / kDecodedTileBytes) + " tiles)";
    return false;
}

TileIntake TakeInTiles(TileSource& source, const std::vector<std::string>& urls, const IntakeOptions& options,
                       const std::function<void(size_t)>& progress) {
    TileIntake intake;
    intake.images.resize(urls.size());
    enum : uint8_t { kNotDelivered, kImage, kBlank };
    std::vector<uint8_t> state(urls.size(), kNotDelivered);
    bool failed = false;
    size_t done = 0;
    size_t firstBlank = urls.size();
    const auto fail = [&](size_t i, TileFetch& fetch, std::string reason, bool undecodable) {
        if (!failed || i < intake.problem.index) {
            intake.problem = TileProblem{i, urls[i], std::move(reason), undecodable, std::move(fetch.address)};
            failed = true;
        }
        return false;
    };
    source.Fetch(urls, options.limits, [&](size_t i, TileFetch&& fetch) {
        progress(++done);
        state[i] = kImage;
        switch (fetch.outcome) {
            case TileOutcome::Failed: return fail(i, fetch, std::move(fetch.reason), false);
            case TileOutcome::Missing:
                if (options.missing == MissingTiles::Fail) return fail(i, fetch, std::move(fetch.reason), false);
                state[i] = kBlank;
                if (i < firstBlank) {
                    firstBlank = i;
                    intake.firstMissing = NameTile(fetch.address, urls[i]);
                }
                return !failed;
            case TileOutcome::Body: break;
        }
        intake.bodyBytes += fetch.body.size();
        std::string error;
        if (!DecodeTile(fetch.body, intake.images[i], error)) {
            return fail(i, fetch, std::move(error), true);
        }
        return !failed;
    });
    if (failed) {
        intake.images.clear();
        return intake;
    }
    for (size_t i = 0; i < urls.size(); ++i) {
        if (state[i] == kNotDelivered) {
            // A source that ends early without a failure breaks its contract.
            intake.problem = TileProblem{i, urls[i], "the tile source gave no answer", false};
            intake.images.clear();
            return intake;
        }
        if (state[i] == kBlank) ++intake.missing;
    }
    intake.complete = true;
    return intake;
}

const RgbImage& BlankTile() {
    static const RgbImage blank = [] {
        RgbImage image;
        image.width = kTileSide;
        image.height = kTileSide;
        image.pixels.assign(kDecodedTileBytes, kBlankTileGrey);
        return image;
    }();
    return blank;
}

std::shared_ptr<const DecodedTile> ToSharedTile(RgbImage&& image) {
    auto tile = std::make_shared<DecodedTile>();
    tile->width = image.width;
    tile->height = image.height;
    tile->pixels = std::move(image.pixels);
    return tile;
}

std::shared_ptr<const DecodedTile> SharedBlankTile() {
    static const std::shared_ptr<const DecodedTile> blank = [] {
        auto tile = std::make_shared<DecodedTile>();
        tile->width = BlankTile().width;
        tile->height = BlankTile().height;
        tile->pixels = BlankTile().pixels;
        tile->shared = true;
        return std::shared_ptr<const DecodedTile>(std::move(tile));
    }();
    return blank;
}
