#include "serve/page/web_files.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "serve/http/query_string.h"

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Whether a decoded path may name a file: no NUL, no backslash, no "." or
// ".." segment.
bool SafePath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos || path.find('\\') != std::string_view::npos) return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

const char* MediaTypeOf(std::string_view name) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},  {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},  // modules, which browsers take only as JavaScript
        {".css", "text/css; charset=utf-8"},    {".json", "application/json"},
        {".map", "application/json"},           {".png", "image/png"},
        {".jpg", "image/jpeg"},                 {".webp", "image/webp"},
        {".svg", "image/svg+xml"},              {".ico", "image/vnd.microsoft.icon"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto& [extension, type] : kTypes) {
        if (EndsWith(name, extension)) return type;
    }
    return "application/octet-stream";
}

HttpAnswer WebFileAnswer(const std::string& root, std::string_view path) {
    std::string decoded;
    if (!PercentDecode(path, false, decoded) || decoded.empty() || decoded[0] != '/' || !SafePath(decoded)) {
        return HttpAnswer::Text(400, "Not a file name the server serves.\n");
    }
    if (decoded.back() == '/') decoded += "index.html";
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::canonical(root, error);
    if (error) return HttpAnswer::Text(404, "Not found.\n");
    const fs::path file = fs::canonical(base / fs::path(decoded.substr(1)), error);
    // A link out of the directory is as good as absent.
    const std::string inside = file.string();
    if (error || inside.compare(0, base.string().size() + 1, base.string() + "/") != 0 ||
        !fs::is_regular_file(file, error)) {
        return HttpAnswer::Text(404, "Not found.\n");
    }
    HttpAnswer answer;
    answer.headers.emplace_back("Content-Type", MediaTypeOf(file.filename().string()));
    answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
    answer.file = inside;
    return answer;
}
