// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/CombatLogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace fakegame {

std::optional<CombatLogFile> CombatLogFile::open(const std::string& path) {
    // Appending: after a truncation the next write lands at the new end, as a follower expects.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        return std::nullopt;
    }
    return CombatLogFile(path, descriptor);
}

CombatLogFile::CombatLogFile(CombatLogFile&& other) noexcept
    : path_(std::move(other.path_)), descriptor_(std::exchange(other.descriptor_, -1)) {}

CombatLogFile& CombatLogFile::operator=(CombatLogFile&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        path_ = std::move(other.path_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

CombatLogFile::~CombatLogFile() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

void CombatLogFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void CombatLogFile::truncate() {
    while (::ftruncate(descriptor_, 0) != 0 && errno == EINTR) {
    }
}

}  // namespace fakegame
