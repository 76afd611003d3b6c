#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One HTTP request as the service sees it, whatever carried it: the
// transport has already bounded and parsed it.
struct HttpRequest {
    std::string method;  // as sent: GET, HEAD, ...
    std::string target;  // path and query, still percent-encoded
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::steady_clock::time_point arrived;  // when its headers were complete
    std::string peer;    // the client's address (a proxy's, behind one)
    std::string local;   // the address and port it reached, HOST:PORT ([HOST]:PORT for IPv6)

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

// What heavy work is expected to take on an idle worker, as the service
// guesses it: time spent computing, and time spent waiting for something
// outside (a tile source). The transport learns how far each guess is from
// what work of the kind took, and corrects it.
struct WorkCost {
    double computeSeconds = 0.001;
    double waitSeconds = 0;
};

// What the transport is to do with one request, decided on the event loop
// as soon as its head is read. `answer` runs there when the work is light,
// and must then not block; heavy work (drawing a map) runs on the worker
// pool, admitted only when the work ahead of it and its own `cost` can end
// well before its `deadline`, and refused (503) once it cannot start in time.
// When the transport turns heavy work away (503), it calls `refused`
// instead, if set.
struct HttpWork {
    bool heavy = false;
    WorkCost cost;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::function<HttpAnswer()> answer;
    std::function<void(int status)> refused;
};

// A header value, or a part of one, without the spaces and tabs HTTP allows
// around it.
std::string_view TrimBlanks(std::string_view text);

// What the service does with requests: each one turned into its work, once,
// on the event loop.
using HttpHandler = std::function<HttpWork(const HttpRequest&)>;
