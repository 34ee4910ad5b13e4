#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
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
        std::vector<std::string> added;
        for (const auto& [name, value] : environment) {
            if (!value.empty()) {
                added.push_back(name + "=" + value);
            }
        }
        std::vector<char*> argv, envp;
        for (const auto& word : arguments) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        for (auto& entry : added) {
            envp.push_back(entry.data());
        }
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (!environment.contains(std::string(*entry, std::strcspn(*entry, "=")))) {
                envp.push_back(*entry);
            }
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
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
    bool started() const { return pid_ > 0; }
    bool running() { return started() && !wait(std::chrono::milliseconds(0)); }
    void signal(int number) const {
        if (started()) {
            ::kill(pid_, number);
        }
    }

    // Waits up to `timeout` for the process to end, reaping it; its exit code, or nothing while it runs on.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        int status = 0;
        const auto reaped = [&] {
            return ::waitpid(pid_, &status, WNOHANG) == pid_ && (exitStatus_ = status).has_value();
        };
        if (!exitStatus_ && !(started() && waitUntil(reaped, timeout))) {
            return std::nullopt;
        }
        return WIFEXITED(*exitStatus_) ? WEXITSTATUS(*exitStatus_) : 128 + WTERMSIG(*exitStatus_);
    }

private:
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace tavrin::testing
