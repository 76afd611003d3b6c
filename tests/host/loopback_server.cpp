#include "tests/host/loopback_server.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

LoopbackServer::LoopbackServer(const std::string& script, const std::string& directory) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(script.c_str()),
                    const_cast<char*>(directory.c_str()), nullptr};
    if (posix_spawnp(&pid, "python3", &actions, nullptr, argv, environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char line[32] = {};
    FILE* stream = fdopen(out[0], "r");
    if (stream != nullptr && std::fgets(line, sizeof line, stream) != nullptr) {
        port = std::atoi(line);
    }
    if (stream != nullptr) {
        std::fclose(stream);
    } else {
        close(out[0]);
    }
}

LoopbackServer::~LoopbackServer() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}
