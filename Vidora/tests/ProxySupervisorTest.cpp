// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "FakeWorkspace.h"
#include "ManualClock.h"
#include "TemporaryFolder.h"
#include "control/ProxySupervisor.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;

TEST(ProxySupervisor, StartsAMissingProxyAtMostThreeTimesAMinuteAndReadsItsStatus) {
    tavrin::testing::FakeWorkspace work;
    tavrin::testing::ManualClock clock;
    tavrin::testing::TemporaryFolder state;
    int starts = 0;
    std::vector<std::string> states;
    ProxySupervisor supervisor(work, clock,
                               {.startProxy = [&] { ++starts; },
                                .statusFile = state.file("Parlan.status"),
                                .stateChanged = [&](const std::string& text) { states.push_back(text); }});
    for (int check = 0; check < 5; ++check) {
        supervisor.check();
        clock.advance(2s);
    }
    EXPECT_EQ(starts, 3);
    clock.advance(50s);  // a minute after the first start
    supervisor.check();
    EXPECT_EQ(starts, 4);
    // One runs (whoever started it): it is left alone, and its status shown.
    work.run(77, std::string(tavrin::proxyBundleIdentifier));
    tavrin::testing::writeFile(state.file("Parlan.status"), "Working...\n");
    supervisor.check();
    EXPECT_EQ(starts, 4);
    EXPECT_EQ(states, (std::vector<std::string>{"Parlan is not running", "Parlan: Working..."}));
}

}  // namespace
}  // namespace vidora
