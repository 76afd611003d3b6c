#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class FileReadStatus {
    Read,     // the whole file is in `bytes`
    Missing,  // no such file (or a folder on its path is missing)
    Refused,  // anything else: not a regular file, too large, unreadable
};

// What a file that is not a regular file is: "a directory", "a named pipe",
// "a character device", "a block device", "a socket", "a symbolic link".
const char* KindOfFile(mode_t mode);

// Reads a regular file of at most `maxBytes` bytes. Directories, pipes and
// devices are refused without reading from them, and a file larger than the
// bound is refused by its size before anything is allocated; neither ever
// blocks. `error` names the path and says why when the status is not Read.
FileReadStatus ReadBoundedFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes,
                               std::string& error);
