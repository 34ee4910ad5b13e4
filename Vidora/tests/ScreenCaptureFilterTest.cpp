// The selection rules against snapshots laid out by hand.
#include <gtest/gtest.h>

#include <limits>

#include "capture/ScreenCaptureFilter.h"

namespace vidora {
namespace {

constexpr std::string_view game = "com.blizzard.worldofwarcraft";
constexpr std::string_view discord = "com.hnc.Discord";

class FakeContentProvider : public ContentProvider {
public:
    std::optional<ShareableContent> content = ShareableContent{};
    std::optional<std::string> ownIdentifier = "net.tavrinworks.Vidora";

    std::optional<ShareableContent> getShareableContent() const override { return content; }
    std::optional<std::string> ownBundleIdentifier() const override { return ownIdentifier; }
};

ApplicationRecord application(std::string_view identifier, pid_t pid) {
    return {std::string(identifier), pid};
}

Window window(std::uint32_t id, bool active, std::optional<ApplicationRecord> owner, Rect frame) {
    return {id, active, std::move(owner), frame};
}

const Display left{101, 1920, 1080, {0, 0, 1920, 1080}};
const Display right{4000000000U, 2560, 1440, {1920, 0, 2560, 1440}};

class ScreenCaptureFilterTest : public ::testing::Test {
protected:
    FakeContentProvider provider;
    ScreenCaptureFilter filter{provider};
};

TEST_F(ScreenCaptureFilterTest, ListsEveryDisplayInOrderAndNothingWithoutOne) {
    provider.content->displays = {right, left};
    EXPECT_EQ(filter.getDisplays(),
              (std::vector<DisplaySummary>{{4000000000LL, 2560, 1440}, {101, 1920, 1080}}));
    provider.content->displays.clear();
    EXPECT_EQ(filter.getDisplays(), std::nullopt);
    provider.content.reset();
    EXPECT_EQ(filter.getDisplays(), std::nullopt);
}

TEST_F(ScreenCaptureFilterTest, DisplayFormExcludesEveryCopyOfTheRecorderOnly) {
    const auto own = application("net.tavrinworks.Vidora", 10);
    const auto ownCopy = application("net.tavrinworks.Vidora", 11);
    provider.content->displays = {left, right};
    provider.content->applications = {own, application(game, 20), application("net.tavrinworks.vidora", 30),
                                      ownCopy, application("", 40)};
    const auto chosen = filter.get(std::int64_t{4000000000LL});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->kind, ContentFilter::Kind::excludingApplications);
    EXPECT_EQ(chosen->display, right);
    EXPECT_EQ(chosen->excludedApplications, (std::vector<ApplicationRecord>{own, ownCopy}));
    EXPECT_EQ(chosen->contentRect(), right.frame);

    // Without an identifier of its own the recorder cuts out nothing, not even applications without one.
    for (const auto& none : {std::optional<std::string>(), std::optional<std::string>("")}) {
        provider.ownIdentifier = none;
        const auto whole = filter.get(std::int64_t{101});
        ASSERT_TRUE(whole);
        EXPECT_TRUE(whole->excludedApplications.empty());
    }
}

TEST_F(ScreenCaptureFilterTest, DisplayFormGivesNothingForAnIdNoDisplayHas) {
    const Display widest{std::numeric_limits<std::uint32_t>::max(), 800, 600, {0, 0, 800, 600}};
    provider.content->displays = {left, widest};
    EXPECT_EQ(filter.get(std::int64_t{102}), std::nullopt);
    EXPECT_EQ(filter.get(std::int64_t{-1}), std::nullopt);
    EXPECT_EQ(filter.get((std::int64_t{1} << 32) + 101), std::nullopt);
    const auto widestFilter = filter.get(std::int64_t{4294967295LL});
    ASSERT_TRUE(widestFilter);
    EXPECT_EQ(widestFilter->display, widest);
    provider.content.reset();
    EXPECT_EQ(filter.get(std::int64_t{101}), std::nullopt);
}

TEST_F(ScreenCaptureFilterTest, ApplicationFormNeedsAnActiveWindowThatADisplayMeets) {
    const auto wow = application(game, 20);
    provider.content->displays = {left};
    provider.content->windows = {window(1, false, wow, {0, 0, 800, 600}),
                                 window(2, true, std::nullopt, {0, 0, 8, 8}),
                                 window(3, true, application("", 21), {0, 0, 8, 8})};
    EXPECT_EQ(filter.get(game), std::nullopt);
    EXPECT_EQ(filter.get("com.blizzard.WorldOfWarcraft"), std::nullopt);
    EXPECT_EQ(filter.get(""), std::nullopt);
    provider.content->windows.push_back(window(4, true, wow, {-900, 0, 800, 600}));
    EXPECT_EQ(filter.get(game), std::nullopt);
    provider.content.reset();
    EXPECT_EQ(filter.get(game), std::nullopt);
}

TEST_F(ScreenCaptureFilterTest, ApplicationFormAnchorsOnTheFirstDisplayThatMeetsTheFirstActiveWindow) {
    const auto wow = application(game, 20);
    const auto straddling = window(2, true, wow, {1800, 100, 400, 300});
    const auto onLeftOnly = window(3, true, wow, {10, 10, 200, 200});
    // The inactive window, on the right display only, is no anchor.
    provider.content->windows = {window(1, false, wow, {2000, 0, 100, 100}), straddling, onLeftOnly};
    provider.content->displays = {right, left};
    auto chosen = filter.get(game);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->kind, ContentFilter::Kind::includingWindows);
    EXPECT_EQ(chosen->display, right);
    EXPECT_EQ(chosen->includedWindows, (std::vector<Window>{straddling, onLeftOnly}));
    provider.content->displays = {left, right};
    chosen = filter.get(game);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->display, left);
}

TEST_F(ScreenCaptureFilterTest, DiscordGoesWithTheGameOnly) {
    const auto voice = application(discord, 30);
    const auto discordShown = window(1, true, voice, {1000, 500, 600, 400});
    const auto gameShown = window(3, true, application(game, 20), {0, 0, 1920, 1080});
    const auto browser = window(4, true, application("org.mozilla.firefox", 40), {0, 0, 800, 600});
    const auto discordOnRight = window(5, true, voice, {2000, 0, 600, 400});
    provider.content->displays = {left, right};
    provider.content->windows = {discordShown, window(2, false, voice, {0, 0, 600, 400}), gameShown, browser,
                                 discordOnRight};

    // Discord's first window is no anchor for the game; its windows on other displays stay listed.
    const auto withGame = filter.get(game);
    ASSERT_TRUE(withGame);
    EXPECT_EQ(withGame->display, left);
    EXPECT_EQ(withGame->includedWindows, (std::vector<Window>{discordShown, gameShown, discordOnRight}));
    EXPECT_EQ(filter.get("org.mozilla.firefox").value().includedWindows, (std::vector<Window>{browser}));
    EXPECT_EQ(filter.get(discord).value().includedWindows,
              (std::vector<Window>{discordShown, discordOnRight}));

    provider.content->windows = {discordShown, discordOnRight};
    EXPECT_EQ(filter.get(game), std::nullopt);
}

}  // namespace
}  // namespace vidora
