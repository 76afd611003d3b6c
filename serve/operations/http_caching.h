#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A strong entity tag over the given parts, e.g. "\"z1-0123456789abcdef\"".
// The parts together must determine the answer's bytes.
std::string StrongEtag(const std::vector<std::string_view>& parts);

// Whether an If-None-Match header names `etag` (or is "*"); the comparison
// is the weak one RFC 9110 prescribes for this header.
bool IfNoneMatchHits(std::string_view header, std::string_view etag);

// An IMF-fixdate, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::time_t when);

// How answers may be stored by browsers, proxies and CDNs.
struct CachePolicy {
    int maxAgeSeconds = 3600;
    std::string corsOrigin;  // empty: none; else "*" or one origin
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The headers of a cacheable answer (200 or 304) with the given validators;
// `lastModified` 0 when unknown.
HeaderList CacheableHeaders(const CachePolicy& policy, const std::string& etag, std::time_t lastModified);
// The headers of an answer that must not be stored: errors.
HeaderList UncacheableHeaders();
// Access-Control-Allow-Origin (with Vary: Origin for one origin), when on.
HeaderList CorsHeaders(const CachePolicy& policy);
// The headers of a 204 answer to an OPTIONS preflight; empty when CORS is off.
// `requestedHeaders` is Access-Control-Request-Headers, echoed when it is a
// plain list of header names.
HeaderList PreflightHeaders(const CachePolicy& policy, std::string_view requestedHeaders);
