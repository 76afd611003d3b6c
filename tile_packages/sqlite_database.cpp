#include "tile_packages/sqlite_database.h"

#include <unistd.h>

#include <filesystem>

namespace tile_packages {

std::unique_ptr<SqliteDatabase> SqliteDatabase::Open(const std::string& path, bool create, std::string& error) {
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (!create && access(path.c_str(), W_OK) != 0) flags = SQLITE_OPEN_READONLY;
    sqlite3* opened = nullptr;
    const int status = sqlite3_open_v2(path.c_str(), &opened, flags, nullptr);
    std::unique_ptr<SqliteDatabase> database(new SqliteDatabase(path, opened));
    if (status != SQLITE_OK) {
        error = database->Failure("cannot open");
        return nullptr;
    }
    // A writer that finds the file busy waits for it a while rather than
    // failing a batch at once.
    sqlite3_busy_timeout(opened, 10000);
    sqlite3_extended_result_codes(opened, 1);
    return database;
}

SqliteDatabase::~SqliteDatabase() { sqlite3_close(db); }

bool SqliteDatabase::Exec(const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = file + ": " + (message ? message : "SQLite failed");
    sqlite3_free(message);
    return false;
}

std::string SqliteDatabase::Failure(const std::string& what) const {
    return what + " " + file + ": " + (db ? sqlite3_errmsg(db) : "SQLite has no memory");
}

bool SqliteDatabase::IsEmpty(std::string& error) {
    SqliteStatement count(*this, "SELECT count(*) FROM sqlite_master", error);
    if (!count) return false;
    if (count.Step() != SQLITE_ROW) {
        error = Failure("cannot read");
        return false;
    }
    error.clear();
    return sqlite3_column_int64(count.get(), 0) == 0;
}

SqliteStatement::SqliteStatement(SqliteDatabase& database, const std::string& sql, std::string& error)
    : database(database) {
    if (sqlite3_prepare_v2(database.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        error = database.Failure("cannot read");
        sqlite3_finalize(statement);
        statement = nullptr;
    }
}

bool SqliteStatement::Run(std::string& error) {
    const int status = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (status == SQLITE_DONE) return true;
    error = database.Failure("cannot write");
    return false;
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

bool SqliteStatement::Blob(int column, size_t limit, std::vector<uint8_t>& bytes) const {
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    if (size < 0 || static_cast<size_t>(size) > limit) return false;
    bytes.assign(data, data + size);
    return true;
}

bool RemoveSqliteFile(const std::string& path, std::string& error) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        std::error_code failure;
        std::filesystem::remove(path + suffix, failure);
        if (failure) {
            error = "cannot remove " + path + suffix + ": " + failure.message();
            return false;
        }
    }
    return true;
}

}  // namespace tile_packages
