#pragma once
// Starts tests/support/file_server.py on 127.0.0.1, serving a folder the test fills.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/cddb_server.h"

namespace tralux::test {

class FileServer {
public:
    explicit FileServer(const std::filesystem::path& root) : log_(root / "requests.txt") {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        const std::string python = PythonPath();
        const std::string script = std::string(TRALUX_SOURCE_DIR) + "/tests/support/file_server.py";
        const std::string rootArg = root.string(), logArg = log_.string();
        std::vector<char*> argv{const_cast<char*>(python.c_str()),
                                const_cast<char*>(script.c_str()),
                                const_cast<char*>("--root"),
                                const_cast<char*>(rootArg.c_str()),
                                const_cast<char*>("--log"),
                                const_cast<char*>(logArg.c_str()),
                                nullptr};
        if (posix_spawnp(&pid_, python.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        FILE* f = ::fdopen(out[0], "r");
        char line[64] = {};
        if (f && std::fgets(line, sizeof line, f)) std::sscanf(line, "PORT %d", &port_);
        if (f) std::fclose(f);
    }
    ~FileServer() {
        if (stdin_ >= 0) ::close(stdin_);
        if (pid_ > 0) {
            int status = 0;
            for (int i = 0; i < 50 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(20000);
            if (::waitpid(pid_, &status, WNOHANG) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
        }
    }
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    bool Running() const { return port_ > 0; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Request paths so far, one a line.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::ifstream f(log_);
        for (std::string l; std::getline(f, l);) lines.push_back(l);
        return lines;
    }

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};

}  // namespace tralux::test
