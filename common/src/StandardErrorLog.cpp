// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/StandardErrorLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <mutex>

namespace tavrin {

// The stream buffer both standard error streams write into while the log lives.
class StandardErrorLog::Copy final : public std::streambuf {
public:
    Copy(std::string path, const Clock& clock, std::uintmax_t limit, std::streambuf& errors)
        : path_(std::move(path)), clock_(clock), limit_(limit), errors_(errors) {
        const std::lock_guard lock(mutex_);
        open();
        live_ = this;
    }
    ~Copy() override {
        // This thread's unended line (main's, as the program ends); other threads hand theirs on as they end.
        if (!piece_.text.empty()) {
            writeLine(piece_.text);
            piece_.text.clear();
        }
        live_ = nullptr;
        close();
    }
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        // A line is handed on once it is whole; the rest waits in this thread's own piece.
        for (std::streamsize i = 0; i < count; ++i) {
            if (text[i] != '\n') {
                piece_.text += text[i];
                continue;
            }
            writeLine(piece_.text);
            piece_.text.clear();
        }
        return count;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char letter = traits_type::to_char_type(c);
        xsputn(&letter, 1);
        return c;
    }

private:
    // A thread's line so far; what is left of it when the thread ends is handed on as a line.
    struct Piece {
        std::string text;
        ~Piece() {
            if (Copy* copy = live_; copy && !text.empty()) {
                copy->writeLine(text);
            }
        }
    };

    // Under the mutex. A failure is said once on standard error, and the file tried again later.
    void open() {
        std::error_code made;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), made);
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        struct stat info {};
        size_ = descriptor_ >= 0 && ::fstat(descriptor_, &info) == 0
                    ? static_cast<std::uintmax_t>(info.st_size)
                    : 0;
        if (descriptor_ < 0) {
            if (!failing_) {
                const std::string line = "The log file " + path_ + " cannot be written (" +
                                         std::strerror(errno) +
                                         "); messages go to standard error alone until it can.\n";
                errors_.sputn(line.data(), static_cast<std::streamsize>(line.size()));
                errors_.pubsync();
            }
            failing_ = true;
            retryAt_ = clock_.now() + reopenAfter;
        } else {
            failing_ = false;
        }
    }
    void close() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
            descriptor_ = -1;
        }
    }
    std::string stamp() const {
        const auto now = clock_.now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
        std::tm local{};
        ::localtime_r(&seconds, &local);
        std::array<char, 40> text{};
        const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(text.data() + length, text.size() - length, ".%03lld ",
                      static_cast<long long>(milliseconds));
        return text.data();
    }
    void writeLine(const std::string& line) {
        const std::lock_guard lock(mutex_);
        errors_.sputn(line.data(), static_cast<std::streamsize>(line.size()));
        errors_.sputc('\n');
        errors_.pubsync();
        if (descriptor_ < 0 && clock_.now() >= retryAt_) {
            open();
        }
        if (descriptor_ < 0) {
            return;
        }
        const std::string stamped = stamp() + line + '\n';
        if (size_ > 0 && size_ + stamped.size() > limit_) {
            close();
            std::error_code error;
            std::filesystem::rename(path_, path_ + ".1", error);
            open();
        }
        // One write per line, so a line is never split by another program's reader or a crash.
        if (descriptor_ >= 0 && ::write(descriptor_, stamped.data(), stamped.size()) > 0) {
            size_ += stamped.size();
        }
    }

    static inline std::atomic<Copy*> live_{nullptr};
    static thread_local Piece piece_;

    std::string path_;
    const Clock& clock_;
    std::uintmax_t limit_;
    std::streambuf& errors_;
    std::mutex mutex_;
    int descriptor_ = -1;
    std::uintmax_t size_ = 0;
    bool failing_ = false;
    Date retryAt_{};
};

thread_local StandardErrorLog::Copy::Piece StandardErrorLog::Copy::piece_;

StandardErrorLog::StandardErrorLog(const std::optional<std::string>& path, const Clock& clock,
                                   std::uintmax_t limit) {
    if (!path) {
        return;
    }
    copy_ = std::make_unique<Copy>(*path, clock, limit, *std::cerr.rdbuf());
    errors_ = std::cerr.rdbuf(copy_.get());
    log_ = std::clog.rdbuf(copy_.get());
}

StandardErrorLog::~StandardErrorLog() {
    if (copy_) {
        std::cerr.rdbuf(errors_);
        std::clog.rdbuf(log_);
        copy_.reset();  // hands on this thread's unended line
    }
}

}  // namespace tavrin
