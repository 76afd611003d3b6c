#pragma once

#include <memory>
#include <string>

#include "tile_packages/package_store.h"
#include "tile_packages/sqlite_database.h"

namespace tile_packages {

// Where a SQLite target keeps its tiles: MBTiles in "tiles" with rows from
// the south, a GeoPackage in a table of its own with rows from the north.
struct TileTable {
    std::string name;
    bool rowsFromSouth = false;
};

// Tiles into a SQLite tile table, one transaction per batch, so that a
// kill leaves the file as its last commit made it.
std::unique_ptr<PackageStore> MakeSqliteTileStore(std::unique_ptr<SqliteDatabase> database, TileTable table,
                                                  const PyramidDescription& description, std::string& error);

// Tiles out of a SQLite tile table.
std::unique_ptr<TilePackageReader> MakeSqliteTileReader(std::unique_ptr<SqliteDatabase> database, TileTable table,
                                                        const PyramidDescription& description);

// The settings of every writing connection: a rollback journal, whose file
// is whole between transactions by itself (a write-ahead log would keep
// committed tiles in a second file that a copy may leave behind), and a
// cache that holds a batch.
bool SetUpForWriting(SqliteDatabase& database, std::string& error);

// A SQLite target's kind: its name for messages, the query that reads the
// stored description, and the schema it makes. OpenSqliteTarget opens one
// for TilePackageWriter: it refuses a file that holds another pyramid,
// gathers the tiles it holds, and makes the schema and metadata (inside
// the transaction that makes the file) when the file is new or was left
// empty.
struct SqliteTarget {
    const char* name;         // "an MBTiles file"
    const char* recordQuery;  // one row, one column: the description's JSON
    bool (*makeSchema)(SqliteDatabase& database, const PyramidDescription& description, std::string& error);
    TileTable (*tableOf)(const PyramidDescription& description);
};
std::unique_ptr<PackageStore> OpenSqliteTarget(const SqliteTarget& kind, const std::string& path,
                                               const PyramidDescription& description, bool overwrite,
                                               std::vector<uint64_t>& present, std::string& error);
// A reader of an existing SQLite target, or null with the reason (a file
// left empty by a killed writer reads as holding no package).
std::unique_ptr<TilePackageReader> OpenSqliteReader(const SqliteTarget& kind, const std::string& path,
                                                    std::string& error);

}  // namespace tile_packages
