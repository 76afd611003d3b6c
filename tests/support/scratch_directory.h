#pragma once

#include <filesystem>
#include <string>

// A directory of this test program's own under the system's temporary
// directory, made on first use and removed when the program's tests end, so
// that programs running at once never share files.
std::filesystem::path ScratchDirectory();

// `name` inside ScratchDirectory().
std::filesystem::path Scratch(const std::string& name);
