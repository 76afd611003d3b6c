#include "projection/world_tile.h"

WorldTileKey LocateWorldTile(const TileKey& key) {
    WorldTileKey tile;
    tile.zoom = key.zoom;
    const int64_t worldTiles = tile.WorldTiles();
    const int64_t northEdge = int64_t{1} << (key.zoom + 9);
    // Arithmetic shifts: floor division by the tile size, also for a row
    // north of the world.
    static_assert(kZarvoTileSize == 1 << 8, "the shifts divide by the tile size");
    tile.row = (int64_t{key.y} - northEdge) >> 8;
    const int64_t listedColumn = int64_t{key.x} >> 8;
    tile.column = (listedColumn % worldTiles + worldTiles) % worldTiles;
    tile.wrap = (listedColumn - tile.column) / worldTiles;
    return tile;
}
