#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tile_packages {

// One SQLite connection and its file's name, closed with it.
class SqliteDatabase {
public:
    // Opens an existing file, or makes one when `create` is set. Readers
    // open for writing too where they may, so that a file left with a hot
    // journal by a killed writer is rolled back rather than refused.
    static std::unique_ptr<SqliteDatabase> Open(const std::string& path, bool create, std::string& error);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    sqlite3* get() const { return db; }
    const std::string& path() const { return file; }

    // Runs statements that return no rows; false with the file and SQLite's
    // reason.
    bool Exec(const std::string& sql, std::string& error);
    // The file's name with SQLite's last message, for errors.
    std::string Failure(const std::string& what) const;
    // True when the file holds no table yet: a writer killed before its
    // first commit leaves it so.
    bool IsEmpty(std::string& error);

private:
    SqliteDatabase(std::string path, sqlite3* db) : file(std::move(path)), db(db) {}
    std::string file;
    sqlite3* db;
};

// A prepared statement, finalized with it.
class SqliteStatement {
public:
    SqliteStatement(SqliteDatabase& database, const std::string& sql, std::string& error);
    ~SqliteStatement() { sqlite3_finalize(statement); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    explicit operator bool() const { return statement != nullptr; }
    sqlite3_stmt* get() const { return statement; }
    // Clears the bindings of the last run.
    void Reset() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
    void Bind(int index, int64_t value) { sqlite3_bind_int64(statement, index, value); }
    void Bind(int index, double value) { sqlite3_bind_double(statement, index, value); }
    void Bind(int index, const std::string& text) {
        sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void BindNull(int index) { sqlite3_bind_null(statement, index); }
    // Bytes that stay alive until the statement is stepped.
    void BindBlob(int index, const uint8_t* bytes, size_t size) {
        sqlite3_bind_blob64(statement, index, bytes, size, SQLITE_STATIC);
    }
    // Runs to SQLITE_DONE; false with the reason otherwise.
    bool Run(std::string& error);
    // The next row: SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return sqlite3_step(statement); }
    std::string Text(int column) const;
    // The blob of a column, refused beyond `limit` bytes.
    bool Blob(int column, size_t limit, std::vector<uint8_t>& bytes) const;

private:
    SqliteDatabase& database;
    sqlite3_stmt* statement = nullptr;
};

// Removes a SQLite file and what SQLite keeps beside it.
bool RemoveSqliteFile(const std::string& path, std::string& error);

}  // namespace tile_packages
