#pragma once

#include <string>
#include <vector>

#include "tile_packages/pyramid.h"

namespace tile_packages {

// A directory target's template, such as out/{z}/{x}/{y}.png: each of
// {z}, {x}, {y} exactly once, rows from the north. The folder before the
// first part with a variable is the package's root, where tilejson.json
// lies and below which the tiles are found again.
class DirectoryTemplate {
public:
    // False, with the reason, for a template without each variable once, with
    // another braced name, or with a variable whose end cannot be told
    // from what follows it.
    static bool Parse(const std::string& text, DirectoryTemplate& parsed, std::string& error);

    const std::string& Text() const { return text; }
    // The root folder ("." for a template that starts with a variable).
    const std::string& Root() const { return root; }
    // The template below the root, as TileJSON's tiles entry gives it.
    const std::string& BelowRoot() const { return belowRoot; }
    size_t Depth() const { return parts.size(); }

    // The file of one tile.
    std::string PathOf(const PyramidTile& tile) const;
    // Whether a name matches part `index` below the root, reading its
    // variables into `tile`; numbers are plain decimals without leading
    // zeros, as PathOf writes them.
    bool MatchPart(size_t index, const std::string& name, PyramidTile& tile, unsigned& seen) const;
    // The file name extension the template ends with ("" for none).
    std::string Extension() const;

private:
    struct Piece {
        char variable;        // 'z', 'x', 'y', or 0 for literal text
        std::string literal;
    };
    std::string text, root, belowRoot;
    std::vector<std::vector<Piece>> parts;  // below the root, one per path part
};

}  // namespace tile_packages
