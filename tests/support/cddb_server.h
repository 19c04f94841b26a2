#pragma once
// Starts tests/support/cddb_server.py on 127.0.0.1 for one test and stops it afterwards.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/require.h"

extern char** environ;

namespace tralux::test {

// Debian's interpreter: the tests want its python3-olefile, not some other installation's.
inline std::string PythonPath() {
    for (const char* p : {"/usr/bin/python3", "/usr/local/bin/python3"})
        if (::access(p, X_OK) == 0) return p;
    return "python3";
}

class CddbServer {
public:
    explicit CddbServer(std::filesystem::path log) : log_(std::move(log)) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        const std::string python = PythonPath();
        const std::string script = std::string(TRALUX_SOURCE_DIR) + "/tests/support/cddb_server.py";
        const std::string logArg = log_.string();
        std::vector<char*> argv{const_cast<char*>(python.c_str()),
                                const_cast<char*>(script.c_str()), const_cast<char*>("--log"),
                                const_cast<char*>(logArg.c_str()), nullptr};
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
    ~CddbServer() {
        if (stdin_ >= 0) ::close(stdin_);  // the server ends when its input closes
        if (pid_ > 0) {
            int status = 0;
            for (int i = 0; i < 50 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(20000);
            if (::waitpid(pid_, &status, WNOHANG) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
        }
    }
    CddbServer(const CddbServer&) = delete;
    CddbServer& operator=(const CddbServer&) = delete;

    bool Running() const { return port_ > 0; }
    int Port() const { return port_; }
    std::string Url(const std::string& mode) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + mode + "/~cddb/cddb.cgi";
    }
    // Requests since the last Mark(), one "<path>?<query>" each.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::ifstream f(log_);
        std::size_t n = 0;
        for (std::string l; std::getline(f, l); ++n)
            if (n >= mark_) lines.push_back(l);
        return lines;
    }
    void Mark() { mark_ += Requests().size(); }

    // One server for a whole test program (starting python takes a moment).
    static CddbServer& Shared() {
        static const std::filesystem::path folder = [] {
            char tmpl[] = "/tmp/tralux-cddb-server-XXXXXX";
            return std::filesystem::path(::mkdtemp(tmpl));
        }();
        static CddbServer server(folder / "requests.txt");
        return server;
    }

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
    std::size_t mark_ = 0;
};

// Skips (or fails under CI) when the server could not start.
#define TRALUX_REQUIRE_SERVER(server)                                                       \
    do {                                                                                    \
        if (!(server).Running()) {                                                          \
            if (::tralux::test::InCi()) FAIL() << "the loopback CDDB server did not start"; \
            GTEST_SKIP() << "python3 not available for the loopback CDDB server";           \
        }                                                                                   \
    } while (0)

}  // namespace tralux::test
