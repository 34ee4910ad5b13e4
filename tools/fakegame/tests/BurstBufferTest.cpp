#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "FakeGameTesting.h"
#include "log/BurstBuffer.h"

namespace fakegame {
namespace {

using testing::splitLines;

std::string join(const std::vector<std::string>& parts) {
    return std::accumulate(parts.begin(), parts.end(), std::string());
}

// The stream offsets where the bursts end.
std::vector<std::size_t> ends(const std::vector<std::string>& bursts, std::size_t from = 0) {
    std::vector<std::size_t> offsets;
    for (const auto& burst : bursts) {
        offsets.push_back(from += burst.size());
    }
    return offsets;
}

const std::string& sampleLog() {
    static const std::string text = [] {
        const std::string whole = testing::readFile(std::string(TAVRIN_SHARED_DIR) +
                                                    "/combatlogs/retail-11.2-2v2-hunter_priest_match.txt");
        return whole.substr(0, whole.find('\n', 60000) + 1);
    }();
    return text;
}

TEST(FakeGameBurstTest, BurstsCutLinesButTogetherAreTheWhole) {
    const std::string& text = sampleLog();
    ASSERT_GT(text.size(), 60000U);
    const auto bursts = splitIntoBursts(text, 7, 300);
    EXPECT_EQ(join(bursts), text);
    EXPECT_GT(bursts.size(), 50U);
    EXPECT_TRUE(std::all_of(bursts.begin(), bursts.end(),
                            [](const std::string& burst) { return !burst.empty() && burst.size() <= 600; }));
    const auto cutLines = std::count_if(bursts.begin(), bursts.end() - 1,
                                        [](const std::string& burst) { return burst.back() != '\n'; });
    EXPECT_GT(cutLines, static_cast<long>(bursts.size()) / 2);

    EXPECT_EQ(splitIntoBursts(text, 7, 300), bursts);
    EXPECT_NE(splitIntoBursts(text, 8, 300), bursts);
}

TEST(FakeGameBurstTest, CutsStayInPlaceHoweverTheTextArrives) {
    const std::string& text = sampleLog();
    const auto whole = splitIntoBursts(text, 11, 400);
    auto expected = ends(whole);
    expected.pop_back();  // the tail is no cut

    // Line by line, with the held tail given up once halfway (as after a pause).
    BurstBuffer buffer(11, 400);
    std::vector<std::string> written;
    const auto lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (auto& burst : buffer.add(lines[i] + "\n")) {
            written.push_back(std::move(burst));
        }
        if (i == lines.size() / 2 && buffer.holding()) {
            written.push_back(buffer.drain());
        }
    }
    written.push_back(buffer.drain());
    EXPECT_EQ(join(written), text);
    // Every cut of the whole text is still a place where a write ended.
    const auto writtenEnds = ends(written);
    EXPECT_TRUE(std::includes(writtenEnds.begin(), writtenEnds.end(), expected.begin(), expected.end()));
    EXPECT_LE(writtenEnds.size(), expected.size() + 2);
}

}  // namespace
}  // namespace fakegame
