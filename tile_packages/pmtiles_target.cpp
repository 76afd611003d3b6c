#include "tile_packages/pmtiles_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tile_packages/existing_package.h"
#include "tile_packages/mbtiles_target.h"
#include "tile_packages/pmtiles_archive.h"

namespace tile_packages {
namespace {

std::string BuildingPath(const std::string& target) { return target + ".building"; }
std::string ImportingPath(const std::string& target) { return target + ".unfinished.mbtiles.copying"; }

bool Exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

bool Remove(const std::string& path, std::string& error) {
    std::error_code failure;
    std::filesystem::remove(path, failure);
    if (failure) error = "cannot remove " + path + ": " + failure.message();
    return !failure;
}

// Syncs the folder holding `path`, so that a rename into it survives a
// power failure too.
void SyncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// True when a staging file exists and holds a package (a writer killed
// while making it leaves it without tables); false with an error when it
// cannot be read.
bool HoldsPackage(const std::string& path, std::string& error) {
    error.clear();
    if (!Exists(path)) return false;
    auto database = SqliteDatabase::Open(path, false, error);
    if (!database) return false;
    const bool empty = database->IsEmpty(error);
    return error.empty() && !empty;
}

class PmtilesStore final : public PackageStore {
public:
    PmtilesStore(std::string target, PyramidDescription description, std::unique_ptr<PackageStore> staging)
        : target(std::move(target)), description(std::move(description)), staging(std::move(staging)) {}

    bool Put(const PyramidTile& tile, const uint8_t* bytes, size_t size, std::string& error) override {
        if (!staging && !(staged ? ReopenStaging(error) : StageFinishedArchive(error))) return false;
        return staging->Put(tile, bytes, size, error);
    }

    bool Commit(std::string& error) override { return !staging || staging->Commit(error); }

    bool Finish(std::string& error) override {
        // A finished archive that took no tile stays as it is.
        if (!staged) return true;
        if (staging) {
            if (!staging->Finish(error)) return false;
            staging.reset();
        }
        const std::string stagingPath = PmtilesStagingPath(target);
        const std::string building = BuildingPath(target);
        {
            auto tiles = OpenSqliteReader(kMbtilesTarget, stagingPath, error);
            if (!tiles || !BuildPmtilesArchive(*tiles, building, error)) return false;
        }
        if (std::rename(building.c_str(), target.c_str()) != 0) {
            error = "cannot rename " + building + " to " + target + ": " + std::strerror(errno);
            return false;
        }
        SyncFolderOf(target);
        if (!RemoveSqliteFile(stagingPath, error)) return false;
        staged = false;
        return true;
    }

private:
    // Tiles put into a finished archive: its tiles are copied into a new
    // staging file first, which the next Finish builds the archive from.
    // The copy is made under another name and renamed when whole, so that
    // a staging file never holds less than the archive.
    bool StageFinishedArchive(std::string& error) {
        const std::string stagingPath = PmtilesStagingPath(target);
        const std::string copying = ImportingPath(target);
        {
            auto archive = OpenPmtilesArchive(target, error);
            std::vector<PyramidTile> tiles;
            if (!archive || !archive->ListTiles(tiles, error)) return false;
            std::vector<uint64_t> none;
            auto copy = OpenSqliteTarget(kMbtilesTarget, copying, description, true, none, error);
            if (!copy) return false;
            std::vector<uint8_t> bytes;
            for (size_t i = 0; i < tiles.size(); ++i) {
                if (!archive->ReadTile(tiles[i], bytes, error) || !copy->Put(tiles[i], bytes.data(), bytes.size(), error)) {
                    if (error.empty()) error = target + " lost a tile while it was staged";
                    return false;
                }
                if ((i + 1) % kDefaultBatchTiles == 0 && !copy->Commit(error)) return false;
            }
            if (!copy->Finish(error)) return false;
        }
        if (std::rename(copying.c_str(), stagingPath.c_str()) != 0) {
            error = "cannot rename " + copying + " to " + stagingPath + ": " + std::strerror(errno);
            return false;
        }
        return ReopenStaging(error);
    }

    bool ReopenStaging(std::string& error) {
        std::vector<uint64_t> present;
        staging = OpenSqliteTarget(kMbtilesTarget, PmtilesStagingPath(target), description, false, present, error);
        staged = staging != nullptr;
        return staged;
    }

    const std::string target;
    const PyramidDescription description;
    std::unique_ptr<PackageStore> staging;  // open while tiles are put
    bool staged = staging != nullptr;       // the tiles are in the staging file, not yet in the archive
};

}  // namespace

std::string PmtilesStagingPath(const std::string& target) { return target + ".unfinished.mbtiles"; }

std::unique_ptr<PackageStore> OpenPmtilesTarget(const std::string& target, const PyramidDescription& description,
                                                bool overwrite, std::vector<uint64_t>& present, std::string& error) {
    const std::string stagingPath = PmtilesStagingPath(target);
    // An interrupted build or copy left at most a partial file under its
    // own name: never the archive or the staging file themselves.
    if (!Remove(BuildingPath(target), error) || !RemoveSqliteFile(ImportingPath(target), error)) return nullptr;
    if (overwrite && (!Remove(target, error) || !RemoveSqliteFile(stagingPath, error))) return nullptr;
    std::unique_ptr<PackageStore> staging;
    if (HoldsPackage(stagingPath, error) || !Exists(target)) {
        staging = OpenSqliteTarget(kMbtilesTarget, stagingPath, description, false, present, error);
        if (!staging) return nullptr;
    } else {
        if (!error.empty() || !RemoveSqliteFile(stagingPath, error)) return nullptr;
        auto archive = OpenPmtilesArchive(target, error);
        if (!archive || !AdoptExisting(*archive, target, description, present, error)) return nullptr;
    }
    return std::make_unique<PmtilesStore>(target, description, std::move(staging));
}

std::unique_ptr<TilePackageReader> OpenPmtilesReader(const std::string& target, std::string& error) {
    const std::string stagingPath = PmtilesStagingPath(target);
    if (HoldsPackage(stagingPath, error)) return OpenSqliteReader(kMbtilesTarget, stagingPath, error);
    if (!error.empty()) return nullptr;
    return OpenPmtilesArchive(target, error);
}

}  // namespace tile_packages
