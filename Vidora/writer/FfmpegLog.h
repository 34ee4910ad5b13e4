// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vidora {

// Hands FFmpeg's own warnings and errors (an encoder that will not open, a device that fails) to
// std::cerr, so they reach the program's log file with its other lines; quieter messages are dropped.
// Once, at the start of main; any thread may log afterwards.
void logFfmpegWarnings();

}  // namespace vidora
