#include "serve/operations/access_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void AppendEscaped(std::string& line, const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
    }
}

// Lines that cannot be written are reported no more often than this.
constexpr std::chrono::seconds kReportEvery(10);

// Opens `path` for appending without waiting: a pipe that no process reads
// fails at once instead of blocking the start. Writes never wait either.
int OpenForAppending(const std::string& path, std::string& error) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (descriptor < 0) {
        error = "cannot open the access log " + path + ": " +
                (errno == ENXIO ? std::string("no process reads the pipe") : std::strerror(errno));
    }
    return descriptor;
}

}  // namespace

std::string AccessLogLine(const AccessRecord& r) {
    using namespace std::chrono;
    const auto sinceEpoch = r.time.time_since_epoch();
    const std::time_t seconds = static_cast<std::time_t>(duration_cast<std::chrono::seconds>(sinceEpoch).count());
    const long millis = static_cast<long>(duration_cast<milliseconds>(sinceEpoch).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char time[40];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &utc);
    char tail[96];
    std::snprintf(tail, sizeof tail, "\" %d %llu %.3f", r.status, static_cast<unsigned long long>(r.bytes),
                  r.milliseconds);
    std::string line = time;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03ldZ ", millis);
    line += fraction;
    AppendEscaped(line, r.client.empty() ? std::string("-") : r.client);
    line += " \"";
    if (r.method.empty()) {
        line += '-';  // no request could be read
    } else {
        AppendEscaped(line, r.method);
        line += ' ';
        AppendEscaped(line, r.target);
    }
    line += tail;
    if (r.zoom > 0) {
        line += ' ' + std::to_string(r.zoom) + ' ' + std::to_string(r.tiles);
    } else {
        line += " - -";
    }
    return line;
}

std::unique_ptr<AccessLog> AccessLog::Open(const std::string& where, std::string& error) {
    error.clear();
    if (where == "off") return nullptr;
    if (where == "-") return std::unique_ptr<AccessLog>(new AccessLog(STDOUT_FILENO, ""));
    const int descriptor = OpenForAppending(where, error);
    if (descriptor < 0) return nullptr;
    return std::unique_ptr<AccessLog>(new AccessLog(descriptor, where));
}

AccessLog::~AccessLog() {
    if (!path.empty()) close(descriptor);
}

void AccessLog::Reopen() {
    if (path.empty()) return;
    std::string error;
    // Opened with the lines held back: no line is written to the old file
    // once the new one can be seen.
    const std::lock_guard<std::mutex> lock(mutex);
    const int fresh = OpenForAppending(path, error);
    if (fresh < 0) {
        std::fprintf(stderr, "zarvo-serve: %s; logging on to the file as it was\n", error.c_str());
        return;
    }
    close(descriptor);
    descriptor = fresh;
}

void AccessLog::Write(const AccessRecord& record) {
    std::string line = AccessLogLine(record);
    line += '\n';
    const std::lock_guard<std::mutex> lock(mutex);
    size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = write(descriptor, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Lost(n < 0 ? errno : EIO);
        written += static_cast<size_t>(n);
    }
}

void AccessLog::Lost(int error) {
    ++lost;
    const auto now = std::chrono::steady_clock::now();
    if (reported && now - lastReport < kReportEvery) return;
    std::fprintf(stderr, "zarvo-serve: the access log %s: %s; %llu lines lost since the last report\n",
                 path.empty() ? "on standard output" : path.c_str(), std::strerror(error),
                 static_cast<unsigned long long>(lost));
    lost = 0;
    reported = true;
    lastReport = now;
}
