#include "serve/operations/http_caching.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "serve/http/http_exchange.h"

namespace {

constexpr size_t kMaxEchoedHeaderNames = 512;

// FNV-1a, 64 bits: stable across builds and machines, so that every
// instance behind a load balancer tags the same answer the same way.
uint64_t Fnv1a(uint64_t hash, std::string_view bytes) {
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

std::string StrongEtag(const std::vector<std::string_view>& parts) {
    // Two hashes with different starting points: 128 bits, and each part
    // ends with its length so that no two lists of parts read alike.
    uint64_t a = 0xcbf29ce484222325ull, b = 0x84222325cbf29ce4ull;
    for (std::string_view part : parts) {
        const std::string length = std::to_string(part.size()) + ";";
        a = Fnv1a(Fnv1a(a, part), length);
        b = Fnv1a(Fnv1a(b, length), part);
    }
    char tag[40];
    std::snprintf(tag, sizeof tag, "\"%016llx%016llx\"", static_cast<unsigned long long>(a),
                  static_cast<unsigned long long>(b));
    return tag;
}

bool IfNoneMatchHits(std::string_view header, std::string_view etag) {
    while (!header.empty()) {
        const size_t comma = header.find(',');
        std::string_view candidate = TrimBlanks(header.substr(0, comma));
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        if (candidate == "*") return true;
        if (candidate.size() > 2 && candidate.substr(0, 2) == "W/") candidate.remove_prefix(2);
        if (candidate == etag) return true;
    }
    return false;
}

std::string HttpDate(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

bool NotModifiedSince(std::string_view header, std::time_t lastModified) {
    if (lastModified <= 0 || header.size() > 64) return false;
    const std::string text(header);
    // IMF-fixdate, then the obsolete RFC 850 and asctime forms.
    for (const char* form : {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %e %H:%M:%S %Y"}) {
        std::tm utc{};
        const char* end = strptime(text.c_str(), form, &utc);
        if (end == nullptr || *end != '\0') continue;
        const std::time_t since = timegm(&utc);
        return since >= lastModified && since <= std::time(nullptr);
    }
    return false;
}

HeaderList CacheableHeaders(const CachePolicy& policy, const std::string& etag, std::time_t lastModified) {
    HeaderList headers;
    headers.emplace_back("Cache-Control", "public, max-age=" + std::to_string(policy.maxAgeSeconds));
    headers.emplace_back("ETag", etag);
    if (lastModified > 0) headers.emplace_back("Last-Modified", HttpDate(lastModified));
    return headers;
}

HeaderList UncacheableHeaders() {
    return {{"Cache-Control", "no-store"}};
}

HeaderList CorsHeaders(const CachePolicy& policy, const std::string* origin) {
    const std::vector<std::string>& origins = policy.corsOrigins;
    if (origins.empty()) return {};
    const auto allowed = [&](const std::string& name) {
        return std::find(origins.begin(), origins.end(), name) != origins.end();
    };
    HeaderList headers;
    if (allowed("*")) {
        headers.emplace_back("Access-Control-Allow-Origin", "*");
    } else if (origin != nullptr && allowed(*origin)) {
        headers.emplace_back("Access-Control-Allow-Origin", *origin);
    }
    if (!headers.empty()) headers.emplace_back("Access-Control-Expose-Headers", "ETag, X-Zarvo-Zoom");
    if (!allowed("*")) headers.emplace_back("Vary", "Origin");
    return headers;
}

HeaderList PreflightHeaders(const CachePolicy& policy, const std::string* origin, std::string_view requestedHeaders) {
    if (policy.corsOrigins.empty()) return {};
    HeaderList headers = CorsHeaders(policy, origin);
    headers.emplace_back("Access-Control-Allow-Methods", "GET, HEAD, OPTIONS");
    const bool plainList = requestedHeaders.size() <= kMaxEchoedHeaderNames &&
                           std::all_of(requestedHeaders.begin(), requestedHeaders.end(), [](char c) {
                               return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                                      c == ',' || c == ' ';
                           });
    if (plainList && !TrimBlanks(requestedHeaders).empty()) {
        headers.emplace_back("Access-Control-Allow-Headers", std::string(TrimBlanks(requestedHeaders)));
    }
    headers.emplace_back("Access-Control-Max-Age", "86400");
    return headers;
}
