#include "host/program_files.h"

#include <unistd.h>

#include <vector>

namespace {

constexpr char kPluginFileName[] = "libzarvo_data_plugin.so";
constexpr char kPluginSoname[] = "libzarvo_data_plugin.so.1";

}  // namespace

std::string ProgramDirectory() {
    std::vector<char> path(4096);
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return ".";
    const std::string program(path.data(), static_cast<size_t>(n));
    const size_t slash = program.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : program.substr(0, slash);
}

std::string DefaultPluginPath() {
    const std::string beside = ProgramDirectory() + "/" + kPluginFileName;
    return access(beside.c_str(), F_OK) == 0 ? beside : kPluginSoname;
}
