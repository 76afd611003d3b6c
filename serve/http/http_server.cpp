#include "serve/http/http_server.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <vector>

#include "serve/http/http_session.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Connections past the limit are told so; past this many more being told,
// they are closed unanswered.
constexpr size_t kRefusingAtMost = 256;
constexpr std::chrono::seconds kRefusalTime(2);

void Accept(const std::shared_ptr<HttpServerState>& state);

void RefuseConnection(const std::shared_ptr<HttpServerState>& state, tcp::socket socket) {
    ++state->shed;
    if (state->onRefusal) state->onRefusal(nullptr, 503);
    if (state->refusing >= kRefusingAtMost) return;  // the socket closes as it goes
    ++state->refusing;
    const std::string body = "The server has too many connections open.\n";
    auto answer = std::make_shared<std::string>(
        "HTTP/1.1 503 Service Unavailable\r\nServer: zarvo-serve\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Retry-After: " + std::to_string(state->limits.retryAfterSeconds) +
        "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    auto stream = std::make_shared<boost::beast::tcp_stream>(std::move(socket));
    stream->expires_after(kRefusalTime);
    asio::async_write(*stream, asio::buffer(*answer), [state, stream, answer](boost::beast::error_code, size_t) {
        boost::beast::error_code ignored;
        stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream->close();
        --state->refusing;
    });
}

void Accept(const std::shared_ptr<HttpServerState>& state) {
    state->acceptor.async_accept([state](boost::beast::error_code error, tcp::socket socket) {
        if (state->stopping) return;
        if (!error) {
            if (state->sessions.size() >= state->limits.connections) {
                RefuseConnection(state, std::move(socket));
            } else {
                std::make_shared<HttpSession>(state, std::move(socket))->Start();
            }
        }
        // Errors such as too many open files pass: the next accept may work.
        Accept(state);
    });
}

}  // namespace

HttpServer::HttpServer(const HttpLimits& limits, HttpHandler handler)
    : state(std::make_shared<HttpServerState>(limits, std::move(handler))) {}

HttpServer::~HttpServer() = default;

bool HttpServer::Listen(const std::string& address, int port, std::string& error) {
    boost::beast::error_code failure;
    const asio::ip::address ip = asio::ip::make_address(address, failure);
    if (failure) {
        error = "cannot listen on " + address + ": not an IP address";
        return false;
    }
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    tcp::acceptor& acceptor = state->acceptor;
    acceptor.open(endpoint.protocol(), failure);
    if (!failure) acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
    if (!failure) acceptor.bind(endpoint, failure);
    if (!failure) acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + failure.message();
        return false;
    }
    return true;
}

int HttpServer::Port() const {
    boost::beast::error_code ignored;
    return state->acceptor.local_endpoint(ignored).port();
}

void HttpServer::OnAccept(std::function<void(int)> hook) {
    state->onAccept = std::move(hook);
}

void HttpServer::OnRefusal(std::function<void(const HttpRequest*, int)> hook) {
    state->onRefusal = std::move(hook);
}

HttpServer::Load HttpServer::CurrentLoad() const {
    Load load;
    load.inFlight = state->inFlight.load();
    load.shed = state->shed.load();
    if (WorkerQueue* workers = state->workersSeen.load()) load.queued = workers->Waiting();
    return load;
}

void HttpServer::Run() {
    WorkerQueue::Settings workers;
    workers.workers = state->limits.workers;
    workers.capacity = state->limits.queued;
    workers.admissionWait = state->limits.admissionWait;
    state->workers = std::make_unique<WorkerQueue>(workers);
    state->workersSeen = state->workers.get();
    Accept(state);
    state->io.run();
    state->workersSeen = nullptr;
    state->workers.reset();
}

void HttpServer::Stop() {
    asio::post(state->io, [state = state] {
        state->stopping = true;
        boost::beast::error_code ignored;
        state->acceptor.close(ignored);
        const std::vector<HttpSession*> open(state->sessions.begin(), state->sessions.end());
        for (HttpSession* session : open) session->Stop();
    });
}
