#include <gtest/gtest.h>

#include <limits>

#include "control/AppInfo.h"

namespace vidora {
namespace {

TEST(AppInfo, BuiltInValuesAndAddresses) {
    const AppInfo& info = AppInfo::current();
    EXPECT_EQ(info.appName, "Vidora");
    EXPECT_EQ(info.pricePlans, "basic");
    EXPECT_GT(versionToNumber(info.appVersion), 0);
    EXPECT_EQ(info.versionUrl(), "https://tavrinworks.net/recorder/version/?type=basic");
    EXPECT_EQ(info.versionJson(), "https://tavrinworks.net/recorder/version/basic-linux.json");
}

TEST(AppInfo, VersionNumbersOrderReleases) {
    EXPECT_EQ(versionToNumber("1.2.3"), 10203);
    EXPECT_EQ(versionToNumber("1.10.0"), 11000);
    EXPECT_EQ(versionToNumber("1.100.0"), 20000);
    EXPECT_EQ(versionToNumber("2.0.0"), 20000);
    EXPECT_EQ(versionToNumber("0.0.0"), 0);
    EXPECT_EQ(versionToNumber("+1.-2.+3"), 9803);
    EXPECT_EQ(versionToNumber("-1.0.0"), -10000);
    EXPECT_EQ(versionToNumber("007.08.09"), 70809);
}

TEST(AppInfo, AnythingElseIsZero) {
    for (const char* text :
         {"", "1", "1.2", "1.2.3.4", "1..3", ".1.2", "1.2.", "a.b.c", "1.2.3b", " 1.2.3", "1.2.3 ", "1.+.3",
          "1.-.3", "+-1.2.3", "--1.2.3", "1.2.0x3", "1.2.3\n", "１.2.3"}) {
        EXPECT_EQ(versionToNumber(text), 0) << text;
    }
}

TEST(AppInfo, BeyondSixtyFourBitsIsZero) {
    const std::string largest = std::to_string(std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(versionToNumber("0.0." + largest), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(versionToNumber("0.0.9223372036854775808"), 0);
    EXPECT_EQ(versionToNumber("922337203685478.0.0"), 0);
    EXPECT_EQ(versionToNumber("0.92233720368547759.0"), 0);
    EXPECT_EQ(versionToNumber("922337203685477.0.5807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(versionToNumber("922337203685477.0.5808"), 0);
    EXPECT_EQ(versionToNumber("-922337203685477.0.-5808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(versionToNumber("-922337203685477.0.-5809"), 0);
}

}  // namespace
}  // namespace vidora
