// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

#include "common/Clock.h"

namespace tavrin {

// A program's log a player can find: while it lives, every line written to std::cerr and std::clog
// still reaches standard error and is also appended to the file at `path`, with the local date and
// time in front. Past `limit` bytes the file is moved aside to "<path>.1" (replacing the one there)
// and begun again. Lines are gathered per thread, so the lines of two threads never mix; a thread's
// last line without a line feed is handed on when the thread ends (main's when the log ends). A file
// that cannot be opened is said once on standard error and tried again at a line `reopenAfter` later.
// Create it at the start of main, before any thread writes, and let it end after them.
class StandardErrorLog {
public:
    static constexpr std::uintmax_t rotationSize = 1 << 20;
    static constexpr std::chrono::minutes reopenAfter{1};

    // Nothing is copied without a path.
    StandardErrorLog(const std::optional<std::string>& path, const Clock& clock,
                     std::uintmax_t limit = rotationSize);
    ~StandardErrorLog();
    StandardErrorLog(const StandardErrorLog&) = delete;
    StandardErrorLog& operator=(const StandardErrorLog&) = delete;

private:
    class Copy;
    std::unique_ptr<Copy> copy_;
    std::streambuf* errors_ = nullptr;
    std::streambuf* log_ = nullptr;
};

}  // namespace tavrin
