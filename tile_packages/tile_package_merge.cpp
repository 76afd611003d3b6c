#include <algorithm>
#include <filesystem>

#include "tile_packages/tile_package.h"

namespace tile_packages {
namespace {

struct Part {
    std::string path;
    std::unique_ptr<TilePackageReader> reader;
    std::vector<uint64_t> tiles;  // packed, ascending
};

std::string Where(uint64_t packed) {
    const PyramidTile tile = UnpackTile(packed);
    return "level " + std::to_string(tile.level) + " column " + std::to_string(tile.column) + " row " +
           std::to_string(tile.row);
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code failure;
    return std::filesystem::equivalent(a, b, failure);
}

bool OpenParts(const std::vector<std::string>& paths, const std::string& target, std::vector<Part>& parts,
               std::string& error) {
    if (paths.empty()) {
        error = "nothing to merge: no parts given";
        return false;
    }
    for (const std::string& path : paths) {
        if (path == target || SameFile(path, target)) {
            error = "the part " + path + " is the merge's own target";
            return false;
        }
        Part part{path, TilePackageReader::Open(path, error), {}};
        if (!part.reader) return false;
        if (!parts.empty()) {
            const std::string difference = FirstDifference(parts.front().reader->Description(), part.reader->Description());
            if (!difference.empty()) {
                error = "the parts " + parts.front().path + " and " + path + " describe other pyramids (" + difference + ")";
                return false;
            }
        }
        std::vector<PyramidTile> tiles;
        if (!part.reader->ListTiles(tiles, error)) return false;
        part.tiles.reserve(tiles.size());
        for (const PyramidTile& tile : tiles) part.tiles.push_back(PackTile(tile));
        parts.push_back(std::move(part));
    }
    return true;
}

// A tile that two parts hold must hold the same bytes in both; the count
// of such tiles, or false naming the first that differs.
bool CheckOverlaps(std::vector<Part>& parts, size_t& duplicates, std::string& error) {
    duplicates = 0;
    size_t conflicts = 0;
    std::string first;
    std::vector<uint8_t> a, b;
    for (size_t i = 0; i < parts.size(); ++i) {
        for (size_t j = i + 1; j < parts.size(); ++j) {
            std::vector<uint64_t> shared;
            std::set_intersection(parts[i].tiles.begin(), parts[i].tiles.end(), parts[j].tiles.begin(),
                                  parts[j].tiles.end(), std::back_inserter(shared));
            for (uint64_t packed : shared) {
                const PyramidTile tile = UnpackTile(packed);
                if (!parts[i].reader->ReadTile(tile, a, error) || !parts[j].reader->ReadTile(tile, b, error)) {
                    if (error.empty()) error = "a tile at " + Where(packed) + " went missing while the parts were read";
                    return false;
                }
                if (a == b) {
                    ++duplicates;
                } else if (conflicts++ == 0) {
                    first = parts[i].path + " and " + parts[j].path + " hold different tiles at " + Where(packed);
                }
            }
        }
    }
    if (conflicts > 0) {
        error = first + (conflicts > 1 ? " (and " + std::to_string(conflicts - 1) + " more tiles differ)" : "");
        return false;
    }
    return true;
}

}  // namespace

bool MergeParts(const std::vector<std::string>& paths, const std::string& target, const OpenOptions& options,
                MergeReport& report, std::string& error) {
    report = MergeReport{};
    std::vector<Part> parts;
    if (!OpenParts(paths, target, parts, error) || !CheckOverlaps(parts, report.duplicates, error)) return false;
    auto writer = TilePackageWriter::Open(target, parts.front().reader->Description(), options, error);
    if (!writer) return false;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < parts.size(); ++i) {
        for (uint64_t packed : parts[i].tiles) {
            // A tile an earlier part holds is the same tile: taken once.
            bool earlier = false;
            for (size_t j = 0; j < i && !earlier; ++j) {
                earlier = std::binary_search(parts[j].tiles.begin(), parts[j].tiles.end(), packed);
            }
            if (earlier) continue;
            const PyramidTile tile = UnpackTile(packed);
            if (!parts[i].reader->ReadTile(tile, bytes, error)) {
                if (error.empty()) error = "a tile at " + Where(packed) + " went missing from " + parts[i].path;
                return false;
            }
            if (!writer->Put(tile, bytes, error)) return false;
            ++report.tiles;
        }
    }
    return writer->Finish(error);
}

}  // namespace tile_packages
