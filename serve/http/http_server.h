#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serve/http/http_exchange.h"
#include "serve/http/http_limits.h"

struct HttpServerState;

// An HTTP/1.0 and 1.1 server on one event loop: accepting, reading and
// writing never hold a thread, so slow, idle and pipelining clients cost
// only their buffers. Heavy requests go to a bounded pool of workers;
// everything past a limit gets an answer at once (503, 414, 431, ...),
// not a wait.
class HttpServer {
public:
    HttpServer(const HttpLimits& limits, HttpHandler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; port 0 takes any free one. False with `error` set.
    bool Listen(const std::string& address, int port, std::string& error);
    int Port() const;

    // Runs the event loop on the calling thread until Stop and until every
    // request in progress has been answered.
    void Run();
    // From any thread: takes no new connections, closes idle ones, lets the
    // answers in progress finish.
    void Stop();

    // Called on the event loop with each accepted connection's socket
    // (tests look at its options).
    void OnAccept(std::function<void(int)> hook);

    // Called on the event loop with each answer the server gives without
    // the handler (503 when full, 4xx for a broken request); `request` is
    // null when none could be read.
    void OnRefusal(std::function<void(const HttpRequest* request, int status)> hook);

    // From any thread: requests being answered, heavy ones waiting for a
    // worker, and requests refused for load (503) since the start.
    struct Load {
        size_t inFlight = 0;
        size_t queued = 0;
        uint64_t shed = 0;
    };
    Load CurrentLoad() const;

private:
    std::shared_ptr<HttpServerState> state;
};
