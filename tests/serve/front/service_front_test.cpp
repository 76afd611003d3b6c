// What the service front records of a request.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "serve/front/service_front.h"
#include "tests/support/scratch_directory.h"

namespace {

TEST(ServiceFront, CountsARequestsTimeFromItsArrival) {
    const std::string path = Scratch("access.log").string();
    std::filesystem::remove(path);
    std::string error;
    std::unique_ptr<AccessLog> log = AccessLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    const HttpHandler routes{[](const HttpRequest&) { return true; },
                             [](const HttpRequest&) { return HttpAnswer::Text(200, "drawn"); }};
    ServiceFront front(ServiceFrontSettings{}, routes, log.get(), [] { return MetricsGauges{}; });
    HttpRequest request;
    request.method = "GET";
    request.target = "/anything";
    request.peer = "192.0.2.7";
    // It waited three seconds for a worker: its client waited them too.
    request.arrived = std::chrono::steady_clock::now() - std::chrono::seconds(3);
    EXPECT_EQ(front.Handler().answer(request).status, 200);
    log.reset();
    std::ifstream in(path);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    std::istringstream fields(line);
    std::string time, client, method, target;
    int status = 0;
    size_t bytes = 0;
    double milliseconds = 0;
    fields >> time >> client >> method >> target >> status >> bytes >> milliseconds;
    EXPECT_EQ(status, 200) << line;
    EXPECT_GE(milliseconds, 3000) << line;
}

}  // namespace
