// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/MovieSink.h"

namespace vidora {

VideoSettings videoSettings(double width, double height, int frameRate) {
    VideoSettings settings;
    settings.width = static_cast<int>(width);
    settings.height = static_cast<int>(height);
    settings.averageBitRate = static_cast<std::int64_t>(width * height * (frameRate * 0.125));
    settings.expectedFrameRate = frameRate;
    return settings;
}

int movieFrameRate(const VideoSettings& settings) {
    return settings.expectedFrameRate > 0 ? settings.expectedFrameRate : 30;
}

AudioSettings audioSettings() {
    return AudioSettings{};
}

}  // namespace vidora
