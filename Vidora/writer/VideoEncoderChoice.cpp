// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/VideoEncoderChoice.h"

#include <iostream>
#include <string>

namespace vidora {

std::string_view encoderName(VideoEncoderKind kind) {
    switch (kind) {
        case VideoEncoderKind::nvenc:
            return "hevc_nvenc";
        case VideoEncoderKind::vaapi:
            return "hevc_vaapi";
        case VideoEncoderKind::x265:
            break;
    }
    return "libx265";
}

std::vector<VideoEncoderKind> videoEncoderOrder(const char* choice) {
    const std::string_view value = choice != nullptr ? choice : "";
    if (value == "nvenc") {
        return {VideoEncoderKind::nvenc};
    }
    if (value == "vaapi") {
        return {VideoEncoderKind::vaapi};
    }
    if (value == "x265") {
        return {VideoEncoderKind::x265};
    }
    if (!value.empty() && value != "auto") {
        std::clog << "TAVRIN_ENCODER=" << value << " is none of auto, nvenc, vaapi, x265: trying each"
                  << std::endl;
    }
    return {VideoEncoderKind::nvenc, VideoEncoderKind::vaapi, VideoEncoderKind::x265};
}

}  // namespace vidora
