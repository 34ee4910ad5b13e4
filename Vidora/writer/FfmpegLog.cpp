// SPDX-License-Identifier: GPL-3.0-or-later
#include "writer/FfmpegLog.h"

#include <array>
#include <cstdarg>
#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

namespace vidora {

namespace {

void logLine(void* object, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_WARNING || level > av_log_get_level()) {
        return;
    }
    // A message may come in pieces: the context's prefix belongs only in front of the first.
    thread_local int printPrefix = 1;
    std::array<char, 4096> line{};
    const int length =
        av_log_format_line2(object, level, format, arguments, line.data(), int(line.size()), &printPrefix);
    if (length < 0) {
        return;
    }
    std::cerr << line.data();
    if (length >= int(line.size())) {
        std::cerr << std::endl;  // cut short, with its line feed
        printPrefix = 1;
    }
}

}  // namespace

void logFfmpegWarnings() {
    av_log_set_callback(logLine);
}

}  // namespace vidora
