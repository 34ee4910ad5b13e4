// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// The command channel between the proxy and the recorder: folders, file names and command lines.
// Both programs include this file; the proxy appends, the recorder reads and deletes.
namespace parlan::command {

// Below the user's Movies folder.
inline constexpr std::string_view moviesFolder = "/TavrinMovies/";
inline constexpr std::string_view commandFolder = "/TavrinMovies/.logs/";

inline constexpr std::string_view commandExtension = ".cmd";
inline constexpr std::string_view logExtension = ".log";
inline constexpr std::string_view subtitleExtension = ".srt";
// The match record beside the subtitles (docs/match-record.md).
inline constexpr std::string_view recordExtension = ".json";

inline constexpr std::string_view lineEnd = "\r\n";
inline constexpr std::string_view gameBundleId = "com.blizzard.worldofwarcraft";
inline constexpr std::string_view gameTitle = "World of Warcraft";

// The recorder takes the first four characters as the key and the trimmed rest as the value.
inline constexpr std::string_view bundleKey = "BID:";
inline constexpr std::string_view commandKey = "CMD:";
inline constexpr std::string_view startValue = "Start";
inline constexpr std::string_view endValue = "End";

inline constexpr std::string_view startText = "BID: com.blizzard.worldofwarcraft\r\nCMD: Start\r\n";
inline constexpr std::string_view endText = "CMD: End\r\n";

// The recorder acts only on the newest command file modified less than this long ago.
inline constexpr double liveSeconds = 2.0;

}  // namespace parlan::command
