// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fakegame {

// One combat-log file the game appends to. Write errors are dropped: the log loses that text only.
class CombatLogFile {
public:
    // Opens the file for appending, creating it when missing; nothing when that fails.
    static std::optional<CombatLogFile> open(const std::string& path);

    CombatLogFile(CombatLogFile&& other) noexcept;
    CombatLogFile& operator=(CombatLogFile&& other) noexcept;
    CombatLogFile(const CombatLogFile&) = delete;
    CombatLogFile& operator=(const CombatLogFile&) = delete;
    ~CombatLogFile();

    // Appends the bytes, going on after a short or interrupted write.
    void write(std::string_view bytes);
    // Empties the file; later writes start again at its beginning.
    void truncate();
    const std::string& path() const { return path_; }

private:
    CombatLogFile(std::string path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}

    std::string path_;
    int descriptor_ = -1;
};

}  // namespace fakegame
