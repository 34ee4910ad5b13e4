// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>

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

VideoSettings scaledVideoSettings(int width, int height, int pictureHeight, int frameRate) {
    if (pictureHeight <= 0 || pictureHeight >= height) {
        return videoSettings(width, height, frameRate);
    }
    const int scaledHeight = pictureHeight & ~1;
    const auto scaledWidth = 2 * std::lround(static_cast<double>(width) * scaledHeight / height / 2);
    return videoSettings(static_cast<double>(std::max<long>(scaledWidth, 2)), scaledHeight, frameRate);
}

int movieFrameRate(const VideoSettings& settings) {
    return settings.expectedFrameRate > 0 ? settings.expectedFrameRate : 30;
}

AudioSettings audioSettings() {
    return AudioSettings{};
}

}  // namespace vidora
