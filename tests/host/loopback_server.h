#pragma once

#include <sys/types.h>

#include <string>

// A python tile server script run on 127.0.0.1 for one test, stopped when
// the object goes. The script prints its port on its first line.
class LoopbackServer {
public:
    LoopbackServer(const std::string& script, const std::string& directory);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // http://127.0.0.1:PORT
    std::string Address() const { return "http://127.0.0.1:" + std::to_string(port); }
    int port = 0;

private:
    pid_t pid = 0;
};
