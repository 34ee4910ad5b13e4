// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace tavrin {

// What the proxy leaves in the user's state folder (getStatePath) for the recorder.
// Its current status line, replaced whole at each change.
inline constexpr std::string_view proxyStatusFile = "/tavrin/Parlan.status";
// Its log, which holds the lines that explain a crash.
inline constexpr std::string_view proxyLogFile = "/tavrin/Parlan.log";

// The status line of a proxy that quit normally (its window closed, a quit signal): a crash leaves the
// last status instead, so the recorder tells the two apart. It names the process, so a line left by an
// earlier proxy never stands for a later one.
inline std::string proxyQuitLine(pid_t pid) {
    return "Quit (process " + std::to_string(pid) + ")";
}
inline constexpr std::string_view proxyQuitPrefix = "Quit (process ";

}  // namespace tavrin
