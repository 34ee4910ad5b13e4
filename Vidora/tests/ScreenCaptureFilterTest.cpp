// SPDX-License-Identifier: GPL-3.0-or-later
// The selection rules against snapshots laid out by hand.
#include <gtest/gtest.h>

#include <variant>

#include "capture/ScreenCaptureFilter.h"

namespace vidora {
namespace {

const std::string gameId = "com.blizzard.worldofwarcraft";
const std::string discord = "com.hnc.Discord";
const std::string own = "net.tavrinworks.Vidora";

class FakeContentProvider : public ContentProvider {
public:
    std::optional<ShareableContent> content;
    std::optional<std::string> ownIdentifier = own;

    std::optional<ShareableContent> getShareableContent() const override { return content; }
    std::optional<std::string> ownBundleIdentifier() const override { return ownIdentifier; }
};

const Display left{101, 1920, 1080, {0, 0, 1920, 1080}};
const Display right{4000000000U, 2560, 1440, {1920, 0, 2560, 1440}};
const ApplicationRecord wow{gameId, 20};
const ApplicationRecord voice{discord, 30};
const ApplicationRecord self{own, 10};
const ApplicationRecord selfCopy{own, 11};
const std::vector<ApplicationRecord> applications{
    self, wow, {"net.tavrinworks.vidora", 30}, selfCopy, {"", 40}};
const Window inactiveGame{1, false, wow, {0, 0, 800, 600}};
const Window straddling{2, true, wow, {1800, 100, 400, 300}};
const Window onLeftOnly{3, true, wow, {10, 10, 200, 200}};
const Window discordShown{4, true, voice, {1000, 500, 600, 400}};
const Window discordOnRight{5, true, voice, {2000, 0, 600, 400}};
const Window browser{6, true, ApplicationRecord{"org.mozilla.firefox", 40}, {0, 0, 800, 600}};
constexpr auto including = ContentFilter::Kind::includingWindows;
constexpr auto excluding = ContentFilter::Kind::excludingApplications;

TEST(ScreenCaptureFilterTest, ChoosesWhatToRecord) {
    const struct {
        const char* what;
        std::vector<Display> displays;  // none: no snapshot at all
        std::vector<Window> windows;
        std::optional<std::string> ownIdentifier;
        std::variant<std::int64_t, std::string> target;
        std::optional<ContentFilter> expected;
    } cases[] = {
        // A display: every copy of the recorder left out, by its exact identifier; an empty one names
        // no application.
        {"display",
         {left, right},
         {},
         own,
         4000000000LL,
         ContentFilter{excluding, right, {}, {self, selfCopy}}},
        {"empty own identifier", {left}, {}, "", 101, ContentFilter{excluding, left, {}, {}}},
        {"unknown display", {left}, {}, own, 102, std::nullopt},
        {"display id beyond 32 bits", {left}, {}, own, (std::int64_t{1} << 32) + 101, std::nullopt},
        {"display without snapshot", {}, {}, own, 101, std::nullopt},
        // An application: its active windows, on the first display that meets the first of them.
        {"game",
         {right, left},
         {inactiveGame, straddling, onLeftOnly},
         own,
         gameId,
         ContentFilter{including, right, {straddling, onLeftOnly}, {}}},
        {"off every display", {left}, {{2, true, wow, {-900, 0, 800, 600}}}, own, gameId, std::nullopt},
        // Discord goes with the game (never its anchor; its windows on other displays too), not others.
        {"game with Discord",
         {left, right},
         {discordShown, {10, false, voice, {0, 0, 600, 400}}, onLeftOnly, browser, discordOnRight},
         own,
         gameId,
         ContentFilter{including, left, {discordShown, onLeftOnly, discordOnRight}, {}}},
        {"browser alone",
         {left},
         {discordShown, onLeftOnly, browser},
         own,
         "org.mozilla.firefox",
         ContentFilter{including, left, {browser}, {}}},
        {"Discord without the game",
         {left, right},
         {discordShown, discordOnRight},
         own,
         gameId,
         std::nullopt},
    };
    for (const auto& row : cases) {
        FakeContentProvider provider;
        if (!row.displays.empty()) {
            provider.content = ShareableContent{row.displays, row.windows, applications};
        }
        provider.ownIdentifier = row.ownIdentifier;
        const ScreenCaptureFilter filter(provider);
        const auto chosen = std::visit([&](const auto& target) { return filter.get(target); }, row.target);
        EXPECT_EQ(chosen, row.expected) << row.what;
    }
}

}  // namespace
}  // namespace vidora
