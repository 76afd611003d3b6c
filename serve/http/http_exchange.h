#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serve/wms/wms_query.h"

// One HTTP request as the service sees it, whatever carried it: the
// transport has already bounded and parsed it.
struct HttpRequest {
    std::string method;  // as sent: GET, HEAD, ...
    std::string target;  // path and query, still percent-encoded
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::steady_clock::time_point arrived;  // when its headers were complete
    std::string peer;    // the client's address (a proxy's, behind one)

    // The first header of that name (any case), or null.
    const std::string* Header(std::string_view name) const;
    std::string_view Path() const;
    std::string_view Query() const;  // after '?', empty when none
};

// The service's answer. The transport adds the framing headers
// (Content-Length, Connection, Date) and leaves out the body for HEAD.
struct HttpAnswer {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // Content-Type among them
    std::string body;
    // When set, the body is this file, streamed by the transport; `body` is
    // then empty.
    std::string file;

    static HttpAnswer Text(int status, std::string text);
};

// What the service does with requests. `heavy` says whether answering may
// take long (drawing a map): such requests go to the worker pool, the
// others are answered on the event loop and must never block.
struct HttpHandler {
    std::function<bool(const HttpRequest&)> heavy;
    std::function<HttpAnswer(const HttpRequest&)> answer;
};

// A query string split into its parameters and percent-decoded ('+' is a
// space); a broken escape is kept as it came.
QueryParameters ParseQueryString(std::string_view query);
