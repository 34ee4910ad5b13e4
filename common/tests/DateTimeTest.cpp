// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <ctime>

#include "common/DateTime.h"

namespace tavrin {
namespace {

using namespace std::chrono_literals;

// The expected instants are those of Berlin, summer and winter time alike.
[[maybe_unused]] const bool inBerlin = (::setenv("TZ", "Europe/Berlin", 1), ::tzset(), true);

Date at(std::time_t seconds, std::chrono::milliseconds fraction = 0ms) {
    return std::chrono::system_clock::from_time_t(seconds) + fraction;
}

TEST(DateTimeTest, ReadsOnlyExistingLocalTimesOfTheSupportedYearsAndStampsFiles) {
    EXPECT_EQ(dateTimeDot("05/01/2024 20:15:30.123"), at(1714587330, 123ms));
    EXPECT_EQ(dateTimeDot("2/29/2000 23:59:59.999"), at(951865199, 999ms));
    // Lines of one second come in bursts; another second in between changes nothing.
    EXPECT_EQ(dateTimeDot("5/1/2024 20:15:31.000"), at(1714587331));
    EXPECT_EQ(dateTimeDot("05/01/2024 20:15:30.000"), at(1714587330));
    // mktime gives -1 both for failure and for the second before the epoch, here an hour after UTC's.
    EXPECT_EQ(dateTimeDot("01/01/1970 00:59:59.500"), at(-1, 500ms));
    EXPECT_EQ(dateTimeDot("12/31/2199 23:59:59.000"), at(7258114799));
    // Other shapes, dates that do not exist.
    for (const char* text :
         {"05/01/2024 20:15:30", "05/01/2024 20:15:30.1234", "05/01/24 20:15:30.123",

          "05/01/2024 20:15:30.-12", "", "13/01/2024 10:00:00.000", "00/01/2024 10:00:00.000",
          "05/00/2024 10:00:00.000", "04/31/2024 10:00:00.000", "02/29/2023 10:00:00.000",
          "02/29/1900 10:00:00.000", "05/01/2024 24:00:00.000", "05/01/2024 10:60:00.000",
          "05/01/2024 10:00:60.000",
          // A Date counts nanoseconds: years far from 1970 overflow it (1012 did).
          "12/31/1969 23:59:59.000", "01/01/2200 00:00:00.000", "01/01/1012 00:00:00.000"}) {
        EXPECT_EQ(dateTimeDot(text), std::nullopt) << text;
    }
    EXPECT_EQ(fileStamp(at(1714587330, 999ms)), "2024-05-01 20.15.30");  // local, cut to the second
    // Ages round half away from zero to the millisecond, also halves that binary fractions miss.
    const Date now = at(1714587330);
    EXPECT_DOUBLE_EQ(ageInSeconds(now + 500us, now), -0.001);  // a line from the future
    EXPECT_DOUBLE_EQ(ageInSeconds(now - 500500us, now), 0.501);
}

}  // namespace
}  // namespace tavrin
