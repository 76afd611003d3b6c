#pragma once

#include <cstdint>
#include <string>

// A colour as a map's parameters give it: a hexadecimal 0xRRGGBB, or one of
// the W3C's web colour names in any case (e.g. "navy", "LightSkyBlue").
// False for anything else.
bool ParseWebColour(const std::string& text, uint32_t& colour);
