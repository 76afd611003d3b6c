#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tile_packages {

// gzip at one fixed level, so that the same bytes always compress to the
// same bytes (the archive's reproducibility rests on it).
bool Gzip(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& compressed, std::string& error);

// One gzip member back to its bytes, refused when it claims or holds more
// than `limit` bytes.
bool Gunzip(const uint8_t* compressed, size_t size, size_t limit, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace tile_packages
