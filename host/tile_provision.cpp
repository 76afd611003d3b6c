#include "host/tile_provision.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "host/tile_address.h"
#include "host/tile_intake.h"
#include "projection/tile_range.h"
#include "projection/tile_service.h"
#include "projection/world_tile.h"

namespace {

// Of a part drawn in row order, the tiles of `slots` in the world that a
// later part can need: those of its east column and of its south row. A
// tile taken as listed counts as needed.
std::vector<bool> NeededLater(const std::vector<TileSlot>& slots) {
    int64_t east = INT64_MIN, south = INT64_MIN;
    for (const TileSlot& slot : slots) {
        if (slot.OutsideWorld() || slot.asListed) continue;
        east = std::max(east, slot.place.column);
        south = std::max(south, slot.place.row);
    }
    std::vector<bool> needed;
    for (const TileSlot& slot : slots) {
        if (slot.OutsideWorld()) continue;
        needed.push_back(slot.asListed || slot.place.column == east || slot.place.row == south);
    }
    return needed;
}

// The first tile in `outcomes` that failed itself, else the first one
// skipped because of another; outcomes.size() when none failed.
size_t FirstFailure(const std::vector<TileResult>& outcomes) {
    size_t failed = outcomes.size();
    for (size_t i = 0; i < outcomes.size(); ++i) {
        if (outcomes[i].tile) continue;
        if (!outcomes[i].skipped) return i;
        if (failed == outcomes.size()) failed = i;
    }
    return failed;
}

ProvidedTiles Failure(const TileResult& result, const std::string& url, const std::string& failureVerb) {
    const RenderFailure failure = result.late          ? RenderFailure::TileLate
                                  : result.undecodable ? RenderFailure::TileUndecodable
                                                       : RenderFailure::TileMissing;
    const std::string verb = !failureVerb.empty()                        ? failureVerb
                             : failure == RenderFailure::TileUndecodable ? "cannot decode"
                                                                         : "cannot fetch";
    const std::string reason = result.skipped ? "another tile of its batch failed" : result.error;
    return ProvidedTiles::Failed(failure, verb + " tile " + NameTile(result.address, url) + ": " + reason);
}

// What a job's views point into: the taken tiles, released before what the
// program held for them.
struct Kept {
    std::shared_ptr<const void> held;
    std::vector<TileResult> outcomes;
};

}  // namespace

bool PlanTileSlots(const DataRequestBlock& request, const std::vector<std::string>& listed,
                   std::vector<TileSlot>& slots) {
    const TileRange range = RequestTileRange(request);
    if (range.Empty() || range.Count() != listed.size()) {
        return false;
    }
    slots.assign(listed.size(), TileSlot{});
    for (size_t k = 0; k < listed.size(); ++k) {
        TileSlot& slot = slots[k];
        slot.place = LocateWorldTile(range.Key(k));
        if (slot.OutsideWorld()) continue;
        TileAddress address;
        slot.asListed = !WorldTileAddress(slot.place, listed[k], address);
        if (slot.asListed) {
            slot.tile.key = slot.tile.url = listed[k];
        } else {
            slot.tile.key = RelativeTilePath(address);
            slot.tile.url = ServiceAddress(address);
        }
    }
    return true;
}

ProvidedTiles ProvideJobTiles(const DataRequestBlock& request, const std::vector<std::string>& listed,
                              const TileProvision& provision) {
    std::vector<TileSlot> slots;
    if (!PlanTileSlots(request, listed, slots)) {
        return ProvidedTiles::Failed(RenderFailure::HostFailure, "the plug-in's tile list does not match the request");
    }
    std::vector<WantedTile> wanted;
    for (const TileSlot& slot : slots) {
        if (!slot.OutsideWorld()) wanted.push_back(slot.tile);
    }
    std::string error;
    if (provision.fitsBudget && !provision.fitsBudget(wanted.size(), error)) {
        return ProvidedTiles::Failed(RenderFailure::TooManyTiles, error);
    }
    auto kept = std::make_shared<Kept>();
    if (provision.hold) kept->held = provision.hold(wanted.size());
    if (!provision.fetch) {
        kept->outcomes = provision.cache.GetAll(wanted, provision.deadline);
    } else {
        const std::vector<bool> neededLater = provision.partsInRowOrder ? NeededLater(slots) : std::vector<bool>{};
        kept->outcomes = provision.cache.GetAll(wanted, provision.fetch, neededLater);
    }
    const std::vector<TileResult>& outcomes = kept->outcomes;
    const size_t failed = FirstFailure(outcomes);
    if (failed < outcomes.size()) {
        return Failure(outcomes[failed], wanted[failed].url, provision.failureVerb);
    }
    ProvidedTiles tiles;
    tiles.tiles.reserve(slots.size());
    size_t taken = 0;
    for (const TileSlot& slot : slots) {
        const DecodedTile& tile = slot.OutsideWorld() ? *SharedBlankTile() : *outcomes[taken++].tile;
        tiles.tiles.push_back(TileView{tile.pixels.data(), tile.pixels.size(), tile.width, tile.height, 3});
    }
    tiles.keep = std::move(kept);
    return tiles;
}
