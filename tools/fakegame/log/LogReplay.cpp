// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/LogReplay.h"

#include <fstream>
#include <iterator>

namespace fakegame {

ReplaySource::ReplaySource(std::string logText) : text_(std::move(logText)) {}

std::optional<ReplaySource> ReplaySource::open(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        return std::nullopt;
    }
    return ReplaySource(std::move(text));
}

std::optional<ScriptLine> ReplaySource::next() {
    if (position_ >= text_.size()) {
        return std::nullopt;
    }
    std::size_t end = text_.find('\n', position_);
    if (end == std::string::npos) {
        end = text_.size();
    }
    const std::string_view line = std::string_view(text_).substr(position_, end - position_);
    position_ = end + 1;

    ScriptLine result;
    const auto stamp = parseStamp(line);
    if (!stamp) {
        result.offset = lastOffset_;
        result.afterStamp = std::string(line);
        return result;
    }
    if (!stamp->shape.withYear) {
        if (lastMonth_ == 12 && stamp->month == 1) {
            ++year_;
        }
        lastMonth_ = stamp->month;
    }
    const std::int64_t wall = wallMilliseconds(*stamp, year_);
    if (!firstWall_) {
        firstWall_ = wall;
    }
    result.offset = std::chrono::milliseconds(wall - *firstWall_);
    result.shape = stamp->shape;
    result.afterStamp = std::string(line.substr(stamp->length));
    lastOffset_ = result.offset;
    return result;
}

}  // namespace fakegame
