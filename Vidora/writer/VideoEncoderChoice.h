// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>
#include <vector>

namespace vidora {

// The HEVC encoders a recording may use, in the order they are tried: the graphics card's first, which
// cost the processor almost nothing while the game runs, then libx265.
enum class VideoEncoderKind { nvenc, vaapi, x265 };

// FFmpeg's name of the encoder.
std::string_view encoderName(VideoEncoderKind kind);

// The encoders to try for TAVRIN_ENCODER's value (null when unset): every one for "auto" or nothing, only
// the one named by "nvenc", "vaapi" or "x265", which then has no fallback. An unknown value is told on
// stderr and taken as "auto".
std::vector<VideoEncoderKind> videoEncoderOrder(const char* choice);

}  // namespace vidora
