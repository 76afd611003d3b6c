#include "tile_packages/mbtiles_target.h"

#include <nlohmann/json.hpp>

#include <utility>
#include <vector>

namespace tile_packages {
namespace {

// Numbers as JSON writes them: the shortest text that reads back the same.
std::string Number(double value) { return nlohmann::json(value).dump(); }

std::vector<std::pair<std::string, std::string>> Metadata(const PyramidDescription& d) {
    const GeoArea& a = d.area;
    return {
        {"name", d.name},
        {"format", FileExtension(d.format)},
        {"bounds", Number(a.west) + "," + Number(a.south) + "," + Number(a.east) + "," + Number(a.north)},
        {"center", Number((a.west + a.east) / 2) + "," + Number((a.south + a.north) / 2) + "," +
                       std::to_string(d.minLevel)},
        {"minzoom", std::to_string(d.minLevel)},
        {"maxzoom", std::to_string(d.maxLevel)},
        {"attribution", d.attribution},
        {"description", d.description},
        {"type", d.overlay ? "overlay" : "baselayer"},
        {"version", "1.0.0"},
        {"tile_pyramid", DescriptionToJson(d)},
    };
}

bool MakeSchema(SqliteDatabase& database, const PyramidDescription& description, std::string& error) {
    // 0x4d504258: the application id MBTiles files carry.
    if (!database.Exec("PRAGMA application_id=1297105496;"
                       "CREATE TABLE metadata (name TEXT NOT NULL, value TEXT);"
                       "CREATE UNIQUE INDEX metadata_name ON metadata (name);"
                       "CREATE TABLE tiles (zoom_level INTEGER NOT NULL, tile_column INTEGER NOT NULL,"
                       " tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL);"
                       "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);",
                       error)) {
        return false;
    }
    SqliteStatement insert(database, "INSERT INTO metadata (name, value) VALUES (?, ?)", error);
    if (!insert) return false;
    for (const auto& [name, value] : Metadata(description)) {
        insert.Reset();
        insert.Bind(1, name);
        insert.Bind(2, value);
        if (!insert.Run(error)) return false;
    }
    return true;
}

TileTable TableOf(const PyramidDescription&) { return {"tiles", true}; }

}  // namespace

const SqliteTarget kMbtilesTarget{"an MBTiles file", "SELECT value FROM metadata WHERE name='tile_pyramid'", MakeSchema,
                                  TableOf};

}  // namespace tile_packages
