#include <sqlite3.h>

#include <chrono>
#include <mutex>

#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// An MBTiles file: one SQLite table of tiles, rows counted from the south
// as the address counts them, zoom as the service numbers it.
class MbtilesTileSource final : public TileSource {
public:
    MbtilesTileSource(std::string path, sqlite3* db, sqlite3_stmt* query)
        : path(std::move(path)), db(db), query(query) {}

    void Fetch(const std::vector<std::string>& urls, const FetchLimits& limits, const TileSink& sink) override {
        const auto deadline = std::chrono::steady_clock::now() + limits.deadline;
        for (size_t i = 0; i < urls.size(); ++i) {
            if (!sink(i, FetchOne(urls[i], limits, deadline))) return;
        }
    }

private:
    TileFetch FetchOne(const std::string& url, const FetchLimits& limits,
                       std::chrono::steady_clock::time_point deadline) {
        TileFetch fetch;
        TileAddress address;
        if (!StartLocalFetch(url, deadline, address, fetch)) return fetch;
        const std::lock_guard<std::mutex> lock(mutex);
        sqlite3_stmt* q = query.get();
        sqlite3_reset(q);
        sqlite3_bind_int64(q, 1, address.z);
        sqlite3_bind_int64(q, 2, address.x);
        sqlite3_bind_int64(q, 3, address.y);
        const int step = sqlite3_step(q);
        const std::string where = path + " zoom " + std::to_string(address.z) + " column " +
                                  std::to_string(address.x) + " row " + std::to_string(address.y);
        if (step == SQLITE_DONE) {
            fetch.outcome = TileOutcome::Missing;
            fetch.reason = "no tile in " + where;
        } else if (step != SQLITE_ROW) {
            fetch.reason = "cannot read " + where + ": " + sqlite3_errmsg(db.get());
        } else {
            const int bytes = sqlite3_column_bytes(q, 0);
            if (bytes < 0 || static_cast<size_t>(bytes) > limits.maxBodyBytes) {
                fetch.reason = "the tile in " + where + " has " + std::to_string(bytes) + " bytes, more than the " +
                               std::to_string(limits.maxBodyBytes) + " a tile may have";
            } else {
                const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(q, 0));
                fetch.body.assign(data, data + bytes);
                fetch.outcome = TileOutcome::Body;
            }
        }
        sqlite3_reset(q);
        return fetch;
    }

    std::string path;
    std::unique_ptr<sqlite3, DatabaseCloser> db;
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> query;
    std::mutex mutex;
};

}  // namespace

std::unique_ptr<TileSource> MakeMbtilesTileSource(const std::string& path, std::string& error) {
    sqlite3* opened = nullptr;
    const int status = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<sqlite3, DatabaseCloser> db(opened);
    if (status != SQLITE_OK) {
        error = "cannot open " + path + " as an MBTiles file: " + (db ? sqlite3_errmsg(db.get()) : "SQLite failed");
        return nullptr;
    }
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT tile_data FROM tiles WHERE zoom_level=? AND tile_column=? AND tile_row=?",
                           -1, &prepared, nullptr) != SQLITE_OK) {
        error = path + " is no MBTiles file (" + sqlite3_errmsg(db.get()) + ")";
        return nullptr;
    }
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> query(prepared);
    return std::make_unique<MbtilesTileSource>(path, db.release(), query.release());
}
