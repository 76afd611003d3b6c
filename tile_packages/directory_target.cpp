#include "tile_packages/directory_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "tile_packages/directory_template.h"
#include "tile_packages/existing_package.h"
#include "tile_packages/pyramid_json.h"

namespace tile_packages {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartial = ".partial";
// tilejson.json is a few kilobytes; a larger one is not ours.
constexpr size_t kMaxTileJsonBytes = 1u << 20;

std::string TileJsonPath(const DirectoryTemplate& t) { return t.Root() + "/tilejson.json"; }

bool ReadFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.clear();
    uint8_t buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) break;
        if (bytes.size() + static_cast<size_t>(got) > limit) {
            error = path + " is larger than " + std::to_string(limit) + " bytes";
            ok = false;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    close(fd);
    return ok;
}

// Writes `path` whole or not at all: under the temporary name, then
// renamed over it.
bool WriteWhole(const std::string& path, const uint8_t* bytes, size_t size, std::string& error) {
    const std::string partial = path + kPartial;
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + partial + ": " + std::strerror(errno);
        return false;
    }
    bool written = true;
    for (size_t done = 0; written && done < size;) {
        const ssize_t put = write(fd, bytes + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        written = put > 0;
        if (written) done += static_cast<size_t>(put);
    }
    if (close(fd) != 0) written = false;
    if (!written || std::rename(partial.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

// Every file below the root that the template names, and every partial
// file left by a killed writer; folders after their contents.
struct Visitor {
    std::function<void(const PyramidTile&, const std::string&)> tile;
    std::function<void(const std::string&)> partial;
    std::function<void(const std::string&)> folderDone;
};

bool Walk(const DirectoryTemplate& t, const std::string& folder, size_t index, PyramidTile tile, unsigned seen,
          const Visitor& visit, std::string& error) {
    std::error_code failure;
    fs::directory_iterator it(folder, failure), end;
    if (failure) {
        if (failure == std::errc::no_such_file_or_directory) return true;
        error = "cannot list " + folder + ": " + failure.message();
        return false;
    }
    const bool last = index + 1 == t.Depth();
    for (; it != end; it.increment(failure)) {
        const std::string name = it->path().filename().string();
        const std::string path = folder + "/" + name;
        PyramidTile found = tile;
        unsigned foundSeen = seen;
        std::error_code ignored;
        if (!last) {
            if (it->is_directory(ignored) && t.MatchPart(index, name, found, foundSeen) &&
                !Walk(t, path, index + 1, found, foundSeen, visit, error)) {
                return false;
            }
        } else if (it->is_regular_file(ignored)) {
            const size_t n = std::strlen(kPartial);
            if (name.size() > n && name.compare(name.size() - n, n, kPartial) == 0) {
                if (t.MatchPart(index, name.substr(0, name.size() - n), found, foundSeen)) visit.partial(path);
            } else if (t.MatchPart(index, name, found, foundSeen) && foundSeen == 7) {
                visit.tile(found, path);
            }
        }
    }
    if (failure) {
        error = "cannot list " + folder + ": " + failure.message();
        return false;
    }
    if (index > 0) visit.folderDone(folder);
    return true;
}

bool WalkTemplate(const DirectoryTemplate& t, const Visitor& visit, std::string& error) {
    return Walk(t, t.Root(), 0, PyramidTile{}, 0, visit, error);
}

class DirectoryStore final : public PackageStore {
public:
    explicit DirectoryStore(DirectoryTemplate pattern) : pattern(std::move(pattern)) {}

    bool Put(const PyramidTile& tile, const uint8_t* bytes, size_t size, std::string& error) override {
        const std::string path = pattern.PathOf(tile);
        const std::string folder = fs::path(path).parent_path().string();
        if (folder != madeFolder) {
            std::error_code failure;
            fs::create_directories(folder, failure);
            if (failure) {
                error = "cannot make the folder " + folder + ": " + failure.message();
                return false;
            }
            madeFolder = folder;
        }
        return WriteWhole(path, bytes, size, error);
    }

    // Each tile is whole on disk once Put returns.
    bool Commit(std::string&) override { return true; }
    bool Finish(std::string&) override { return true; }

private:
    const DirectoryTemplate pattern;
    std::string madeFolder;
};

class DirectoryReader final : public TilePackageReader {
public:
    DirectoryReader(DirectoryTemplate pattern, PyramidDescription description)
        : pattern(std::move(pattern)), description(std::move(description)) {}

    const PyramidDescription& Description() const override { return description; }

    bool ListTiles(std::vector<PyramidTile>& tiles, std::string& error) override {
        tiles.clear();
        // Files the template names outside the pyramid are not the
        // package's: left where they are and not listed.
        const Visitor visit{[&](const PyramidTile& tile, const std::string&) {
                                if (InPyramid(description, tile)) tiles.push_back(tile);
                            },
                            [](const std::string&) {}, [](const std::string&) {}};
        if (!WalkTemplate(pattern, visit, error)) return false;
        SortTiles(tiles);
        return true;
    }

    bool ReadTile(const PyramidTile& tile, std::vector<uint8_t>& bytes, std::string& error) override {
        error.clear();
        if (!InPyramid(description, tile)) return false;
        const std::string path = pattern.PathOf(tile);
        std::error_code failure;
        if (!fs::exists(path, failure)) return false;
        return ReadFile(path, kMaxTileBytes, bytes, error);
    }

private:
    const DirectoryTemplate pattern;
    const PyramidDescription description;
};

// The description tilejson.json holds, checked to be of this template.
bool ReadTileJson(const DirectoryTemplate& pattern, PyramidDescription& description, std::string& error) {
    const std::string path = TileJsonPath(pattern);
    std::vector<uint8_t> text;
    if (!ReadFile(path, kMaxTileJsonBytes, text, error)) return false;
    const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("tile_pyramid")) {
        error = path + " holds no tile_pyramid record: it was not made as a tile package";
        return false;
    }
    const bool same = json.contains("tiles") && json["tiles"].is_array() && json["tiles"].size() == 1 &&
                      json["tiles"][0] == pattern.BelowRoot();
    if (!same) {
        error = path + " describes tiles under another template than " + pattern.BelowRoot();
        return false;
    }
    std::string why;
    if (!DescriptionFromObject(json["tile_pyramid"], description, why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

bool WriteTileJson(const DirectoryTemplate& pattern, const PyramidDescription& d, std::string& error) {
    nlohmann::json json = ClientMetadata(d);
    json["tilejson"] = "3.0.0";
    json["tiles"] = {pattern.BelowRoot()};
    json["scheme"] = "xyz";
    json["minzoom"] = d.minLevel;
    json["maxzoom"] = d.maxLevel;
    json["bounds"] = {d.area.west, d.area.south, d.area.east, d.area.north};
    json["center"] = {(d.area.west + d.area.east) / 2, (d.area.south + d.area.north) / 2, d.minLevel};
    const std::string text = json.dump(2) + "\n";
    std::error_code failure;
    fs::create_directories(pattern.Root(), failure);
    if (failure) {
        error = "cannot make the folder " + pattern.Root() + ": " + failure.message();
        return false;
    }
    return WriteWhole(TileJsonPath(pattern), reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
}

// Removes the package: the files the template names, partial files, the
// folders they leave empty, and tilejson.json.
bool RemovePackage(const DirectoryTemplate& pattern, std::string& error) {
    std::string failed;
    auto remove = [&failed](const std::string& path) {
        std::error_code failure;
        fs::remove(path, failure);
        if (failure && failed.empty()) failed = "cannot remove " + path + ": " + failure.message();
    };
    auto removeIfEmpty = [](const std::string& folder) {
        std::error_code ignored;
        if (fs::is_empty(folder, ignored)) fs::remove(folder, ignored);
    };
    const Visitor visit{[&](const PyramidTile&, const std::string& path) { remove(path); }, remove, removeIfEmpty};
    if (!WalkTemplate(pattern, visit, error)) return false;
    remove(TileJsonPath(pattern));
    error = failed;
    return failed.empty();
}

}  // namespace

std::unique_ptr<PackageStore> OpenDirectoryTarget(const std::string& target, const PyramidDescription& description,
                                                  bool overwrite, std::vector<uint64_t>& present, std::string& error) {
    DirectoryTemplate pattern;
    if (!DirectoryTemplate::Parse(target, pattern, error)) return nullptr;
    const std::string extension = pattern.Extension();
    const bool imageExtension = extension == "png" || extension == "jpg" || extension == "jpeg" || extension == "webp";
    const bool matches = extension == FileExtension(description.format) ||
                         (description.format == TileFormat::Jpeg && extension == "jpeg");
    if (imageExtension && !matches) {
        error = "the template " + target + " ends in ." + extension + " but the tiles are " +
                FileExtension(description.format);
        return nullptr;
    }
    if (overwrite && !RemovePackage(pattern, error)) return nullptr;
    present.clear();
    std::error_code failure;
    if (fs::exists(TileJsonPath(pattern), failure)) {
        PyramidDescription stored;
        if (!ReadTileJson(pattern, stored, error) || !RefuseOtherPyramid(stored, TileJsonPath(pattern), description, error)) {
            return nullptr;
        }
        // One walk gathers the tiles and removes the partial files of
        // tiles a killed writer did not finish.
        std::string failed;
        const Visitor visit{[&](const PyramidTile& tile, const std::string&) {
                                if (InPyramid(description, tile)) present.push_back(PackTile(tile));
                            },
                            [&failed](const std::string& path) {
                                if (std::remove(path.c_str()) != 0 && failed.empty()) failed = "cannot remove " + path;
                            },
                            [](const std::string&) {}};
        if (!WalkTemplate(pattern, visit, error)) return nullptr;
        if (!failed.empty()) {
            error = failed;
            return nullptr;
        }
    } else if (!WriteTileJson(pattern, description, error)) {
        return nullptr;
    }
    return std::make_unique<DirectoryStore>(std::move(pattern));
}

std::unique_ptr<TilePackageReader> OpenDirectoryReader(const std::string& target, std::string& error) {
    DirectoryTemplate pattern;
    PyramidDescription description;
    if (!DirectoryTemplate::Parse(target, pattern, error) || !ReadTileJson(pattern, description, error)) return nullptr;
    return std::make_unique<DirectoryReader>(std::move(pattern), std::move(description));
}

}  // namespace tile_packages
