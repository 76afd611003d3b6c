#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// One answered request, as the access log records it.
struct AccessRecord {
    std::chrono::system_clock::time_point time;  // when the request arrived
    std::string client;                           // the peer's address
    std::string method;
    std::string target;                           // as sent, query included
    int status = 0;
    uint64_t bytes = 0;                           // the body's
    double milliseconds = 0;                      // from arrival to the answer being ready
    int32_t zoom = 0;                             // the plug-in zoom of a map; 0: none
    size_t tiles = 0;                             // tiles the plug-in drew from; with zoom only
};

// The line for one request, without its newline:
//   2026-12-07T15:30:00.123Z 192.0.2.7 "GET /wms?..." 200 48213 12.345 6 12
// time (UTC), client, "method target", status, body bytes, milliseconds,
// zoom and tiles ("-" when no map was drawn). Bytes of the method and target
// that are not printable ASCII, '"' and '\' are written as \xHH, so that a
// line always is one line and its fields stay apart.
std::string AccessLogLine(const AccessRecord& record);

// Where the lines go: standard output or a file opened for appending. Lines
// from concurrent requests never interleave; each is written at once. A
// line that cannot be written (a full disk, a pipe whose reader lags) is
// lost, never waited for, and standard error says so, once in a while.
class AccessLog {
public:
    // "-" is standard output, "off" is no log (null with no error); null
    // with the reason in `error` when the file cannot be opened at once
    // (a pipe that no process reads is not waited for).
    static std::unique_ptr<AccessLog> Open(const std::string& where, std::string& error);
    ~AccessLog();
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    void Write(const AccessRecord& record);
    // Opens the file again by its name, as after a rotation moved it away;
    // on failure the old one is kept and standard error says why.
    void Reopen();

private:
    AccessLog(int descriptor, std::string path) : descriptor(descriptor), path(std::move(path)) {}
    void Lost(int error);

    std::mutex mutex;
    int descriptor;          // owned unless standard output
    const std::string path;  // empty: standard output
    uint64_t lost = 0;       // lines lost since the last report
    std::chrono::steady_clock::time_point lastReport;
    bool reported = false;
};
