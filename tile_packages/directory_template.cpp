#include "tile_packages/directory_template.h"

#include <cctype>

namespace tile_packages {
namespace {

std::vector<std::string> SplitPath(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '/') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// Bits of `seen` per variable.
unsigned Bit(char variable) { return variable == 'z' ? 1u : variable == 'x' ? 2u : 4u; }

}  // namespace

bool DirectoryTemplate::Parse(const std::string& text, DirectoryTemplate& parsed, std::string& error) {
    DirectoryTemplate t;
    t.text = text;
    const std::vector<std::string> split = SplitPath(text);
    size_t first = split.size();
    for (size_t i = 0; i < split.size() && first == split.size(); ++i) {
        if (split[i].find('{') != std::string::npos || split[i].find('}') != std::string::npos) first = i;
    }
    unsigned seen = 0;
    for (size_t i = first; i < split.size(); ++i) {
        const std::string& part = split[i];
        std::vector<Piece> pieces;
        for (size_t at = 0; at < part.size();) {
            if (part[at] == '{' || part[at] == '}') {
                const bool variable = part.size() - at >= 3 && part[at] == '{' && part[at + 2] == '}' &&
                                      (part[at + 1] == 'z' || part[at + 1] == 'x' || part[at + 1] == 'y');
                if (!variable) {
                    error = "the template " + text + " has braces other than {z}, {x} and {y}";
                    return false;
                }
                const char name = part[at + 1];
                if (seen & Bit(name)) {
                    error = "the template " + text + " has {" + std::string(1, name) + "} twice";
                    return false;
                }
                // A number must end where a non-digit begins.
                const bool ambiguous =
                    !pieces.empty() && pieces.back().variable != 0;
                if (ambiguous) {
                    error = "the template " + text + " puts two variables side by side";
                    return false;
                }
                seen |= Bit(name);
                pieces.push_back({name, {}});
                at += 3;
            } else {
                if (pieces.empty() || pieces.back().variable != 0) {
                    if (!pieces.empty() && std::isdigit(static_cast<unsigned char>(part[at]))) {
                        error = "the template " + text + " puts a digit right after a variable";
                        return false;
                    }
                    pieces.push_back({0, {}});
                }
                pieces.back().literal += part[at++];
            }
        }
        if (part.empty() || part == "." || part == "..") {
            error = "the template " + text + " has an empty, . or .. part after its first variable";
            return false;
        }
        t.parts.push_back(std::move(pieces));
        t.belowRoot += (i > first ? "/" : "") + part;
    }
    if (seen != 7) {
        error = "the template " + text + " lacks one of {z}, {x} and {y}";
        return false;
    }
    for (size_t i = 0; i < first; ++i) t.root += (i > 0 ? "/" : "") + split[i];
    if (t.root.empty()) t.root = first > 0 ? "/" : ".";
    parsed = std::move(t);
    return true;
}

std::string DirectoryTemplate::PathOf(const PyramidTile& tile) const {
    std::string path = root;
    for (const std::vector<Piece>& part : parts) {
        path += '/';
        for (const Piece& piece : part) {
            switch (piece.variable) {
                case 'z': path += std::to_string(tile.level); break;
                case 'x': path += std::to_string(tile.column); break;
                case 'y': path += std::to_string(tile.row); break;
                default: path += piece.literal;
            }
        }
    }
    return path;
}

bool DirectoryTemplate::MatchPart(size_t index, const std::string& name, PyramidTile& tile, unsigned& seen) const {
    size_t at = 0;
    for (const Piece& piece : parts[index]) {
        if (piece.variable == 0) {
            if (name.compare(at, piece.literal.size(), piece.literal) != 0) return false;
            at += piece.literal.size();
            continue;
        }
        const size_t start = at;
        uint64_t value = 0;
        while (at < name.size() && std::isdigit(static_cast<unsigned char>(name[at])) && at - start < 10) {
            value = value * 10 + static_cast<uint64_t>(name[at++] - '0');
        }
        const size_t digits = at - start;
        if (digits == 0 || digits > 9 || (digits > 1 && name[start] == '0')) return false;
        if (piece.variable == 'z') {
            if (value > static_cast<uint64_t>(kMaxLevel)) return false;
            tile.level = static_cast<int>(value);
        } else if (piece.variable == 'x') {
            tile.column = static_cast<uint32_t>(value);
        } else {
            tile.row = static_cast<uint32_t>(value);
        }
        seen |= Bit(piece.variable);
    }
    return at == name.size();
}

std::string DirectoryTemplate::Extension() const {
    const std::vector<Piece>& last = parts.back();
    if (last.back().variable != 0) return {};
    const std::string& tail = last.back().literal;
    const size_t dot = tail.rfind('.');
    return dot == std::string::npos ? std::string() : tail.substr(dot + 1);
}

}  // namespace tile_packages
