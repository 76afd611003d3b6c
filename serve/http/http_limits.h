#pragma once

#include <chrono>
#include <cstddef>

// Every bound the HTTP layer puts on its clients (docs/serve.md's limits table
// lists them). There is no bound per client address: behind a proxy every
// user shares one.
struct HttpLimits {
    size_t targetBytes = 8 * 1024;         // path and query; more: 414
    size_t headBytes = 16 * 1024;          // request line and headers; more: 431 (414 when the line alone is)
    size_t headerCount = 64;               // more: 431
    std::chrono::milliseconds requestTime{10000};   // first byte to the end of the headers, in all
    std::chrono::milliseconds idleTime{5000};       // a keep-alive connection waiting for its next request
    std::chrono::milliseconds answerTime{30000};    // writing one answer to a slow reader
    size_t requestsPerConnection = 1000;   // then the connection closes after its answer
    size_t connections = 1024;             // open at once; more get 503 and are closed
    size_t workers = 2;                    // threads that answer heavy requests
    // Heavy requests are admitted while the work queued ahead of them and
    // their own, at the rate the workers go, is expected to end within this
    // (and before their deadline); the rest get 503 at once.
    std::chrono::milliseconds admissionWait{5000};
    size_t queued = 1024;                  // heavy requests waiting for a worker, whatever their cost; more: 503
    size_t answerBytes = 256u << 20;       // answers still being written; past it heavy requests get 503
    int retryAfterSeconds = 1;             // told to clients that get 503
};
