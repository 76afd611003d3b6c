#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "host/tile_address.h"
#include "host/tile_source.h"

namespace {

using Clock = std::chrono::steady_clock;

// SQLite asks whether to go on after this many steps of its virtual machine:
// often enough that a query that never ends stops within a millisecond or
// so of its deadline.
constexpr int kStepsBetweenChecks = 1000;

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// A tile's length is read before its bytes, and its bytes only when they
// are within the bound (?4): SQLite tells a blob's length from its header,
// so an oversized tile costs nothing.
constexpr char kTileQuery[] =
    "SELECT length(tile_data), CASE WHEN length(tile_data) <= ?4 THEN tile_data END FROM tiles "
    "WHERE zoom_level=?1 AND tile_column=?2 AND tile_row=?3";

// An MBTiles file: one SQLite table of tiles, rows counted from the south
// as the address counts them, zoom as the service numbers it.
class MbtilesTileSource final : public TileSource {
public:
    MbtilesTileSource(std::string path, sqlite3* db, sqlite3_stmt* query)
        : path(std::move(path)), db(db), query(query) {
        sqlite3_progress_handler(this->db.get(), kStepsBetweenChecks, PastDeadline, &deadline);
    }

    void Fetch(const std::vector<std::string>& urls, const FetchLimits& limits, const TileSink& sink) override {
        const auto until = Clock::now() + limits.deadline;
        for (size_t i = 0; i < urls.size(); ++i) {
            if (!sink(i, FetchOne(urls[i], limits, until))) return;
        }
    }

private:
    // Stops a query at the fetch's deadline (SQLITE_INTERRUPT).
    static int PastDeadline(void* context) {
        return Clock::now() > *static_cast<const Clock::time_point*>(context) ? 1 : 0;
    }

    TileFetch FetchOne(const std::string& url, const FetchLimits& limits, Clock::time_point until) {
        TileFetch fetch;
        TileAddress address;
        if (!StartLocalFetch(url, until, address, fetch)) return fetch;
        fetch.address = path + " at zoom_level " + std::to_string(address.z) + ", tile_column " +
                        std::to_string(address.x) + ", tile_row " + std::to_string(address.y);
        const std::lock_guard<std::mutex> lock(mutex);
        deadline = until;
        sqlite3_stmt* q = query.get();
        sqlite3_reset(q);
        sqlite3_bind_int64(q, 1, address.z);
        sqlite3_bind_int64(q, 2, address.x);
        sqlite3_bind_int64(q, 3, address.y);
        sqlite3_bind_int64(q, 4, static_cast<sqlite3_int64>(limits.maxBodyBytes));
        const int step = sqlite3_step(q);
        if (step == SQLITE_DONE) {
            fetch.outcome = TileOutcome::Missing;
            fetch.reason = "no such tile";
        } else if (step == SQLITE_INTERRUPT) {
            fetch.reason = "the fetch deadline of " + std::to_string(limits.deadline.count() / 1000) + " s passed";
        } else if (step != SQLITE_ROW) {
            fetch.reason = std::string("cannot read it: ") + sqlite3_errmsg(db.get());
        } else {
            // A text's length counts characters: its bytes are checked again.
            const sqlite3_int64 length = sqlite3_column_int64(q, 0);
            const void* data = length <= static_cast<sqlite3_int64>(limits.maxBodyBytes) ? sqlite3_column_blob(q, 1)
                                                                                          : nullptr;
            const int bytes = sqlite3_column_bytes(q, 1);
            if (length > static_cast<sqlite3_int64>(limits.maxBodyBytes) ||
                static_cast<size_t>(bytes) > limits.maxBodyBytes) {
                fetch.reason = "the tile has " + std::to_string(std::max<sqlite3_int64>(length, bytes)) +
                               " bytes, more than the " + std::to_string(limits.maxBodyBytes) + " a tile may have";
            } else if (data == nullptr) {
                fetch.reason = "the tile is empty";
            } else {
                const auto* begin = static_cast<const uint8_t*>(data);
                fetch.body.assign(begin, begin + bytes);
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
    Clock::time_point deadline = Clock::time_point::max();  // of the query under way
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
    if (sqlite3_prepare_v2(db.get(), kTileQuery, -1, &prepared, nullptr) != SQLITE_OK) {
        error = path + " is no MBTiles file (" + sqlite3_errmsg(db.get()) + ")";
        return nullptr;
    }
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> query(prepared);
    return std::make_unique<MbtilesTileSource>(path, db.release(), query.release());
}
