#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tile_packages/gzip.h"
#include "tile_packages/package_store.h"
#include "tile_packages/pmtiles_archive.h"
#include "tile_packages/pmtiles_format.h"
#include "tile_packages/pyramid_json.h"

namespace tile_packages {
namespace {

// Bounds on what an archive may make a reader hold: its metadata, and all
// its directories together once decompressed (entries take at least four
// bytes each there), and the tiles its runs may list.
constexpr size_t kMaxMetadataBytes = 4u << 20;
constexpr size_t kMaxDirectoryBytes = 256u << 20;
constexpr uint64_t kMaxListedTiles = uint64_t{1} << 27;
// Leaves of leaves are allowed; deeper nesting is damage.
constexpr int kMaxDirectoryDepth = 3;

class PmtilesArchiveReader final : public TilePackageReader {
public:
    PmtilesArchiveReader(std::string path, int fd) : path(std::move(path)), fd(fd) {}
    ~PmtilesArchiveReader() override { close(fd); }

    bool Load(std::string& error) {
        struct stat info;
        if (fstat(fd, &info) != 0) return Fail("cannot read it", error);
        fileSize = static_cast<uint64_t>(info.st_size);
        std::vector<uint8_t> header;
        if (!ReadAt(0, kPmtilesHeaderBytes, header, error)) return false;
        std::string why;
        if (!DecodeHeader(header.data(), this->header, why)) return Fail(why, error);
        const PmtilesHeader& h = this->header;
        if (!Within(h.rootOffset, h.rootLength, fileSize) || !Within(h.metadataOffset, h.metadataLength, fileSize) ||
            !Within(h.leavesOffset, h.leavesLength, fileSize) || !Within(h.tileDataOffset, h.tileDataLength, fileSize)) {
            return Fail("its header places a section beyond the end of the file", error);
        }
        if (h.internalCompression != PmtilesCompression::Gzip && h.internalCompression != PmtilesCompression::None) {
            return Fail("its directories are compressed in a way this reader does not take", error);
        }
        if (h.tileCompression != PmtilesCompression::None) return Fail("its tiles are compressed", error);
        return LoadMetadata(error) && LoadDirectory(h.rootOffset, h.rootLength, 0, error);
    }

    const PyramidDescription& Description() const override { return description; }

    bool ListTiles(std::vector<PyramidTile>& tiles, std::string& error) override {
        uint64_t total = 0;
        for (const PmtilesEntry& e : entries) total += e.runLength;
        if (total > kMaxListedTiles) return Fail("it lists more than " + std::to_string(kMaxListedTiles) + " tiles", error);
        tiles.clear();
        tiles.reserve(total);
        for (const PmtilesEntry& e : entries) {
            for (uint64_t id = e.tileId; id < e.tileId + e.runLength; ++id) {
                PyramidTile tile;
                if (!PmtilesTileFromId(id, tile) || !InPyramid(description, tile)) {
                    return Fail("it holds tile id " + std::to_string(id) + ", outside its pyramid", error);
                }
                tiles.push_back(tile);
            }
        }
        SortTiles(tiles);
        return true;
    }

    bool ReadTile(const PyramidTile& tile, std::vector<uint8_t>& bytes, std::string& error) override {
        error.clear();
        if (!InPyramid(description, tile)) return false;
        const uint64_t id = PmtilesTileId(tile.level, tile.column, tile.row);
        auto after = std::upper_bound(entries.begin(), entries.end(), id,
                                      [](uint64_t value, const PmtilesEntry& e) { return value < e.tileId; });
        if (after == entries.begin()) return false;
        const PmtilesEntry& e = *(after - 1);
        if (id >= e.tileId + e.runLength) return false;
        if (e.length > kMaxTileBytes) return Fail("a tile is larger than " + std::to_string(kMaxTileBytes) + " bytes", error);
        if (!Within(e.offset, e.length, header.tileDataLength)) return Fail("a tile lies beyond its tile data", error);
        return ReadAt(header.tileDataOffset + e.offset, e.length, bytes, error);
    }

private:
    static bool Within(uint64_t offset, uint64_t length, uint64_t size) {
        return offset <= size && length <= size - offset;
    }

    bool Fail(const std::string& why, std::string& error) const {
        error = path + ": " + why;
        return false;
    }

    bool ReadAt(uint64_t offset, uint64_t length, std::vector<uint8_t>& bytes, std::string& error) const {
        if (!Within(offset, length, fileSize)) return Fail("it is cut short", error);
        bytes.resize(length);
        size_t done = 0;
        while (done < length) {
            const ssize_t got = pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return Fail(got < 0 ? std::strerror(errno) : "it is cut short", error);
            done += static_cast<size_t>(got);
        }
        return true;
    }

    // A section as stored: gzip or plain, as the header says.
    bool ReadSection(uint64_t offset, uint64_t length, size_t limit, std::vector<uint8_t>& bytes, std::string& error) {
        if (length > limit) return Fail("a directory or its metadata is too large", error);
        std::vector<uint8_t> stored;
        if (!ReadAt(offset, length, stored, error)) return false;
        if (header.internalCompression == PmtilesCompression::None) {
            bytes.swap(stored);
            return true;
        }
        std::string why;
        if (!Gunzip(stored.data(), stored.size(), limit, bytes, why)) return Fail(why, error);
        return true;
    }

    bool LoadMetadata(std::string& error) {
        std::vector<uint8_t> text;
        if (!ReadSection(header.metadataOffset, header.metadataLength, kMaxMetadataBytes, text, error)) return false;
        const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
        if (json.is_discarded() || !json.is_object() || !json.contains("tile_pyramid")) {
            return Fail("its metadata holds no tile_pyramid record: it was not made as a tile package", error);
        }
        std::string why;
        if (!DescriptionFromObject(json["tile_pyramid"], description, why)) return Fail(why, error);
        if (description.set.epsg != 3857 || description.set.columns != 1 || description.set.rows != 1 ||
            PmtilesTileType(description.format) != header.tileType) {
            return Fail("its tile_pyramid record does not match the archive", error);
        }
        return true;
    }

    // The tile entries of a directory and of the leaves it points at, in
    // tile-id order.
    bool LoadDirectory(uint64_t offset, uint64_t length, int depth, std::string& error) {
        if (depth > kMaxDirectoryDepth) return Fail("its leaf directories nest too deep", error);
        std::vector<uint8_t> bytes;
        if (!ReadSection(offset, length, kMaxDirectoryBytes - directoryBytes, bytes, error)) return false;
        directoryBytes += bytes.size();
        std::vector<PmtilesEntry> directory;
        std::string why;
        if (!DecodeDirectory(bytes, directory, why)) return Fail(why, error);
        for (const PmtilesEntry& e : directory) {
            if (!entries.empty() && e.tileId < entries.back().tileId + entries.back().runLength) {
                return Fail("its directory entries are out of order", error);
            }
            if (e.runLength > 0) {
                entries.push_back(e);
            } else if (!Within(e.offset, e.length, header.leavesLength) ||
                       !LoadDirectory(header.leavesOffset + e.offset, e.length, depth + 1, error)) {
                return error.empty() ? Fail("a leaf directory lies beyond its section", error) : false;
            }
        }
        return true;
    }

    const std::string path;
    const int fd;
    uint64_t fileSize = 0;
    PmtilesHeader header;
    PyramidDescription description;
    std::vector<PmtilesEntry> entries;  // tile entries of all directories, by tile id
    size_t directoryBytes = 0;
};

}  // namespace

std::unique_ptr<TilePackageReader> OpenPmtilesArchive(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    auto reader = std::make_unique<PmtilesArchiveReader>(path, fd);
    if (!reader->Load(error)) return nullptr;
    return reader;
}

}  // namespace tile_packages
