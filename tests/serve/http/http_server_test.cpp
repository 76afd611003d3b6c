// The HTTP layer against clients that misbehave: every bound answers at
// once and in HTTP, connections cost no worker, answers keep their order.
// The server runs in-process on loopback with a stand-in handler.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serve/http/http_server.h"

namespace {

// A stand-in service: /slow waits until released (a map being drawn), every
// other path answers its own target. /slow?cost=S guesses S seconds of
// work (else a millisecond), /slow?deadline=MS gives it MS milliseconds.
// Slow work turned away is counted, and the order it started in kept.
struct Service {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int slowStarted = 0;
    std::vector<std::string> started;
    std::vector<int> refusals;

    HttpHandler Handler() {
        return [this](const HttpRequest& r) {
            HttpWork work;
            work.heavy = r.Path() == "/slow";
            const std::string query(r.Query());
            if (query.rfind("cost=", 0) == 0) work.cost.computeSeconds = std::stod(query.substr(5));
            if (query.rfind("deadline=", 0) == 0) {
                work.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stoi(query.substr(9)));
            }
            work.answer = [this, slow = work.heavy, target = r.target] {
                if (slow) {
                    std::unique_lock<std::mutex> lock(mutex);
                    ++slowStarted;
                    started.push_back(target);
                    changed.notify_all();
                    changed.wait(lock, [this] { return released; });
                }
                return HttpAnswer::Text(200, "target " + target);
            };
            if (work.heavy) {
                work.refused = [this](int status) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    refusals.push_back(status);
                };
            }
            return work;
        };
    }
    void WaitForSlow(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return slowStarted >= count; });
    }
    std::vector<int> Refusals() {
        const std::lock_guard<std::mutex> lock(mutex);
        return refusals;
    }
    std::vector<std::string> Started() {
        const std::lock_guard<std::mutex> lock(mutex);
        return started;
    }
    void Release() {
        const std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
};

class Server {
public:
    explicit Server(const HttpLimits& limits, Service& service) : server(limits, service.Handler()) {
        std::string error;
        EXPECT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
        server.OnAccept([this](int fd) {
            int on = 0;
            socklen_t size = sizeof on;
            getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size);
            const std::lock_guard<std::mutex> lock(mutex);
            noDelay.push_back(on != 0);
        });
        loop = std::thread([this] { server.Run(); });
    }
    ~Server() {
        server.Stop();
        loop.join();
    }
    int Port() { return server.Port(); }
    // Waits until `count` heavy requests wait for a worker.
    void WaitForQueued(size_t count) {
        while (server.CurrentLoad().queued < count) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::vector<bool> NoDelay() {
        const std::lock_guard<std::mutex> lock(mutex);
        return noDelay;
    }

private:
    HttpServer server;
    std::thread loop;
    std::mutex mutex;
    std::vector<bool> noDelay;
};

// A blocking client socket; every read and write gives up after 30 s so
// that a fault fails the test rather than hanging it.
class Client {
public:
    explicit Client(int port) : fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{30, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~Client() { close(fd); }
    int Descriptor() const { return fd; }
    bool Send(const std::string& bytes) { return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    // One answer: head and body (by Content-Length); empty when the
    // connection ended first.
    std::string Answer(bool head = false) {
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!Fill()) return "";
        }
        size_t length = 0;
        const size_t field = pending.find("Content-Length: ");
        if (!head && field != std::string::npos && field < end) length = std::stoul(pending.substr(field + 16));
        while (pending.size() < end + 4 + length) {
            if (!Fill()) return "";
        }
        const std::string answer = pending.substr(0, end + 4 + length);
        pending.erase(0, answer.size());
        return answer;
    }
    // Whether the server closed the connection (nothing more to read).
    bool Closed() { return pending.empty() && !Fill(); }

private:
    bool Fill() {
        char chunk[65536];
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        pending.append(chunk, size_t(got));
        return true;
    }
    int fd;
    std::string pending;
};

std::string Get(const std::string& target, const std::string& extra = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: test\r\n" + extra + "\r\n";
}

std::string StatusLine(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
}

TEST(HttpServer, AnswersEveryBoundAtOnceAndInHttp) {
    HttpLimits limits;
    limits.headerCount = 20;
    std::string manyHeaders, bigHeader = "X-Big: " + std::string(limits.headBytes, 'a') + "\r\n";
    for (int i = 0; i < 21; ++i) manyHeaders += "X-" + std::to_string(i) + ": 1\r\n";
    const std::string longQuery(limits.targetBytes, 'q');
    std::string manyRanges;
    for (int i = 0; i < 500; ++i) manyRanges += "0-,";
    struct Case {
        const char* what;
        std::string request;
        const char* status;
        bool closes;
        const char* bodyHas;
        bool floods = false;  // the client sends on after the answer: the server stops reading it soon
    };
    const Case cases[] = {
        {"header count", Get("/", manyHeaders), "HTTP/1.1 431 Request Header Fields Too Large", true, "too many",
         true},
        {"header bytes", Get("/", bigHeader), "HTTP/1.1 431 Request Header Fields Too Large", true, "too large"},
        {"query over the target limit", Get("/wms?" + longQuery), "HTTP/1.1 414 URI Too Long", true, "too long"},
        {"query over the head limit", Get("/wms?" + longQuery + longQuery), "HTTP/1.1 414 URI Too Long", true,
         "too long"},
        {"POST with a body", "POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n\r\nabcde",
         "HTTP/1.1 405 Method Not Allowed", true, "GET and HEAD"},
        {"PUT with a chunked body", "PUT / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n",
         "HTTP/1.1 405 Method Not Allowed", true, "GET and HEAD"},
        {"PATCH without a body", "PATCH / HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", false, ""},
        {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", true, "Host"},
        {"two Host fields", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", "HTTP/1.1 400 Bad Request", true, "Host"},
        // Read as framed by nothing, the body would be taken for a request of its own.
        {"a body framed by identity", "GET /a HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: identity\r\n\r\n" + Get("/b"),
         "HTTP/1.1 400 Bad Request", true, "chunked"},
        {"a body framed by chunked, then identity",
         "GET /a HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked, identity\r\n\r\n" + Get("/b"),
         "HTTP/1.1 400 Bad Request", true, "chunked"},
        {"a target in absolute form", "GET http://t:80/wms?a=1 HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 200 OK", false,
         "target /wms?a=1"},
        {"a target that is no path", "GET * HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 400 Bad Request", true,
         "not a path"},
        {"not HTTP", "HELLO\r\n\r\n", "HTTP/1.1 400 Bad Request", true, "not valid"},
        {"HTTP/1.0", "GET /a HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK", true, "target /a"},
        {"HTTP/1.0 keep-alive", "GET /a HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "HTTP/1.0 200 OK", false, "/a"},
        {"many ranges", Get("/r", "Range: bytes=" + manyRanges + "0-\r\n"), "HTTP/1.1 200 OK", false, "target /r"},
    };
    Service service;
    Server server(limits, service);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Client client(server.Port());
        client.Send(c.request);
        const std::string answer = client.Answer();
        EXPECT_EQ(StatusLine(answer), c.status);
        EXPECT_NE(answer.find(c.bodyHas, answer.find("\r\n\r\n")), std::string::npos) << answer;
        EXPECT_EQ(answer.find("Content-Range"), std::string::npos);
        EXPECT_LT(answer.size(), 1000u);
        if (c.floods) {
            const std::string chunk(1 << 16, 'f');
            size_t sent = 0;
            while (sent < (size_t{64} << 20) && client.Send(chunk)) sent += chunk.size();
            EXPECT_LT(sent, size_t{64} << 20);
        } else if (c.closes) {
            EXPECT_TRUE(client.Closed());
        } else {  // the connection goes on
            client.Send(Get("/next"));
            EXPECT_EQ(StatusLine(client.Answer()), "HTTP/1.1 200 OK");
        }
    }
    // Answers go out without waiting for acknowledgements.
    const std::vector<bool> noDelay = server.NoDelay();
    EXPECT_EQ(noDelay.size(), std::size(cases));
    EXPECT_EQ(std::count(noDelay.begin(), noDelay.end(), true), ptrdiff_t(noDelay.size()));
}

TEST(HttpServer, AnswersPipelinedRequestsInOrderAndHeadWithoutBody) {
    Service service;
    service.Release();
    Server server(HttpLimits{}, service);
    Client client(server.Port());
    client.Send(Get("/slow?1") + Get("/fast?2") + "HEAD /h HTTP/1.1\r\nHost: t\r\n\r\n" + Get("/slow?4"));
    for (const char* target : {"/slow?1", "/fast?2"}) EXPECT_NE(client.Answer().find(target), std::string::npos);
    const std::string head = client.Answer(true);
    EXPECT_NE(head.find("Content-Length: 9\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    EXPECT_NE(client.Answer().find("target /slow?4"), std::string::npos);
}

TEST(HttpServer, SlowClientsHoldNoWorkerAndTricklingEndsAtTheRequestDeadline) {
    HttpLimits limits;
    limits.workers = 1;
    limits.requestTime = std::chrono::milliseconds(300);
    Service service;
    service.Release();
    Server server(limits, service);
    // Idle keep-alive connections far beyond the workers.
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(std::make_unique<Client>(server.Port()));
        idle.back()->Send(Get("/slow"));
        EXPECT_EQ(StatusLine(idle.back()->Answer()), "HTTP/1.1 200 OK");
    }
    Client fresh(server.Port());
    fresh.Send(Get("/slow"));
    EXPECT_EQ(StatusLine(fresh.Answer()), "HTTP/1.1 200 OK");
    // A request trickled a byte at a time: each read is quick, the whole
    // is not, so the connection ends without an answer.
    Client trickler(server.Port());
    const std::string request = Get("/slow", "X-Pad: " + std::string(200, 'p') + "\r\n");
    size_t sent = 0;
    while (sent < request.size() && trickler.Send(request.substr(sent, 1))) {
        ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_LT(sent, request.size());
    EXPECT_TRUE(trickler.Closed());
}

TEST(HttpServer, AdmitsHeavyWorkByItsExpectedWaitCheapestFirstAndEndsAWaitAtItsDeadline) {
    HttpLimits limits;
    limits.workers = 1;
    Service service;
    Server server(limits, service);
    Client drawing(server.Port());
    drawing.Send(Get("/slow"));
    service.WaitForSlow(1);
    // Far more than a count would take, each expected to take a millisecond.
    std::vector<std::unique_ptr<Client>> cheap;
    for (int i = 0; i < 100; ++i) {
        cheap.push_back(std::make_unique<Client>(server.Port()));
        cheap.back()->Send(Get("/slow"));
    }
    // Work that could not end within the admission wait is refused at once,
    // with the time the work ahead needs.
    Client costly(server.Port());
    costly.Send(Get("/slow?cost=60"));
    const std::string refused = costly.Answer();
    EXPECT_EQ(StatusLine(refused), "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(refused.find("Retry-After: "), std::string::npos);
    // A request whose deadline comes while it waits is told so then, not
    // once a worker is free.
    Client hurried(server.Port());
    hurried.Send(Get("/slow?deadline=200"));
    EXPECT_EQ(StatusLine(hurried.Answer()), "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(service.Refusals(), (std::vector<int>{503, 503}));
    // Three large maps, then a small one: the small one goes first.
    server.WaitForQueued(100);
    std::vector<std::unique_ptr<Client>> ordered;
    for (const char* target : {"/slow?cost=0.5", "/slow?cost=0.6", "/slow?cost=0.7", "/slow?cost=0.0001"}) {
        ordered.push_back(std::make_unique<Client>(server.Port()));
        ordered.back()->Send(Get(target));
        server.WaitForQueued(100 + ordered.size());
    }
    service.Release();
    EXPECT_EQ(StatusLine(drawing.Answer()), "HTTP/1.1 200 OK");
    for (auto& client : cheap) EXPECT_EQ(StatusLine(client->Answer()), "HTTP/1.1 200 OK");
    for (auto& client : ordered) EXPECT_EQ(StatusLine(client->Answer()), "HTTP/1.1 200 OK");
    const std::vector<std::string> started = service.Started();
    ASSERT_EQ(started.size(), 105u);
    EXPECT_EQ(std::vector<std::string>(started.end() - 3, started.end()),
              (std::vector<std::string>{"/slow?cost=0.5", "/slow?cost=0.6", "/slow?cost=0.7"}));
}

TEST(HttpServer, PastTheQueueOrTheConnectionsItAnswers503AtOnce) {
    HttpLimits limits;
    limits.workers = 1;
    limits.queued = 1;
    limits.connections = 3;
    Service service;
    Server server(limits, service);
    Client drawing(server.Port()), waiting(server.Port()), refused(server.Port());
    drawing.Send(Get("/slow"));
    service.WaitForSlow(1);
    waiting.Send(Get("/slow"));
    refused.Send(Get("/slow"));
    // Either of the two may have reached the queue first: the other is
    // refused while the worker is still busy.
    pollfd both[2] = {{waiting.Descriptor(), POLLIN, 0}, {refused.Descriptor(), POLLIN, 0}};
    ASSERT_EQ(poll(both, 2, 30000), 1);
    Client& first = both[0].revents ? waiting : refused;
    Client& second = both[0].revents ? refused : waiting;
    const std::string busy = first.Answer();
    EXPECT_EQ(StatusLine(busy), "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(busy.find("Retry-After: 1\r\n"), std::string::npos);
    // The work turned away was told so: it counts and logs itself.
    EXPECT_EQ(service.Refusals(), std::vector<int>{503});
    // A connection past the limit is told so, not dropped.
    Client extra(server.Port());
    const std::string overflow = extra.Answer();
    EXPECT_EQ(StatusLine(overflow), "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(overflow.find("Retry-After: 1\r\n"), std::string::npos);
    EXPECT_TRUE(extra.Closed());
    service.Release();
    EXPECT_EQ(StatusLine(drawing.Answer()), "HTTP/1.1 200 OK");
    EXPECT_EQ(StatusLine(second.Answer()), "HTTP/1.1 200 OK");
}
}  // namespace
