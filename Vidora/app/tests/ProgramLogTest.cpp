// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ManualClock.h"
#include "ProgramStart.h"
#include "TemporaryFolder.h"
#include "common/StandardErrorLog.h"
#include "writer/FfmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

// Qt's and FFmpeg's own messages, which explain many failures, reach the program's log file with its
// other lines; FFmpeg's chatter does not.
TEST(ProgramLog, QtMessagesAndFfmpegWarningsReachTheLogFile) {
    tavrin::testing::TemporaryFolder state;
    const tavrin::testing::ManualClock clock;
    {
        const tavrin::StandardErrorLog log(state.file("Vidora.log"), clock);
        tavrin::logQtMessages();
        vidora::logFfmpegWarnings();
        qWarning("The X11 connection broke");
        av_log(nullptr, AV_LOG_ERROR, "Device creation failed: %d.\n", -5);
        av_log(nullptr, AV_LOG_INFO, "Stream mapping:\n");
        qInstallMessageHandler(nullptr);
        av_log_set_callback(av_log_default_callback);
    }
    const std::string text = tavrin::testing::readFile(state.file("Vidora.log"));
    EXPECT_NE(text.find(" The X11 connection broke\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" Device creation failed: -5.\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Stream mapping"), std::string::npos) << text;
}
