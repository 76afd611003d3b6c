#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes `bytes` to `path`, replacing what was there. False when any of it
// could not be written.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
