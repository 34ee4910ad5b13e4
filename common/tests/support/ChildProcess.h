#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tavrin::testing {

// A program the test starts, with changes to its environment; terminated and reaped at the end.
class ChildProcess {
public:
    // `environment` entries replace or add variables; an empty value removes one.
    ChildProcess(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment) {
        std::map<std::string, std::string> variables;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text(*entry);
            const auto equals = text.find('=');
            variables[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
        }
        for (const auto& [name, value] : environment) {
            if (value.empty()) {
                variables.erase(name);
            } else {
                variables[name] = value;
            }
        }
        std::vector<std::string> entries;
        for (const auto& [name, value] : variables) {
            entries.push_back(name + "=" + value);
        }
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& entry : entries) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
    }
    ~ChildProcess() {
        if (running()) {
            ::kill(pid_, SIGKILL);
        }
        reap(std::chrono::seconds(5));
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    bool running() { return started() && !exitStatus_ && !reap(std::chrono::milliseconds(0)); }
    void signal(int number) const {
        if (started()) {
            ::kill(pid_, number);
        }
    }

    // Waits up to `timeout` for the process to end; its exit code, or nothing while it runs on.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        if (!reap(timeout)) {
            return std::nullopt;
        }
        return WIFEXITED(*exitStatus_) ? WEXITSTATUS(*exitStatus_) : 128 + WTERMSIG(*exitStatus_);
    }

private:
    bool reap(std::chrono::milliseconds timeout) {
        if (exitStatus_) {
            return true;
        }
        if (!started()) {
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exitStatus_ = status;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

// Polls `condition` every 50 ms for at most `timeout`; whether it came true.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace tavrin::testing
