#include "serve/http/http_session.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <strings.h>

#include <algorithm>
#include <cstring>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Bytes read at once while waiting for a request.
constexpr size_t kReadChunk = 4096;
// How long, and how much of, a closing connection's late bytes are read
// and dropped: enough for what a client sent before it saw the answer,
// never a flood.
constexpr std::chrono::seconds kLingerTime(2);
constexpr size_t kLingerBytes = 256 * 1024;
// Told to a client refused for load, at most, however long the work ahead.
constexpr long kMostRetryAfterSeconds = 60;

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

bool StartsWithIgnoringCase(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && strncasecmp(text.data(), start.data(), start.size()) == 0;
}

// Turns an absolute-form target (http://host:port/path?query, as proxies
// send) into its path and query, and gives its authority as the request's
// Host, which it replaces. False when the target is neither that nor a
// path, or names no host.
bool ReadTargetForm(HttpRequest& request) {
    const std::string& target = request.target;
    if (!target.empty() && target[0] == '/') return true;
    if (target == "*") return request.method == "OPTIONS";
    size_t scheme = 0;
    if (StartsWithIgnoringCase(target, "http://")) scheme = 7;
    if (StartsWithIgnoringCase(target, "https://")) scheme = 8;
    if (scheme == 0) return false;
    const size_t end = std::min(target.find_first_of("/?", scheme), target.size());
    const std::string authority = target.substr(scheme, end - scheme);
    if (authority.empty() || authority.find('@') != std::string::npos) return false;
    std::string rest = target.substr(end);
    if (rest.empty() || rest[0] != '/') rest.insert(0, "/");
    request.target = std::move(rest);
    auto& headers = request.headers;
    headers.erase(std::remove_if(headers.begin(), headers.end(),
                                 [](const auto& field) { return strcasecmp(field.first.c_str(), "Host") == 0; }),
                  headers.end());
    headers.emplace_back("Host", authority);
    return true;
}

size_t HostFields(const HttpRequest& request) {
    return static_cast<size_t>(std::count_if(request.headers.begin(), request.headers.end(), [](const auto& field) {
        return strcasecmp(field.first.c_str(), "Host") == 0;
    }));
}

}  // namespace

HttpSession::HttpSession(std::shared_ptr<HttpServerState> state, asio::ip::tcp::socket socket)
    : state(std::move(state)),
      stream(std::move(socket)),
      buffer(this->state->limits.headBytes + kReadChunk),
      waitTimer(this->state->io) {
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
    if (waiting) GiveUpWaiting("The server is stopping: try again shortly.\n");
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
    const auto local = stream.socket().local_endpoint(unknown);
    if (!unknown) {
        const std::string address = local.address().to_string();
        request.local = (local.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(local.port());
    }
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
    // A body framed by anything but chunked has no end that every reader
    // of the stream would agree on: what follows could be read as a
    // request of its own.
    if (request.Header("Transfer-Encoding") != nullptr && !parser->chunked()) {
        return Refuse(400, "The request's Transfer-Encoding does not end in chunked.\n", true, &request);
    }
    if (HostFields(request) > 1) return Refuse(400, "The request has more than one Host header.\n", true, &request);
    if (!ReadTargetForm(request)) return Refuse(400, "The request's target is not a path.\n", true, &request);
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
    // Heavy work turned away is told so itself when it can take it, else
    // the server's refusal hook is.
    std::function<void(int)> refused = std::move(work.refused);
    if (!refused) {
        refused = [state = state, request](int status) {
            if (state->onRefusal) state->onRefusal(&request, status);
        };
    }
    // Slow readers may not pile up answers without end.
    if (state->answerBytes > state->limits.answerBytes) return Shed(refused, {});
    // The job holds the loop open until its answer is posted back, and lets
    // go of the session there, so that the session ends on the loop.
    auto guard = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(state->io.get_executor());
    auto job = [self = shared_from_this(), guard, run = std::move(run)]() mutable {
        HttpAnswer answer = run();
        asio::io_context& io = self->state->io;
        asio::post(io, [self = std::move(self), answer = std::move(answer)]() mutable { self->Answer(std::move(answer)); });
        guard->reset();
    };
    WorkerQueue::Admission admission = state->workers->Admit(work.cost, work.deadline, std::move(job));
    if (!admission.ticket) return Shed(refused, admission.backlog);
    ++state->inFlight;
    dispatched = true;
    waiting = std::move(admission.ticket);
    waitingRefused = std::move(refused);
    if (admission.latestStart == std::chrono::steady_clock::time_point::max()) return;
    // Past its latest start the request could only be answered late: it is
    // told so then, not after its wait.
    waitTimer.expires_at(admission.latestStart);
    waitTimer.async_wait([self = shared_from_this(), ticket = std::weak_ptr<WorkerQueue::Ticket>(waiting)](
                             beast::error_code error) {
        if (error || ticket.lock() != self->waiting) return;
        self->GiveUpWaiting("The server is busy: the request could not start in time. Try again shortly.\n");
    });
}

void HttpSession::GiveUpWaiting(const char* why) {
    const auto self = shared_from_this();  // the job, which holds it, goes now
    if (!waiting || !state->workers->Withdraw(*waiting)) return;
    waiting.reset();
    waitTimer.cancel();
    --state->inFlight;
    dispatched = false;
    ++state->shed;
    std::function<void(int)> refused = std::move(waitingRefused);
    refused(503);
    HttpAnswer answer = HttpAnswer::Text(503, why);
    answer.headers.emplace_back("Retry-After", std::to_string(state->limits.retryAfterSeconds));
    Answer(std::move(answer));
}

void HttpSession::Shed(const std::function<void(int)>& refused, std::chrono::steady_clock::duration backlog) {
    ++state->shed;
    refused(503);
    // Come back once the work already admitted is expected to be done.
    const long seconds = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(backlog).count());
    const long retry = std::clamp<long>(seconds, state->limits.retryAfterSeconds, kMostRetryAfterSeconds);
    HttpAnswer answer = HttpAnswer::Text(503, "The server is busy: try again shortly.\n");
    answer.headers.emplace_back("Retry-After", std::to_string(retry));
    Answer(std::move(answer));
}

void HttpSession::Refuse(int status, const char* text, bool close, const HttpRequest* request) {
    if (state->onRefusal) state->onRefusal(request, status);
    if (close) keepAlive = false;
    Answer(HttpAnswer::Text(status, text));
}

void HttpSession::Answer(HttpAnswer answer) {
    if (waiting) {
        waiting.reset();
        waitingRefused = nullptr;
        waitTimer.cancel();
    }
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
    lingered = 0;
    Drain(std::chrono::steady_clock::now() + kLingerTime);
}

// The stream's timer alone does not end a drain that always finds bytes
// waiting: its own clock and count do.
void HttpSession::Drain(std::chrono::steady_clock::time_point end) {
    buffer.clear();
    stream.async_read_some(buffer.prepare(kReadChunk), [self = shared_from_this(), end](beast::error_code error,
                                                                                        size_t bytes) {
        self->lingered += bytes;
        if (error || self->lingered > kLingerBytes || std::chrono::steady_clock::now() >= end) return self->Close();
        self->Drain(end);
    });
}

void HttpSession::Close() {
    beast::error_code ignored;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream.close();
}
