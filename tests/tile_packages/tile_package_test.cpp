// Tile packages as a drawing program uses them: written, killed at any
// moment, resumed, finished, drawn in parts and merged, for every target.
// What each format's clients read is checked by check_tile_packages.py
// (GDAL) and read_pmtiles.mjs (the pmtiles library).

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "tests/support/scratch_directory.h"
#include "tests/tile_packages/synthetic_pyramid.h"
#include "tile_packages/pmtiles_format.h"
#include "tile_packages/tile_package.h"

namespace fs = std::filesystem;
using namespace tile_packages;

namespace {

using TileMap = std::map<uint64_t, std::vector<uint8_t>>;

struct Target {
    const char* kind;  // "mbtiles", "gpkg", "pmtiles" or "dir"
    SyntheticSet set;
};

const Target kTargets[] = {
    {"mbtiles", SyntheticSet::WebMercatorQuad}, {"gpkg", SyntheticSet::WebMercatorQuad},
    {"pmtiles", SyntheticSet::WebMercatorQuad}, {"dir", SyntheticSet::WebMercatorQuad},
    {"gpkg", SyntheticSet::WorldCrs84Quad},     {"dir", SyntheticSet::WorldCrs84Quad},
};

std::string SetName(SyntheticSet set) { return set == SyntheticSet::WebMercatorQuad ? "mercator" : "crs84"; }

// A fresh target of the kind, in a folder of its own.
std::string TargetPath(const Target& t, const std::string& test) {
    const fs::path folder = Scratch(test + "-" + t.kind + "-" + SetName(t.set));
    fs::create_directories(folder);
    const std::string kind = t.kind;
    return kind == "dir" ? (folder / "tiles/{z}/{x}/{y}.png").string() : (folder / ("package." + kind)).string();
}

std::string Name(const Target& t) { return std::string(t.kind) + " " + SetName(t.set); }

bool PutAll(TilePackageWriter& writer, const std::vector<SyntheticTile>& tiles, std::string& error) {
    for (const SyntheticTile& t : tiles) {
        if (!writer.IsPresent(t.tile) && !writer.Put(t.tile, t.bytes, error)) return false;
    }
    return true;
}

bool WritePackage(const std::string& target, const PyramidDescription& d, const std::vector<SyntheticTile>& tiles,
                  std::string& error) {
    auto writer = TilePackageWriter::Open(target, d, OpenOptions{}, error);
    return writer && PutAll(*writer, tiles, error) && writer->Finish(error);
}

TileMap Expected(const std::vector<SyntheticTile>& tiles) {
    TileMap map;
    for (const SyntheticTile& t : tiles) map[PackTile(t.tile)] = t.bytes;
    return map;
}

// Every tile a package holds, read back through the library's reader.
TileMap ReadBack(const std::string& target, std::string& error, PyramidDescription* description = nullptr) {
    TileMap map;
    auto reader = TilePackageReader::Open(target, error);
    std::vector<PyramidTile> tiles;
    if (!reader || !reader->ListTiles(tiles, error)) return map;
    if (description) *description = reader->Description();
    for (const PyramidTile& tile : tiles) {
        std::vector<uint8_t>& bytes = map[PackTile(tile)];
        if (!reader->ReadTile(tile, bytes, error)) {
            if (error.empty()) error = "a listed tile cannot be read";
            return {};
        }
    }
    return map;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// SQLite's own check of a file's pages and indexes.
std::string IntegrityOf(const std::string& path) {
    sqlite3* db = nullptr;
    std::string answer = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
        answer = sqlite3_step(check) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(check, 0))
                                                   : sqlite3_errmsg(db);
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return answer;
}

// The rows a query gives, one string per row, for comparing metadata.
std::vector<std::string> Rows(const std::string& path, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &query, nullptr) != SQLITE_OK) rows.push_back(sqlite3_errmsg(db));
    while (query && sqlite3_step(query) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(query); ++i) {
            const auto* text = sqlite3_column_text(query, i);
            row += std::string(text ? reinterpret_cast<const char*>(text) : "NULL") + "|";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

// Runs `work` in a child process and kills it with SIGKILL as soon as it
// calls `reached`; false when the child ended before that.
bool KillWhen(const std::function<void(const std::function<void()>& reached)>& work) {
    int signal[2];
    if (pipe(signal) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(signal[0]);
        work([&] {
            if (write(signal[1], "!", 1) != 1) _exit(3);
        });
        _exit(2);
    }
    close(signal[1]);
    char byte;
    const bool reached = read(signal[0], &byte, 1) == 1;
    close(signal[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    return reached;
}

TEST(TilePackageTest, AKilledWriterLeavesEveryFinishedBatchAndResumes) {
    enum class Moment { MidBatch, WhileFinishing };
    constexpr size_t kBatch = 4;
    constexpr size_t kPutBeforeKill = 10;  // two batches committed, two tiles not
    for (const Target& t : kTargets) {
        for (Moment moment : {Moment::MidBatch, Moment::WhileFinishing}) {
            const std::string name = Name(t) + (moment == Moment::MidBatch ? " mid-batch" : " while finishing");
            const PyramidDescription d = SyntheticDescription(t.set, 3);
            const std::vector<SyntheticTile> tiles = SyntheticTiles(d);
            const std::string target =
                TargetPath(t, moment == Moment::MidBatch ? "killed-mid-batch" : "killed-finishing");
            const bool killed = KillWhen([&](const std::function<void()>& reached) {
                std::string error;
                OpenOptions options;
                options.batchTiles = kBatch;
                auto writer = TilePackageWriter::Open(target, d, options, error);
                if (!writer) return;
                const size_t count = moment == Moment::MidBatch ? kPutBeforeKill : tiles.size();
                for (size_t i = 0; i < count; ++i) {
                    if (!writer->Put(tiles[i].tile, tiles[i].bytes, error)) return;
                }
                if (moment == Moment::WhileFinishing) {
                    if (!writer->Flush(error)) return;
                    reached();
                    writer->Finish(error);
                }
                reached();
                for (;;) pause();
            });
            ASSERT_TRUE(killed) << name << ": the writer failed before it was killed";

            // What survived: whole batches (a directory writes each tile
            // whole), or everything once flushed, wherever in Finish the
            // kill came.
            const bool sqlite = std::string(t.kind) != "dir";
            size_t survivors = tiles.size();
            if (moment == Moment::MidBatch) survivors = sqlite ? kPutBeforeKill / kBatch * kBatch : kPutBeforeKill;
            if (std::string(t.kind) == "mbtiles" || std::string(t.kind) == "gpkg") {
                EXPECT_EQ(IntegrityOf(target), "ok") << name;
            }
            std::string error;
            const TileMap after = ReadBack(target, error);
            ASSERT_EQ(error, "") << name;
            const TileMap all = Expected(tiles);
            ASSERT_EQ(after.size(), survivors) << name;
            for (const auto& [packed, bytes] : after) EXPECT_TRUE(all.at(packed) == bytes) << name;

            // Reopened with the same description: it says what it holds,
            // takes the rest and is then complete.
            auto writer = TilePackageWriter::Open(target, d, OpenOptions{}, error);
            ASSERT_TRUE(writer) << name << ": " << error;
            EXPECT_EQ(writer->PresentCount(), survivors) << name;
            for (const SyntheticTile& tile : tiles) {
                EXPECT_EQ(writer->IsPresent(tile.tile), after.count(PackTile(tile.tile)) == 1) << name;
            }
            ASSERT_TRUE(PutAll(*writer, tiles, error) && writer->Finish(error)) << name << ": " << error;
            writer.reset();
            EXPECT_TRUE(ReadBack(target, error) == all) << name << ": " << error;
            writer = TilePackageWriter::Open(target, d, OpenOptions{}, error);
            ASSERT_TRUE(writer) << name << ": " << error;
            EXPECT_EQ(writer->PresentCount(), tiles.size()) << name;

            if (std::string(t.kind) == "pmtiles") {
                // Staged, killed and resumed, the archive is the one an
                // uninterrupted writer makes, and the staging file is gone.
                EXPECT_TRUE(writer->Finish(error)) << error;
                const std::string once = Scratch("uninterrupted-" + name + ".pmtiles").string();
                ASSERT_TRUE(WritePackage(once, d, tiles, error)) << error;
                EXPECT_TRUE(FileBytes(target) == FileBytes(once)) << name;
                EXPECT_FALSE(fs::exists(target + ".unfinished.mbtiles")) << name;
            }
        }
    }
}

TEST(TilePackageTest, AnotherPyramidIsRefusedUnlessOverwritten) {
    struct Change {
        const char* field;  // what the refusal names
        std::function<void(PyramidDescription&)> apply;
    };
    const Change changes[] = {
        {"tile size", [](PyramidDescription& d) { d.tileSize = 512; }},
        {"tile format", [](PyramidDescription& d) { d.format = TileFormat::Jpeg; }},
        {"levels", [](PyramidDescription& d) { d.maxLevel = 4; }},
        {"tile matrix set", [](PyramidDescription& d) { d.set.identifier = "AnotherQuad"; }},
        {"attribution", [](PyramidDescription& d) { d.attribution = "Someone else"; }},
    };
    for (const Target& t : kTargets) {
        const std::string target = TargetPath(t, "refused");
        const PyramidDescription d = SyntheticDescription(t.set, 2);
        const std::vector<SyntheticTile> tiles = SyntheticTiles(d);
        std::string error;
        ASSERT_TRUE(WritePackage(target, d, tiles, error)) << Name(t) << ": " << error;
        for (const Change& change : changes) {
            PyramidDescription other = d;
            change.apply(other);
            if (std::string(t.kind) == "dir" && other.format == TileFormat::Jpeg) {
                continue;  // refused for its .png template before the package is read
            }
            error.clear();
            EXPECT_FALSE(TilePackageWriter::Open(target, other, OpenOptions{}, error)) << Name(t) << " " << change.field;
            EXPECT_NE(error.find(change.field), std::string::npos) << error;
            EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        }
        // Asked to, it starts again with nothing.
        PyramidDescription other = d;
        other.tileSize = 512;
        OpenOptions overwrite;
        overwrite.overwrite = true;
        auto writer = TilePackageWriter::Open(target, other, overwrite, error);
        ASSERT_TRUE(writer) << Name(t) << ": " << error;
        EXPECT_EQ(writer->PresentCount(), 0u) << Name(t);
        ASSERT_TRUE(writer->Finish(error)) << error;
        EXPECT_TRUE(ReadBack(target, error).empty()) << Name(t) << ": " << error;
    }
    // The set the target cannot take, and a tile of the wrong format.
    const PyramidDescription crs84 = SyntheticDescription(SyntheticSet::WorldCrs84Quad, 1);
    for (const char* kind : {"mbtiles", "pmtiles"}) {
        std::string error;
        EXPECT_FALSE(TilePackageWriter::Open(Scratch(std::string("crs84.") + kind).string(), crs84, {}, error));
        EXPECT_NE(error.find("take WebMercatorQuad only"), std::string::npos) << error;
        EXPECT_NE(error.find(".gpkg or a directory template"), std::string::npos) << error;
    }
    std::string error;
    auto writer = TilePackageWriter::Open(Scratch("format.gpkg").string(), crs84, {}, error);
    ASSERT_TRUE(writer) << error;
    const std::vector<uint8_t> jpeg{0xff, 0xd8, 0xff, 0xe0, 0, 0};
    EXPECT_FALSE(writer->Put({0, 0, 0}, jpeg, error));
    EXPECT_NE(error.find("is no png image"), std::string::npos) << error;
    EXPECT_FALSE(writer->Put({0, 2, 0}, SyntheticTiles(crs84)[0].bytes, error));
    EXPECT_NE(error.find("outside the pyramid"), std::string::npos) << error;
}

TEST(TilePackageTest, MergedPartsAreWhatOneWriterMakes) {
    for (const Target& t : kTargets) {
        const PyramidDescription d = SyntheticDescription(t.set, 3);
        const std::vector<SyntheticTile> tiles = SyntheticTiles(d);
        const std::string single = TargetPath(t, "single");
        const std::string first = TargetPath(t, "part-1");
        const std::string second = TargetPath(t, "part-2");
        const std::string merged = TargetPath(t, "merged");
        // The parts split the tiles every other one and share one, and are
        // written in another order than the single package.
        std::vector<SyntheticTile> odd, even;
        for (size_t i = 0; i < tiles.size(); ++i) (i % 2 ? odd : even).push_back(tiles[tiles.size() - 1 - i]);
        even.push_back(odd.front());
        std::string error;
        ASSERT_TRUE(WritePackage(single, d, tiles, error)) << error;
        ASSERT_TRUE(WritePackage(first, d, odd, error)) << error;
        ASSERT_TRUE(WritePackage(second, d, even, error)) << error;
        MergeReport report;
        ASSERT_TRUE(MergeParts({first, second}, merged, OpenOptions{}, report, error)) << Name(t) << ": " << error;
        EXPECT_EQ(report.tiles, tiles.size()) << Name(t);
        EXPECT_EQ(report.duplicates, 1u) << Name(t);

        PyramidDescription fromSingle, fromMerged;
        const TileMap a = ReadBack(single, error, &fromSingle);
        const TileMap b = ReadBack(merged, error, &fromMerged);
        EXPECT_TRUE(a == Expected(tiles)) << Name(t) << ": " << error;
        EXPECT_TRUE(a == b) << Name(t);
        EXPECT_EQ(FirstDifference(fromSingle, fromMerged), "") << Name(t);
        const std::string kind = t.kind;
        if (kind == "pmtiles") {
            EXPECT_TRUE(FileBytes(single) == FileBytes(merged)) << Name(t);
        }
        if (kind == "mbtiles") {
            const char* sql = "SELECT name, value FROM metadata ORDER BY name";
            EXPECT_EQ(Rows(single, sql), Rows(merged, sql));
        }
        if (kind == "gpkg") {
            for (const char* sql : {"SELECT table_name, data_type, identifier, description, min_x, min_y, max_x, max_y,"
                                    " srs_id FROM gpkg_contents",
                                    "SELECT * FROM gpkg_tile_matrix_set", "SELECT * FROM gpkg_tile_matrix ORDER BY zoom_level",
                                    "SELECT * FROM gpkg_spatial_ref_sys ORDER BY srs_id", "SELECT * FROM gpkg_metadata"}) {
                EXPECT_EQ(Rows(single, sql), Rows(merged, sql)) << sql;
            }
        }
        if (kind == "dir") {
            EXPECT_TRUE(FileBytes(fs::path(single).parent_path().parent_path().parent_path() / "tilejson.json") ==
                        FileBytes(fs::path(merged).parent_path().parent_path().parent_path() / "tilejson.json"));
        }
    }
}

TEST(TilePackageTest, MergeRefusesPartsThatDisagree) {
    const Target t{"pmtiles", SyntheticSet::WebMercatorQuad};
    const PyramidDescription d = SyntheticDescription(t.set, 2);
    const std::vector<SyntheticTile> tiles = SyntheticTiles(d);
    const std::string first = TargetPath(t, "disagree-1");
    const std::string second = TargetPath(t, "disagree-2");
    const std::string third = TargetPath(t, "disagree-3");
    const std::string merged = TargetPath(t, "disagree-merged");
    std::vector<SyntheticTile> changed = {tiles[3], tiles[4]};
    changed[1].bytes.push_back(0);  // the same place, other bytes
    PyramidDescription other = d;
    other.name = "Another layer";
    std::string error;
    ASSERT_TRUE(WritePackage(first, d, tiles, error)) << error;
    ASSERT_TRUE(WritePackage(second, d, changed, error)) << error;
    ASSERT_TRUE(WritePackage(third, other, {tiles[0]}, error)) << error;
    MergeReport report;
    EXPECT_FALSE(MergeParts({first, second}, merged, OpenOptions{}, report, error));
    const PyramidTile bad = changed[1].tile;
    EXPECT_NE(error.find("hold different tiles at level " + std::to_string(bad.level) + " column " +
                         std::to_string(bad.column) + " row " + std::to_string(bad.row)),
              std::string::npos)
        << error;
    EXPECT_FALSE(MergeParts({first, third}, merged, OpenOptions{}, report, error));
    EXPECT_NE(error.find("describe other pyramids (name"), std::string::npos) << error;
    EXPECT_FALSE(MergeParts({first, first}, first, OpenOptions{}, report, error));
    EXPECT_NE(error.find("the merge's own target"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(merged)) << "a refused merge wrote nothing";
    EXPECT_FALSE(fs::exists(merged + ".unfinished.mbtiles"));
}

TEST(TilePackageTest, LargeArchivesUseLeafDirectoriesAndSurviveDamage) {
    // Levels 0-7 hold 21845 tiles: too many entries for the root directory.
    const PyramidDescription d = SyntheticDescription(SyntheticSet::WebMercatorQuad, 7);
    const std::vector<SyntheticTile> tiles = SyntheticByteStrings(d);
    const std::string target = Scratch("large.pmtiles").string();
    std::string error;
    ASSERT_TRUE(WritePackage(target, d, tiles, error)) << error;
    EXPECT_TRUE(ReadBack(target, error) == Expected(tiles)) << error;
    const std::vector<uint8_t> archive = FileBytes(target);
    PmtilesHeader header;
    ASSERT_TRUE(DecodeHeader(archive.data(), header, error)) << error;
    EXPECT_GT(header.leavesLength, 0u);
    EXPECT_LE(header.rootOffset + header.rootLength, kPmtilesFirstRead);
    EXPECT_LT(header.tileContents, header.tileEntries);
    EXPECT_LT(header.tileEntries, header.addressedTiles);

    // Cut short or with bytes changed in its header, directories or
    // metadata, the archive is refused or read within its bounds; never
    // trusted past them.
    struct Damage {
        const char* what;
        size_t keep;        // bytes kept from the start
        size_t flipAt;      // a byte changed there, if below keep
        bool mustFail;
    };
    const size_t leaves = header.leavesOffset;
    const Damage damages[] = {
        {"empty", 0, SIZE_MAX, true},
        {"header cut", 100, SIZE_MAX, true},
        {"root cut", header.rootOffset + header.rootLength / 2, SIZE_MAX, true},
        {"tiles cut", archive.size() - 3, SIZE_MAX, true},
        {"magic", archive.size(), 0, true},
        {"root offset", archive.size(), 8 + 7, true},
        {"root bytes", archive.size(), header.rootOffset + 20, false},
        {"metadata bytes", archive.size(), header.metadataOffset + 30, false},
        {"leaf bytes", archive.size(), leaves + 40, false},
        {"leaf bytes later", archive.size(), leaves + header.leavesLength - 9, false},
        {"tile data length", archive.size(), 64 + 3, true},
    };
    for (const Damage& damage : damages) {
        std::vector<uint8_t> bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(damage.keep));
        if (damage.flipAt < bytes.size()) bytes[damage.flipAt] ^= 0x5a;
        const std::string damaged = Scratch(std::string("damaged-") + damage.what + ".pmtiles").string();
        std::ofstream(damaged, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
        error.clear();
        const TileMap read = ReadBack(damaged, error);
        if (damage.mustFail) {
            EXPECT_NE(error, "") << damage.what;
            EXPECT_NE(error.find(damaged), std::string::npos) << damage.what << ": " << error;
        }
        if (error.empty()) {
            EXPECT_LE(read.size(), tiles.size()) << damage.what;
        }
    }
}

}  // namespace
