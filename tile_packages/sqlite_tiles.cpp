#include "tile_packages/sqlite_tiles.h"

#include <filesystem>

#include "tile_packages/existing_package.h"

namespace tile_packages {
namespace {

// The row as the table counts it: MBTiles from the south.
uint64_t StoredRow(const TileTable& table, const PyramidDescription& description, int level, uint64_t row) {
    return table.rowsFromSouth ? MatrixHeight(description.set, level) - 1 - row : row;
}

class SqliteTileStore final : public PackageStore {
public:
    SqliteTileStore(std::unique_ptr<SqliteDatabase> database, TileTable table, PyramidDescription description,
                    std::string& error)
        : database(std::move(database)),
          table(std::move(table)),
          description(std::move(description)),
          insert(*this->database,
                 "INSERT OR REPLACE INTO \"" + this->table.name +
                     "\" (zoom_level, tile_column, tile_row, tile_data) VALUES (?, ?, ?, ?)",
                 error) {}

    bool Ready() const { return static_cast<bool>(insert); }

    bool Put(const PyramidTile& tile, const uint8_t* bytes, size_t size, std::string& error) override {
        if (!inTransaction) {
            if (!database->Exec("BEGIN IMMEDIATE", error)) return false;
            inTransaction = true;
        }
        insert.Reset();
        insert.Bind(1, int64_t{tile.level});
        insert.Bind(2, int64_t{tile.column});
        insert.Bind(3, static_cast<int64_t>(StoredRow(table, description, tile.level, tile.row)));
        insert.BindBlob(4, bytes, size);
        if (insert.Run(error)) return true;
        // Some failures (a full disk, an I/O error) make SQLite roll the
        // whole transaction back: the batch's earlier tiles are gone too.
        if (sqlite3_get_autocommit(database->get())) {
            inTransaction = false;
            error += "; the tiles put since the last commit were not kept";
        }
        return false;
    }

    bool Commit(std::string& error) override {
        if (!inTransaction) return true;
        // Whatever COMMIT answers, the transaction is over or rolled back
        // by SQLite; the next Put opens a new one either way.
        if (database->Exec("COMMIT", error)) {
            inTransaction = false;
            return true;
        }
        if (sqlite3_get_autocommit(database->get())) inTransaction = false;
        return false;
    }

    bool Finish(std::string& error) override { return Commit(error); }

private:
    std::unique_ptr<SqliteDatabase> database;
    const TileTable table;
    const PyramidDescription description;
    SqliteStatement insert;
    bool inTransaction = false;
};

class SqliteTileReader final : public TilePackageReader {
public:
    SqliteTileReader(std::unique_ptr<SqliteDatabase> database, TileTable table, PyramidDescription description)
        : database(std::move(database)), table(std::move(table)), description(std::move(description)) {}

    const PyramidDescription& Description() const override { return description; }

    bool ListTiles(std::vector<PyramidTile>& tiles, std::string& error) override {
        SqliteStatement query(*database, "SELECT zoom_level, tile_column, tile_row FROM \"" + table.name + "\"", error);
        if (!query) return false;
        tiles.clear();
        int status;
        while ((status = query.Step()) == SQLITE_ROW) {
            const int64_t level = sqlite3_column_int64(query.get(), 0);
            const int64_t column = sqlite3_column_int64(query.get(), 1);
            const int64_t row = sqlite3_column_int64(query.get(), 2);
            PyramidTile tile;
            bool inside = level >= description.minLevel && level <= description.maxLevel && column >= 0 && row >= 0;
            if (inside) {
                tile.level = static_cast<int>(level);
                inside = static_cast<uint64_t>(column) < MatrixWidth(description.set, tile.level) &&
                         static_cast<uint64_t>(row) < MatrixHeight(description.set, tile.level);
            }
            if (!inside) {
                error = database->path() + " holds a tile outside its pyramid: level " + std::to_string(level) +
                        " column " + std::to_string(column) + " row " + std::to_string(row);
                return false;
            }
            tile.column = static_cast<uint32_t>(column);
            tile.row = static_cast<uint32_t>(StoredRow(table, description, tile.level, static_cast<uint64_t>(row)));
            tiles.push_back(tile);
        }
        if (status != SQLITE_DONE) {
            error = database->Failure("cannot read");
            return false;
        }
        SortTiles(tiles);
        return true;
    }

    bool ReadTile(const PyramidTile& tile, std::vector<uint8_t>& bytes, std::string& error) override {
        error.clear();
        if (!InPyramid(description, tile)) return false;
        if (!select) {
            select = std::make_unique<SqliteStatement>(
                *database,
                "SELECT tile_data FROM \"" + table.name + "\" WHERE zoom_level=? AND tile_column=? AND tile_row=?",
                error);
        }
        if (!*select) {
            select.reset();
            return false;
        }
        SqliteStatement& q = *select;
        q.Reset();
        q.Bind(1, int64_t{tile.level});
        q.Bind(2, int64_t{tile.column});
        q.Bind(3, static_cast<int64_t>(StoredRow(table, description, tile.level, tile.row)));
        const int status = q.Step();
        bool found = false;
        if (status == SQLITE_ROW) {
            found = q.Blob(0, kMaxTileBytes, bytes);
            if (!found) {
                error = database->path() + " holds a tile larger than " + std::to_string(kMaxTileBytes) +
                        " bytes at level " + std::to_string(tile.level);
            }
        } else if (status != SQLITE_DONE) {
            error = database->Failure("cannot read");
        }
        q.Reset();
        return found;
    }

private:
    std::unique_ptr<SqliteDatabase> database;
    const TileTable table;
    const PyramidDescription description;
    std::unique_ptr<SqliteStatement> select;
};

// The reader of a file that holds tables: the description its record
// gives, or null with the reason.
std::unique_ptr<TilePackageReader> ReadExisting(const SqliteTarget& kind, std::unique_ptr<SqliteDatabase> database,
                                                std::string& error) {
    SqliteStatement query(*database, kind.recordQuery, error);
    if (!query) {
        error = database->path() + " is not " + kind.name + " of a tile pyramid (" + error + ")";
        return nullptr;
    }
    if (query.Step() != SQLITE_ROW) {
        error = database->path() + " holds no tile_pyramid record: it was not made as a tile package";
        return nullptr;
    }
    PyramidDescription description;
    std::string invalid;
    if (!DescriptionFromJson(query.Text(0), description, invalid)) {
        error = database->path() + ": " + invalid;
        return nullptr;
    }
    return MakeSqliteTileReader(std::move(database), kind.tableOf(description), description);
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

}  // namespace

std::unique_ptr<PackageStore> MakeSqliteTileStore(std::unique_ptr<SqliteDatabase> database, TileTable table,
                                                  const PyramidDescription& description, std::string& error) {
    auto store = std::make_unique<SqliteTileStore>(std::move(database), std::move(table), description, error);
    if (!store->Ready()) return nullptr;
    return store;
}

std::unique_ptr<TilePackageReader> MakeSqliteTileReader(std::unique_ptr<SqliteDatabase> database, TileTable table,
                                                        const PyramidDescription& description) {
    return std::make_unique<SqliteTileReader>(std::move(database), std::move(table), description);
}

bool SetUpForWriting(SqliteDatabase& database, std::string& error) {
    return database.Exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; PRAGMA cache_size=-32768", error);
}

std::unique_ptr<TilePackageReader> OpenSqliteReader(const SqliteTarget& kind, const std::string& path,
                                                    std::string& error) {
    if (!FileExists(path)) {
        error = path + " does not exist";
        return nullptr;
    }
    auto database = SqliteDatabase::Open(path, false, error);
    if (!database) return nullptr;
    const bool empty = database->IsEmpty(error);
    if (!error.empty()) return nullptr;
    if (empty) {
        error = path + " holds no tile package yet";
        return nullptr;
    }
    return ReadExisting(kind, std::move(database), error);
}

std::unique_ptr<PackageStore> OpenSqliteTarget(const SqliteTarget& kind, const std::string& path,
                                               const PyramidDescription& description, bool overwrite,
                                               std::vector<uint64_t>& present, std::string& error) {
    if (overwrite && !RemoveSqliteFile(path, error)) return nullptr;
    present.clear();
    bool fresh = true;
    if (FileExists(path)) {
        auto database = SqliteDatabase::Open(path, false, error);
        if (!database) return nullptr;
        const bool empty = database->IsEmpty(error);
        if (!error.empty()) return nullptr;
        if (!empty) {
            auto reader = ReadExisting(kind, std::move(database), error);
            if (!reader || !AdoptExisting(*reader, path, description, present, error)) return nullptr;
            fresh = false;
        }
    }
    auto database = SqliteDatabase::Open(path, true, error);
    if (!database || !SetUpForWriting(*database, error)) return nullptr;
    if (fresh) {
        // Schema and metadata in one transaction: a kill during it leaves a
        // file without tables, which the next open makes anew.
        std::string failure;
        if (!database->Exec("BEGIN IMMEDIATE", error)) return nullptr;
        if (!kind.makeSchema(*database, description, error) || !database->Exec("COMMIT", error)) {
            database->Exec("ROLLBACK", failure);
            return nullptr;
        }
    }
    return MakeSqliteTileStore(std::move(database), kind.tableOf(description), description, error);
}

}  // namespace tile_packages
