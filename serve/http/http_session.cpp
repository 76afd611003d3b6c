#include "serve/http/http_session.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <cstring>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Bytes read at once while waiting for a request.
constexpr size_t kReadChunk = 4096;
// How long a closing connection's late bytes are read and dropped.
constexpr std::chrono::seconds kLingerTime(2);

bool ForbidsBody(std::string_view method) {
    return method == "GET" || method == "HEAD" || method == "OPTIONS";
}

// Whether the unread head's first line is complete: a head over its limit
// whose first line is not is a target too long (414), else too many
// header bytes (431).
bool FirstLineEnded(const beast::flat_buffer& buffer) {
    const auto data = buffer.data();
    const char* begin = static_cast<const char*>(data.data());
    return std::memchr(begin, '\n', data.size()) != nullptr;
}

}  // namespace

HttpSession::HttpSession(std::shared_ptr<HttpServerState> state, asio::ip::tcp::socket socket)
    : state(std::move(state)), stream(std::move(socket)), buffer(this->state->limits.headBytes + kReadChunk) {
    this->state->sessions.insert(this);
}

HttpSession::~HttpSession() {
    state->sessions.erase(this);
}

void HttpSession::Start() {
    beast::error_code ignored;
    // Answers go out as soon as they are written: no wait for the client's
    // delayed acknowledgement.
    stream.socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    if (state->onAccept) state->onAccept(stream.socket().native_handle());
    WaitForRequest();
}

void HttpSession::Stop() {
    if (reading) stream.cancel();
}

void HttpSession::WaitForRequest() {
    if (state->stopping) return Close();
    if (buffer.size() > 0) return ReadHead();  // the next request is already here (pipelining)
    reading = true;
    stream.expires_after(state->limits.idleTime);
    stream.async_read_some(buffer.prepare(kReadChunk),
                           [self = shared_from_this()](beast::error_code error, size_t bytes) {
                               if (error) return self->Close();
                               self->buffer.commit(bytes);
                               self->ReadHead();
                           });
}

void HttpSession::ReadHead() {
    if (state->stopping) return Close();
    reading = true;
    parser.emplace();
    parser->header_limit(static_cast<uint32_t>(state->limits.headBytes));
    // From the request's first byte, however it trickles in.
    stream.expires_after(state->limits.requestTime);
    http::async_read_header(stream, buffer, *parser,
                            [self = shared_from_this()](beast::error_code error, size_t) { self->OnHead(error); });
}

void HttpSession::OnHead(beast::error_code error) {
    reading = false;
    version = 11;
    head = false;
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
        return FirstLineEnded(buffer) ? Refuse(431, "The request's headers are too large.\n", true)
                                      : Refuse(414, "The request's address is too long.\n", true);
    }
    if (error == beast::error::timeout || error == asio::error::operation_aborted || error == http::error::end_of_stream ||
        error == asio::error::eof || error == asio::error::connection_reset) {
        return Close();
    }
    if (error) return Refuse(400, "The request is not valid HTTP.\n", true);

    const auto& message = parser->get();
    version = message.version() == 10 ? 10 : 11;
    HttpRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    request.arrived = std::chrono::steady_clock::now();
    beast::error_code unknown;
    const auto peer = stream.socket().remote_endpoint(unknown);
    if (!unknown) request.peer = peer.address().to_string();
    head = request.method == "HEAD";
    keepAlive = message.keep_alive();
    size_t count = 0;
    for (const auto& field : message) {
        if (++count > state->limits.headerCount) return Refuse(431, "The request has too many headers.\n", true);
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    // A body is never read: the connection ends after the answer instead.
    const bool hasBody = parser->chunked() || (parser->content_length() && *parser->content_length() > 0);
    if (hasBody) keepAlive = false;
    if (request.target.size() > state->limits.targetBytes) return Refuse(414, "The request's address is too long.\n", true);
    if (version == 11 && request.Header("Host") == nullptr) return Refuse(400, "The request has no Host header.\n", true);
    if (!ForbidsBody(request.method)) {
        HttpAnswer answer = HttpAnswer::Text(405, "Only GET and HEAD are served (and OPTIONS).\n");
        answer.headers.emplace_back("Allow", "GET, HEAD, OPTIONS");
        if (state->onRefusal) state->onRefusal(&request, 405);
        return Answer(std::move(answer));
    }
    if (hasBody) return Refuse(400, "A GET or HEAD request has no body.\n", true, &request);
    Dispatch(request);
}

void HttpSession::Dispatch(const HttpRequest& request) {
    HttpWork work;
    try {
        work = state->handler(request);
    } catch (...) {
        return Refuse(500, "The server failed to answer.\n", true);
    }
    auto run = [answer = std::move(work.answer)]() {
        try {
            return answer();
        } catch (...) {
            return HttpAnswer::Text(500, "The server failed to answer.\n");
        }
    };
    if (!work.heavy) {
        ++state->inFlight;
        dispatched = true;
        return Answer(run());
    }
    // Slow readers may not pile up answers without end.
    if (state->answerBytes > state->limits.answerBytes) return Shed(work, request);
    // The job holds the loop open until its answer is posted back, and lets
    // go of the session there, so that the session ends on the loop.
    auto guard = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(state->io.get_executor());
    auto job = [self = shared_from_this(), guard, run = std::move(run)]() mutable {
        HttpAnswer answer = run();
        asio::io_context& io = self->state->io;
        asio::post(io, [self = std::move(self), answer = std::move(answer)]() mutable { self->Answer(std::move(answer)); });
        guard->reset();
    };
    ++state->inFlight;
    dispatched = true;
    if (!state->pool->TrySubmit(std::move(job))) {
        --state->inFlight;
        dispatched = false;
        Shed(work, request);
    }
}

// Heavy work turned away for load is told so itself when it can take it,
// else the server's refusal hook is.
void HttpSession::Shed(const HttpWork& work, const HttpRequest& request) {
    ++state->shed;
    if (work.refused) {
        work.refused(503);
    } else if (state->onRefusal) {
        state->onRefusal(&request, 503);
    }
    HttpAnswer answer = HttpAnswer::Text(503, "The server is busy: try again shortly.\n");
    answer.headers.emplace_back("Retry-After", std::to_string(state->limits.retryAfterSeconds));
    Answer(std::move(answer));
}

void HttpSession::Refuse(int status, const char* text, bool close, const HttpRequest* request) {
    if (state->onRefusal) state->onRefusal(request, status);
    if (close) keepAlive = false;
    Answer(HttpAnswer::Text(status, text));
}

void HttpSession::Answer(HttpAnswer answer) {
    if (dispatched) {
        --state->inFlight;
        dispatched = false;
    }
    ++answered;
    if (state->stopping || answered >= state->limits.requestsPerConnection) keepAlive = false;
    auto fill = [&](auto& response) {
        response.version(version);
        response.result(static_cast<unsigned>(answer.status));
        response.set(http::field::server, "zarvo-serve");
        for (auto& [name, value] : answer.headers) response.insert(name, value);
        response.keep_alive(keepAlive);
    };
    auto written = [self = shared_from_this()](beast::error_code error, size_t) { self->OnWritten(error); };
    stream.expires_after(state->limits.answerTime);
    if (!answer.file.empty()) {
        http::file_body::value_type file;
        beast::error_code error;
        file.open(answer.file.c_str(), beast::file_mode::scan, error);
        if (error) return Answer(HttpAnswer::Text(404, "Not found.\n"));
        const uint64_t size = file.size();
        if (head) {
            auto response = std::make_shared<http::response<http::empty_body>>();
            fill(*response);
            response->content_length(size);
            writing = response;
            return http::async_write(stream, *response, written);
        }
        auto response = std::make_shared<http::response<http::file_body>>();
        fill(*response);
        response->body() = std::move(file);
        response->content_length(size);
        writing = response;
        return http::async_write(stream, *response, written);
    }
    auto response = std::make_shared<http::response<http::string_body>>();
    fill(*response);
    // 204 and 304 have no body, and a length would claim one (for 304, the
    // stored answer's length).
    if (answer.status != 204 && answer.status != 304) response->content_length(answer.body.size());
    if (!head) response->body() = std::move(answer.body);
    writingBytes = response->body().size();
    state->answerBytes += writingBytes;
    writing = response;
    http::async_write(stream, *response, written);
}

void HttpSession::OnWritten(beast::error_code error) {
    writing.reset();
    state->answerBytes -= writingBytes;
    writingBytes = 0;
    if (error) return Close();
    if (!keepAlive) return Linger();
    WaitForRequest();
}

// Ends the connection without losing the answer just written: the sending
// side closes first, and what the client still sends is read and dropped
// for a short while, so that the answer is not cut off by a reset.
void HttpSession::Linger() {
    beast::error_code ignored;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    stream.expires_after(kLingerTime);
    Drain();
}

void HttpSession::Drain() {
    buffer.clear();
    stream.async_read_some(buffer.prepare(kReadChunk), [self = shared_from_this()](beast::error_code error, size_t) {
        if (error) return self->Close();
        self->Drain();
    });
}

void HttpSession::Close() {
    beast::error_code ignored;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream.close();
}
