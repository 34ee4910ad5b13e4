// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "log/Stamp.h"

namespace fakegame {

// A combat-log line waiting to be written.
struct ScriptLine {
    // When, counted from the session's start before any speed factor.
    std::chrono::milliseconds offset{0};
    // The stamp's shape; none for a line written as it is, without a stamp of its own.
    std::optional<StampShape> shape;
    // What follows the stamp (from the blanks on), without the line end.
    std::string afterStamp;
};

// The lines of a session in the order they are written. Called from the writer's thread only.
class LineSource {
public:
    virtual ~LineSource() = default;
    // The next line; nothing once the session's lines are all out.
    virtual std::optional<ScriptLine> next() = 0;
};

}  // namespace fakegame
