#include "serve/operations/process_metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace {

void Series(std::string& text, const char* name, const char* type, const char* help, double value) {
    char line[320];
    std::snprintf(line, sizeof line, "# HELP %s %s\n# TYPE %s %s\n%s %.17g\n", name, help, name, type, name, value);
    text += line;
}

// The fields of /proc/self/stat after the command's name (which may hold
// spaces and parentheses), numbered as proc(5) numbers them from 3.
std::vector<std::string> StatFields() {
    std::ifstream in("/proc/self/stat");
    const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = line.rfind(')');
    std::vector<std::string> fields(3);
    if (close == std::string::npos) return {};
    std::istringstream rest(line.substr(close + 1));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

// Seconds since the epoch at which the system started (btime).
double BootTime() {
    std::ifstream in("/proc/stat");
    for (std::string key; in >> key;) {
        if (key == "btime") {
            double seconds = 0;
            in >> seconds;
            return seconds;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

size_t OpenDescriptors() {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return 0;
    size_t count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(folder);
    return count > 0 ? count - 1 : 0;  // less the one this reading opened
}

}  // namespace

std::string ProcessMetrics(const std::string& version) {
    std::string text;
    const std::vector<std::string> stat = StatFields();
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    // utime 14, stime 15, num_threads 20, starttime 22, vsize 23, rss 24.
    if (stat.size() > 24 && ticks > 0) {
        Series(text, "process_cpu_seconds_total", "counter", "User and system CPU time spent, in seconds.",
               (std::stod(stat[14]) + std::stod(stat[15])) / ticks);
        Series(text, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
               std::stod(stat[24]) * page);
        Series(text, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.", std::stod(stat[23]));
        Series(text, "process_threads", "gauge", "Threads of the process.", std::stod(stat[20]));
        const double boot = BootTime();
        if (boot > 0) {
            Series(text, "process_start_time_seconds", "gauge", "Start time of the process since the epoch, in seconds.",
                   boot + std::stod(stat[22]) / ticks);
        }
    }
    Series(text, "process_open_fds", "gauge", "Open file descriptors.", static_cast<double>(OpenDescriptors()));
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        Series(text, "process_max_fds", "gauge", "The most file descriptors the process may open.",
               static_cast<double>(limit.rlim_cur));
    }
    text += "# HELP zarvo_build_info The zarvo-serve that answers: always 1, its version as a label.\n"
            "# TYPE zarvo_build_info gauge\nzarvo_build_info{version=\"" + version + "\"} 1\n";
    return text;
}
