#include "host/world_edges.h"

#include "projection/tile_service.h"
#include "projection/zarvo_coord_transform.h"

bool PlanTileSlots(const DataRequestBlock& request, const std::vector<std::string>& urls,
                   std::vector<TileSlot>& slots) {
    // The grid does not depend on the layer: any kind and name enumerate alike.
    const ZarvoCoordTransform transform(LayerKind::Map, u"map");
    const TileRange range = RequestTileRange(transform, request);
    if (range.Empty() || range.Count() != urls.size()) {
        return false;
    }
    const int64_t worldTiles = int64_t{1} << (request.zoom - 1);
    const int64_t northEdge = int64_t{1} << (request.zoom + 9);
    slots.assign(urls.size(), TileSlot{});
    for (size_t k = 0; k < urls.size(); ++k) {
        const TileKey key = range.Key(k);
        const int64_t top = (int64_t{key.y} - northEdge) >> 8;
        if (top < 0 || top >= worldTiles) {
            slots[k].outsideWorld = true;
            continue;
        }
        const int64_t column = int64_t{key.x} >> 8;
        if (column < worldTiles) {
            slots[k].url = urls[k];
            continue;
        }
        TileAddress address;
        if (!ParseTileAddress(urls[k], address)) {
            return false;
        }
        address.x = column % worldTiles;
        slots[k].url = ServiceAddress(address);
    }
    return true;
}
