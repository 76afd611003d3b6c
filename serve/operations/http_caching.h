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

// Whether If-Modified-Since (an HTTP date in any of its three forms) says
// that the client's copy of what last changed at `lastModified` is
// current. False when either is unknown (`lastModified` 0), or the date
// cannot be read or lies in the future: the answer is then sent whole.
bool NotModifiedSince(std::string_view header, std::time_t lastModified);

// How answers may be stored by browsers, proxies and CDNs.
struct CachePolicy {
    int maxAgeSeconds = 3600;
    // The origins whose pages may read the answers (CORS): none, "*" for
    // any, or each by its scheme://host[:port].
    std::vector<std::string> corsOrigins;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The headers of a cacheable answer (200 or 304) with the given validators;
// `lastModified` 0 when unknown.
HeaderList CacheableHeaders(const CachePolicy& policy, const std::string& etag, std::time_t lastModified);
// The headers of an answer that must not be stored: errors.
HeaderList UncacheableHeaders();
// Access-Control-Allow-Origin, when CORS is on: "*", or the request's
// `origin` (its Origin header, null when none) when it is one of the
// policy's, with Vary: Origin, as the answer then depends on it.
HeaderList CorsHeaders(const CachePolicy& policy, const std::string* origin);
// The headers of a 204 answer to an OPTIONS preflight; empty when CORS is off.
// `requestedHeaders` is Access-Control-Request-Headers, echoed when it is a
// plain list of header names.
HeaderList PreflightHeaders(const CachePolicy& policy, const std::string* origin, std::string_view requestedHeaders);
