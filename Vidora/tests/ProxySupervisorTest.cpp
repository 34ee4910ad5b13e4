// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "FakeWorkspace.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "common/ProxyStatus.h"
#include "control/ProxySupervisor.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using tavrin::testing::writeFile;

// The checks as the supervisor's thread paces them, on a clock the test moves: a proxy that crashes is
// back 4 s later at most (found gone within a check, started again 2 s after), the second time 10 s after it
// was found gone; the third crash within ten minutes ends the restarts. A proxy the player quit stays
// quit; a quit line left by an earlier proxy (the recorder's own quit last time) stands for nothing.
TEST(ProxySupervisor, RestartsACrashedProxyWithGrowingWaitsUpToThreeCrashesAndLeavesAQuitOneAlone) {
    tavrin::testing::FakeWorkspace work;
    tavrin::testing::ManualClock clock;
    tavrin::testing::TemporaryFolder state;
    const std::string status = state.file("Parlan.status");
    const std::string proxy(tavrin::proxyBundleIdentifier);
    pid_t nextPid = 10;
    std::vector<tavrin::Date> starts;
    std::vector<std::string> states;
    std::vector<RecordingNotice> told;
    ProxySupervisor supervisor(work, clock,
                               {.startProxy =
                                    [&] {
                                        starts.push_back(clock.now());
                                        work.run(nextPid, proxy);
                                        return std::optional(nextPid++);
                                    },
                                .statusFile = status,
                                .logFile = "/state/Parlan.log",
                                .stateChanged = [&](const std::string& text) { states.push_back(text); },
                                .tell = [&](const RecordingNotice& notice) { told.push_back(notice); }});
    const auto runFor = [&](std::chrono::seconds span) {
        for (const auto end = clock.now() + span; clock.now() < end;) {
            clock.advance(ProxySupervisor::interval);
            supervisor.check();
        }
    };
    const auto crash = [&] {
        work.applications.clear();
        return clock.now();
    };
    writeFile(status, tavrin::proxyQuitLine(9) + "\n");
    work.run(nextPid++, proxy);  // as the recorder's launch starts it
    runFor(2s);
    const auto first = crash();  // before it wrote a status
    runFor(4s);
    writeFile(status, "Working...\n");
    runFor(2s);
    const auto second = crash();
    runFor(12s);
    ASSERT_EQ(starts, (std::vector{first + 4s, second + 12s}));
    crash();  // before its first check
    runFor(10min);
    EXPECT_EQ(starts.size(), 2U);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_NE(told[0].body.find("3 times within ten minutes"), std::string::npos);
    EXPECT_NE(told[0].body.find("/state/Parlan.log"), std::string::npos);

    // The player starts one by hand: it is looked after again, and crashes of ten minutes ago no longer
    // count. The one started in its place is quit before a check saw it.
    work.run(20, proxy);
    runFor(2s);
    const auto later = crash();
    runFor(4s);
    EXPECT_EQ(starts.back(), later + 4s);
    writeFile(status, tavrin::proxyQuitLine(nextPid - 1) + "\n");
    crash();
    runFor(10min);
    EXPECT_EQ(starts.size(), 3U);
    EXPECT_EQ(told.size(), 1U);
    const std::string gone(ProxySupervisor::notRunningText);
    EXPECT_EQ(states, (std::vector<std::string>{"Parlan: running", gone, "Parlan: Working...", gone,
                                                gone + ": it keeps stopping (see /state/Parlan.log)",
                                                "Parlan: Working...", gone,
                                                gone + ": it was quit, and starts again with Vidora"}));
}

}  // namespace
}  // namespace vidora
