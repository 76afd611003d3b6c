#include "host/world_edges.h"

#include "projection/tile_service.h"
#include "projection/zarvo_coord_transform.h"

WorldTile LocateWorldTile(const TileKey& key) {
    const int64_t worldTiles = int64_t{1} << (key.zoom - 1);
    const int64_t northEdge = int64_t{1} << (key.zoom + 9);
    WorldTile tile;
    tile.row = (int64_t{key.y} - northEdge) >> 8;
    tile.column = ((int64_t{key.x} >> 8) % worldTiles + worldTiles) % worldTiles;
    tile.outsideWorld = tile.row < 0 || tile.row >= worldTiles;
    return tile;
}

bool PlanTileSlots(const DataRequestBlock& request, const std::vector<std::string>& urls,
                   std::vector<TileSlot>& slots) {
    // The grid does not depend on the layer: any kind and name enumerate alike.
    const ZarvoCoordTransform transform(LayerKind::Map, u"map");
    const TileRange range = RequestTileRange(transform, request);
    if (range.Empty() || range.Count() != urls.size()) {
        return false;
    }
    slots.assign(urls.size(), TileSlot{});
    for (size_t k = 0; k < urls.size(); ++k) {
        const TileKey key = range.Key(k);
        const WorldTile tile = LocateWorldTile(key);
        if (tile.outsideWorld) {
            slots[k].outsideWorld = true;
            continue;
        }
        slots[k].url = WrapTileColumn(urls[k]);
    }
    return true;
}

std::vector<std::string> AddressesToFetch(const std::vector<TileSlot>& slots) {
    std::vector<std::string> urls;
    for (const TileSlot& slot : slots) {
        if (!slot.outsideWorld) urls.push_back(slot.url);
    }
    return urls;
}
