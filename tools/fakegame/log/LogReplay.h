// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "log/LineSource.h"

namespace fakegame {

// A recorded combat log as a line source: every line keeps its stamp's shape, its text and its distance
// in time from the first line; a line without a stamp goes out as it is, with the line before it.
class ReplaySource final : public LineSource {
public:
    explicit ReplaySource(std::string logText);
    // The log in the file; nothing when it cannot be read.
    static std::optional<ReplaySource> open(const std::string& path);

    std::optional<ScriptLine> next() override;

private:
    std::string text_;
    std::size_t position_ = 0;
    std::optional<std::int64_t> firstWall_;
    std::chrono::milliseconds lastOffset_{0};
    // Stamps without a year run on from a stand-in leap year, one more at each turn of the year.
    int year_ = 2000;
    int lastMonth_ = 0;
};

}  // namespace fakegame
