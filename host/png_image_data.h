#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Copies a PNG held in memory so that its image data ends with the image's
// last row. The compressed rows are inflated only as far as the header's
// size reaches; whatever follows them (more compressed data, later chunks)
// is never read. The copy holds the rows stored, not compressed, so that the
// PNG decoder that reads it does no second inflating.
//
// The caller has already had the header checked by a PNG decoder and its
// size held against its limits: the rows' bytes are allocated from it.
// False, with the reason in `error`, when the image data is corrupt or ends
// before the last row.
bool CopyUpToLastRow(const std::vector<uint8_t>& png, std::vector<uint8_t>& copy, std::string& error);
