#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "projection/address_list.h"
#include "projection/geo_types.h"
#include "projection/tile_range.h"

// The projection and tile grid of one layer. The tile-generic work
// (enumeration, address lists, resampling) is written against this
// interface only, so it serves any tiled projection.
//
// Transforms never change after construction; every operation is const and
// safe to call from many threads at once.
class CoordTransform {
public:
    virtual ~CoordTransform();

    // World pixel of (lon, lat) in degrees at `zoom`, y in offset form.
    virtual WorldPoint ToWorldPixel(double lon, double lat, int32_t zoom) const = 0;
    // The x and the y of ToWorldPixel(lon, lat, zoom), to the bit. A
    // separable transform overrides them to leave out the other axis's work:
    // a raster projects each of its columns and rows with them.
    virtual double ToWorldX(double lon, double lat, int32_t zoom) const;
    virtual double ToWorldY(double lon, double lat, int32_t zoom) const;
    virtual int32_t TileWidth() const = 0;
    virtual int32_t TileHeight() const = 0;
    virtual std::u16string TileUrl(const TileKey& key) const = 0;

    // The grid of tiles that `box` touches at `zoom`, widened by two world
    // pixels on every side. Empty for a box it cannot serve: a zoom outside
    // 1..21, a corner that is not finite, bounds beyond the 32-bit range, a
    // start west of the world, or more than kMaxTilesPerRequest tiles.
    TileRange CoverBox(const GeoBox& box, int32_t zoom) const;

    // Appends the keys of CoverBox(box, zoom), row by row from north to
    // south and west to east within a row.
    virtual void EnumerateTiles(const GeoBox& box, int32_t zoom, std::vector<TileKey>& out) const;

    // True when x depends on the longitude alone and y on the latitude
    // alone, so a regular longitude/latitude grid can be projected one
    // column and one row at a time instead of one pixel at a time.
    virtual bool IsSeparable() const;

    // Appends TileUrl(key) to `out`. A transform that can write its
    // addresses in place overrides this to spare a string per address.
    virtual void AppendTileUrl(const TileKey& key, AddressList& out) const;

    // Appends TileUrl(key) for each key, in order, after what `urls` holds.
    void TilesToUrls(const std::vector<TileKey>& keys, AddressList& urls) const;
};
