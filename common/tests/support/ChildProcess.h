// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tavrin::testing {

// Polls `condition` every 20 ms for at most `timeout`; whether it came true.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool met = false;
    while (!(met = condition()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return met;
}

// A program the test starts, with changes to its environment; killed and reaped at the end.
class ChildProcess {
public:
    // `environment` entries replace or add variables; an empty value removes one.
    ChildProcess(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment) {
        // env(1) sets the environment, then becomes the program under the same pid.
        std::vector<std::string> words{"/usr/bin/env"};
        for (const auto& [name, value] : environment) {
            if (value.empty()) {
                words.insert(words.begin() + 1, "--unset=" + name);  // options before assignments
            } else {
                words.push_back(name + "=" + value);
            }
        }
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv(words.size() + 1);  // ends in a null pointer
        std::ranges::transform(words, argv.begin(), [](auto& word) { return word.data(); });
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
    }
    ~ChildProcess() {
        if (running()) {
            ::kill(pid_, SIGKILL);
        }
        wait(std::chrono::seconds(5));
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() { return pid_ > 0 && !wait(std::chrono::milliseconds(0)); }
    void signal(int number) const {
        if (pid_ > 0) {
            ::kill(pid_, number);
        }
    }

    // Waits up to `timeout` for the process to end, reaping it; its exit code, or nothing while it runs on.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        int status = 0;
        if (!exitStatus_ && pid_ > 0 &&
            waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return exitStatus_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace tavrin::testing
