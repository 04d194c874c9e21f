#pragma once
// A helper process of a test (a UA server, a proxy): started with its standard output on a
// pipe, stopped with a signal and, when it does not end within five seconds, killed. POSIX only:
// under Wine the helpers are started by the test's wrapper script and Start fails.
#include <signal.h>
#include <string>
#include <vector>

#ifdef _WIN32
namespace vela::testing_support {
class ChildProcess {
public:
    bool Start(const std::vector<std::string>&, bool = false) { return false; }
    bool WaitForLine(const std::string&, std::string* = nullptr, int = 90) { return false; }
    void Stop(int = 0) {}
    bool Running() const { return false; }
};
}  // namespace vela::testing_support
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace vela::testing_support {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs the program (looked up in PATH); false when it could not be started.
    bool Start(const std::vector<std::string>& args, bool mergeStderr = false) {
        Stop();
        int out[2];
        if (pipe(out) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (mergeStderr) posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = fdopen(out[0], "r");
        if (spawned != 0) pid_ = 0;
        return spawned == 0;
    }

    // Reads output lines until one contains the text (true), the output ends or the time is up.
    // The pipe stays open: a helper that writes more would otherwise stop on a full pipe.
    bool WaitForLine(const std::string& text, std::string* line = nullptr, int seconds = 90) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        char buffer[1024];
        while (output_ && std::chrono::steady_clock::now() < deadline && fgets(buffer, sizeof buffer, output_)) {
            if (std::string(buffer).find(text) != std::string::npos) {
                if (line) *line = buffer;
                return true;
            }
        }
        return false;
    }

    void Stop(int signal = SIGTERM) {
        if (pid_ > 0) {
            kill(pid_, signal);
            for (int i = 0; i < 100 && pid_ > 0; ++i) {
                if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;
                else usleep(50000);
            }
            if (pid_ > 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = 0;
            }
        }
        if (output_) fclose(output_);
        output_ = nullptr;
    }
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = 0;
    FILE* output_ = nullptr;
};

}  // namespace vela::testing_support
#endif
