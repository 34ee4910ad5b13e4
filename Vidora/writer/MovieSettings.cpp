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

AudioSettings audioSettings() {
    return AudioSettings{};
}

}  // namespace vidora
