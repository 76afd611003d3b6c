#include "serve/operations/access_log.h"

#include <cerrno>
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
    if (where == "-") return std::unique_ptr<AccessLog>(new AccessLog(stdout, false));
    std::FILE* file = std::fopen(where.c_str(), "ae");
    if (file == nullptr) {
        error = "cannot open the access log " + where + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<AccessLog>(new AccessLog(file, true));
}

AccessLog::~AccessLog() {
    if (owned) std::fclose(file);
}

void AccessLog::Write(const AccessRecord& record) {
    std::string line = AccessLogLine(record);
    line += '\n';
    const std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}
