#include "host/program_directory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <vector>

std::string ProgramDirectory() {
    std::vector<char> path(4096);
#ifdef _WIN32
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return ".";
    const char* separators = "\\/";
#else
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return ".";
    const char* separators = "/";
#endif
    const std::string program(path.data(), static_cast<size_t>(n));
    const size_t slash = program.find_last_of(separators);
    return slash == std::string::npos ? std::string(".") : program.substr(0, slash);
}

std::string DefaultPluginPath() {
#ifdef _WIN32
    return ProgramDirectory() + "\\zarvo_data_plugin.dll";
#else
    const std::string beside = ProgramDirectory() + "/libzarvo_data_plugin.so";
    return access(beside.c_str(), F_OK) == 0 ? beside : "libzarvo_data_plugin.so.1";
#endif
}
