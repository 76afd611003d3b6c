#pragma once

#include <string>

// The process series every Prometheus exporter has, read from /proc:
// process_cpu_seconds_total, process_resident_memory_bytes,
// process_virtual_memory_bytes, process_open_fds, process_max_fds,
// process_start_time_seconds and process_threads; and zarvo_build_info,
// 1 with the version as its label. A series that cannot be read is left
// out.
std::string ProcessMetrics(const std::string& version);
