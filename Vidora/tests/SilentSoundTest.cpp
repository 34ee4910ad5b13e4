#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "capture/SilentSound.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;

bool allZero(const AudioBuffer& buffer) {
    return std::all_of(buffer.samples.begin(), buffer.samples.end(),
                       [](std::int16_t sample) { return sample == 0; });
}

TEST(SilentSoundTest, CreatesZerosAtTheStartFrameTime) {
    const auto silence = SilentSound::create(48000, 2048, 48000, 2);
    ASSERT_TRUE(silence);
    EXPECT_EQ(silence->samples.size() * sizeof(std::int16_t), 8192u);
    EXPECT_TRUE(allZero(*silence));
    EXPECT_EQ(silence->presentationTime, 1s);
    EXPECT_EQ(silence->sampleRate, 48000);
    EXPECT_EQ(silence->channels, 2);
    EXPECT_EQ(silence->frameCount(), 2048);
    EXPECT_EQ(SilentSound::create(24000, 0, 48000.9, 1)->presentationTime, 500ms);  // rate truncated
}

TEST(SilentSoundTest, CreatesNothingForArgumentsNoBufferCanCarry) {
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(SilentSound::create(0, 2048, 48000, 0));
    EXPECT_FALSE(SilentSound::create(0, 2048, 48000, 1u << 31));
    EXPECT_FALSE(SilentSound::create(0, -1, 48000, 1));
    EXPECT_FALSE(SilentSound::create(0, std::numeric_limits<std::int64_t>::max() / 2, 48000, 2));
    EXPECT_FALSE(SilentSound::create(0, 2048, std::nan(""), 1));
    EXPECT_FALSE(SilentSound::create(0, 2048, infinity, 1));
    EXPECT_FALSE(SilentSound::create(0, 2048, 3e9, 1));
    EXPECT_FALSE(SilentSound::create(0, 2048, 0, 1));
    EXPECT_FALSE(SilentSound::create(std::numeric_limits<std::int64_t>::max(), 1, 1, 1));
}

TEST(SilentSoundTest, SharedBufferIsMadeOnceAtTimeZero) {
    const auto& shared = SilentSound::buffer();
    ASSERT_TRUE(shared);
    EXPECT_EQ(&shared, &SilentSound::buffer());
    EXPECT_EQ(shared->presentationTime, 0ns);
    EXPECT_EQ(shared->frameCount(), 2048);
    EXPECT_EQ(shared->channels, 1);
    EXPECT_EQ(shared->sampleRate, 48000);
    EXPECT_TRUE(allZero(*shared));
}

TEST(SilentSoundTest, MutedCopyKeepsTimingAndCountWithZeros) {
    AudioBuffer captured;
    captured.samples = {100, -200, 300, -400, 500, -600};
    captured.channels = 2;
    captured.sampleRate = 44100;
    captured.presentationTime = 1234ms;
    const auto muted = muteAudio(captured);
    ASSERT_TRUE(muted);
    EXPECT_EQ(muted->samples, std::vector<std::int16_t>(6, 0));
    EXPECT_EQ(muted->presentationTime, 1234ms);
    EXPECT_EQ(muted->sampleRate, 44100);
    EXPECT_EQ(muted->channels, 2);
    EXPECT_EQ(captured.samples[0], 100);

    AudioBuffer empty;
    empty.presentationTime = 5ms;
    ASSERT_TRUE(muteAudio(empty));
    EXPECT_TRUE(muteAudio(empty)->samples.empty());
    EXPECT_EQ(muteAudio(empty)->presentationTime, 5ms);

    AudioBuffer noFormat = captured;
    noFormat.channels = 0;
    EXPECT_FALSE(muteAudio(noFormat));
    noFormat = captured;
    noFormat.sampleRate = 0;
    EXPECT_FALSE(muteAudio(noFormat));
    noFormat = captured;
    noFormat.valid = false;
    EXPECT_FALSE(muteAudio(noFormat));
}

}  // namespace
}  // namespace vidora
