#pragma once

// The server's inside: what its connections share, and one connection.
// Everything here runs on the event loop's thread, except the heavy
// answers, which run on the pool and come back by a post.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>

#include "serve/http/http_exchange.h"
#include "serve/http/http_limits.h"
#include "serve/http/worker_queue.h"

class HttpSession;

struct HttpServerState {
    HttpServerState(const HttpLimits& limits, HttpHandler handler)
        : limits(limits), handler(std::move(handler)), acceptor(io) {}

    const HttpLimits limits;
    const HttpHandler handler;
    boost::asio::io_context io{1};
    boost::asio::ip::tcp::acceptor acceptor;
    std::unique_ptr<WorkerQueue> workers;  // made by Run, ended after the loop
    std::unordered_set<HttpSession*> sessions;
    size_t refusing = 0;  // connections being told 503
    size_t answerBytes = 0;  // bodies of answers not yet written
    bool stopping = false;
    std::function<void(int)> onAccept;
    std::function<void(const HttpRequest*, int)> onRefusal;
    std::atomic<size_t> inFlight{0};  // requests handed to the handler, not yet answered
    std::atomic<uint64_t> shed{0};    // 503s for load
    std::atomic<WorkerQueue*> workersSeen{nullptr};  // `workers`, for CurrentLoad from other threads
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(std::shared_ptr<HttpServerState> state, boost::asio::ip::tcp::socket socket);
    ~HttpSession();

    void Start();
    // The server stops: an idle connection closes now, a busy one after its answer.
    void Stop();

private:
    using RequestParser = boost::beast::http::request_parser<boost::beast::http::empty_body>;

    void WaitForRequest();
    void ReadHead();
    void OnHead(boost::beast::error_code error);
    void Dispatch(const HttpRequest& request);
    void Shed(const std::function<void(int)>& refused, std::chrono::steady_clock::duration backlog);
    // The heavy request waiting for a worker is taken back and told 503
    // (its deadline is too near, or the server stops).
    void GiveUpWaiting(const char* why);
    void Answer(HttpAnswer answer);
    void Refuse(int status, const char* text, bool close, const HttpRequest* request = nullptr);
    void OnWritten(boost::beast::error_code error);
    void Linger();
    void Drain(std::chrono::steady_clock::time_point end);
    void Close();

    std::shared_ptr<HttpServerState> state;
    boost::beast::tcp_stream stream;
    boost::beast::flat_buffer buffer;
    std::optional<RequestParser> parser;
    unsigned version = 11;
    bool head = false;       // a HEAD request: the answer goes without its body
    bool keepAlive = false;  // after this answer, read the next request
    bool reading = false;    // waiting for a request or its headers
    size_t answered = 0;
    bool dispatched = false;  // the answer being given is the handler's (counted in inFlight)
    // A heavy request waiting for a worker, and what to tell when it is
    // taken back; its timer ends the wait when it can no longer end in time.
    std::shared_ptr<WorkerQueue::Ticket> waiting;
    std::function<void(int)> waitingRefused;
    boost::asio::steady_timer waitTimer;
    size_t lingered = 0;  // bytes read and dropped while closing
    std::shared_ptr<void> writing;  // the answer being written, kept alive until it is
    size_t writingBytes = 0;        // its body's share of state->answerBytes
};
