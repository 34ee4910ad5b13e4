// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "control/AppInfo.h"

namespace vidora {
namespace {

TEST(AppInfo, VersionNumbers) {
    // Releases in order, a minor or patch past 99 carrying over; each piece signed on its own.
    EXPECT_EQ(versionToNumber("1.2.3"), 10203);
    EXPECT_EQ(versionToNumber("1.100.0"), 20000);
    EXPECT_EQ(versionToNumber("007.08.09"), 70809);
    EXPECT_EQ(versionToNumber("+1.-2.+3"), 9803);
    EXPECT_EQ(versionToNumber("-1.0.0"), -10000);
    // To the limits of 64 bits.
    EXPECT_EQ(versionToNumber("922337203685477.0.5807"), INT64_MAX);
    EXPECT_EQ(versionToNumber("-922337203685477.0.-5808"), INT64_MIN);
    // Anything but three signed decimal numbers, or beyond 64 bits (each piece, product and sum), is 0.
    for (const char* text : {"", "1.2", "1.2.3.4", "1..3", "a.b.c", "1.2.3b", " 1.2.3", "1.+.3", "+-1.2.3",
                             "1.2.0x3", "0.0.9223372036854775808", "922337203685478.0.0",
                             "0.92233720368547759.0", "922337203685477.0.5808", "-922337203685477.0.-5809"}) {
        EXPECT_EQ(versionToNumber(text), 0) << text;
    }
    // The built-in version is one the update check can compare.
    EXPECT_GT(versionToNumber(AppInfo::current().appVersion), 0);
}

}  // namespace
}  // namespace vidora
