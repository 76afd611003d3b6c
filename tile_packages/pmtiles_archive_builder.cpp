#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "tile_packages/gzip.h"
#include "tile_packages/pmtiles_archive.h"
#include "tile_packages/pmtiles_format.h"
#include "tile_packages/pyramid_json.h"

namespace tile_packages {
namespace {

// Entries per leaf directory to try first; doubled until the root fits in
// a reader's first request.
constexpr size_t kFirstLeafEntries = 4096;

struct IdTile {
    uint64_t id;
    PyramidTile tile;
};

// A distinct content: where it lies in the tile data and the first tile
// that has it, to compare a later candidate with.
struct Content {
    uint64_t offset;
    uint32_t length;
    PyramidTile first;
};

int32_t E7(double degrees) { return static_cast<int32_t>(std::lround(degrees * 1e7)); }

// Writes the whole buffer to a file descriptor, through short writes.
bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

class Builder {
public:
    Builder(TilePackageReader& source, std::string path) : source(source), path(std::move(path)) {}

    bool Build(std::string& error) {
        if (!OrderTiles(error) || !PlanEntries(error) || !BuildDirectories(error)) return false;
        std::vector<uint8_t> metadata;
        if (!Gzip(Bytes(ClientMetadata(source.Description()).dump()), metadata, error)) return false;
        return Write(metadata, error);
    }

private:
    static std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

    bool OrderTiles(std::string& error) {
        std::vector<PyramidTile> tiles;
        if (!source.ListTiles(tiles, error)) return false;
        ordered.reserve(tiles.size());
        for (const PyramidTile& t : tiles) ordered.push_back({PmtilesTileId(t.level, t.column, t.row), t});
        std::sort(ordered.begin(), ordered.end(), [](const IdTile& a, const IdTile& b) { return a.id < b.id; });
        return true;
    }

    bool Read(const PyramidTile& tile, std::vector<uint8_t>& bytes, std::string& error) {
        if (source.ReadTile(tile, bytes, error)) return true;
        if (error.empty()) {
            error = "the tile at level " + std::to_string(tile.level) + " column " + std::to_string(tile.column) +
                    " row " + std::to_string(tile.row) + " went missing while the archive was built";
        }
        return false;
    }

    // The entries, with every content's place in the tile data, without
    // writing: a tile equal to the one before extends its run; one equal
    // to an earlier content points at it; any other is new content.
    bool PlanEntries(std::string& error) {
        std::unordered_multimap<size_t, size_t> byHash;  // content hash -> index in contents
        std::vector<uint8_t> previous, bytes, candidate;
        uint64_t dataLength = 0;
        for (const IdTile& t : ordered) {
            if (!Read(t.tile, bytes, error)) return false;
            if (!entries.empty()) {
                PmtilesEntry& last = entries.back();
                if (last.tileId + last.runLength == t.id && last.runLength < UINT32_MAX && bytes == previous) {
                    ++last.runLength;
                    continue;
                }
            }
            const size_t hash = std::hash<std::string_view>()(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            const Content* same = nullptr;
            for (auto [at, end] = byHash.equal_range(hash); at != end && !same; ++at) {
                const Content& c = contents[at->second];
                if (c.length != bytes.size()) continue;
                if (!Read(c.first, candidate, error)) return false;
                if (candidate == bytes) same = &c;
            }
            if (!same) {
                contents.push_back({dataLength, static_cast<uint32_t>(bytes.size()), t.tile});
                byHash.emplace(hash, contents.size() - 1);
                dataLength += bytes.size();
                same = &contents.back();
            }
            entries.push_back({t.id, same->offset, same->length, 1});
            previous.swap(bytes);
        }
        tileDataLength = dataLength;
        return true;
    }

    bool BuildDirectories(std::string& error) {
        if (!Gzip(EncodeDirectory(entries), root, error)) return false;
        const size_t rootRoom = kPmtilesFirstRead - kPmtilesHeaderBytes;
        for (size_t leafEntries = kFirstLeafEntries; root.size() > rootRoom; leafEntries *= 2) {
            std::vector<PmtilesEntry> rootEntries;
            leaves.clear();
            for (size_t first = 0; first < entries.size(); first += leafEntries) {
                const size_t end = std::min(entries.size(), first + leafEntries);
                std::vector<uint8_t> leaf;
                if (!Gzip(EncodeDirectory({entries.begin() + first, entries.begin() + end}), leaf, error)) return false;
                rootEntries.push_back({entries[first].tileId, leaves.size(), static_cast<uint32_t>(leaf.size()), 0});
                leaves.insert(leaves.end(), leaf.begin(), leaf.end());
            }
            if (!Gzip(EncodeDirectory(rootEntries), root, error)) return false;
        }
        return true;
    }

    PmtilesHeader Header(size_t metadataLength) const {
        const PyramidDescription& d = source.Description();
        PmtilesHeader h;
        h.rootOffset = kPmtilesHeaderBytes;
        h.rootLength = root.size();
        h.metadataOffset = h.rootOffset + h.rootLength;
        h.metadataLength = metadataLength;
        h.leavesOffset = h.metadataOffset + h.metadataLength;
        h.leavesLength = leaves.size();
        h.tileDataOffset = h.leavesOffset + h.leavesLength;
        h.tileDataLength = tileDataLength;
        h.addressedTiles = ordered.size();
        h.tileEntries = entries.size();
        h.tileContents = contents.size();
        h.clustered = true;
        h.internalCompression = PmtilesCompression::Gzip;
        h.tileCompression = PmtilesCompression::None;
        h.tileType = PmtilesTileType(d.format);
        h.minZoom = static_cast<uint8_t>(d.minLevel);
        h.maxZoom = static_cast<uint8_t>(d.maxLevel);
        h.minLonE7 = E7(d.area.west);
        h.minLatE7 = E7(d.area.south);
        h.maxLonE7 = E7(d.area.east);
        h.maxLatE7 = E7(d.area.north);
        h.centerZoom = static_cast<uint8_t>(d.minLevel);
        h.centerLonE7 = E7((d.area.west + d.area.east) / 2);
        h.centerLatE7 = E7((d.area.south + d.area.north) / 2);
        return h;
    }

    bool Write(const std::vector<uint8_t>& metadata, std::string& error) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        uint8_t header[kPmtilesHeaderBytes];
        EncodeHeader(Header(metadata.size()), header);
        bool written = WriteAll(fd, header, sizeof header) && WriteAll(fd, root.data(), root.size()) &&
                       WriteAll(fd, metadata.data(), metadata.size()) && WriteAll(fd, leaves.data(), leaves.size());
        // The tile data: each content once, in the order it was planned.
        std::vector<uint8_t> bytes;
        for (size_t i = 0; written && i < contents.size(); ++i) {
            if (!Read(contents[i].first, bytes, error)) {
                close(fd);
                return false;
            }
            if (bytes.size() != contents[i].length) {
                error = "a tile changed while the archive " + path + " was built";
                close(fd);
                return false;
            }
            written = WriteAll(fd, bytes.data(), bytes.size());
        }
        written = written && fsync(fd) == 0;
        if (close(fd) != 0) written = false;
        if (!written) error = "cannot write " + path + ": " + std::strerror(errno);
        return written;
    }

    TilePackageReader& source;
    const std::string path;
    std::vector<IdTile> ordered;
    std::vector<PmtilesEntry> entries;
    std::vector<Content> contents;
    uint64_t tileDataLength = 0;
    std::vector<uint8_t> root, leaves;
};

}  // namespace

bool BuildPmtilesArchive(TilePackageReader& source, const std::string& path, std::string& error) {
    return Builder(source, path).Build(error);
}

}  // namespace tile_packages
