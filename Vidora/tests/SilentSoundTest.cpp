#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "capture/SilentSound.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;

TEST(SilentSoundTest, CreatesZerosAtTheStartFrameTime) {
    const auto silence = SilentSound::create(48000, 2048, 48000, 2);
    ASSERT_TRUE(silence);
    EXPECT_EQ(silence->samples, std::vector<std::int16_t>(4096, 0));
    EXPECT_EQ(std::tuple(silence->presentationTime, silence->sampleRate, silence->channels),
              std::tuple(1s, 48000, 2));
    EXPECT_EQ(SilentSound::create(24000, 0, 48000.9, 1)->presentationTime, 500ms);  // rate truncated
    // The stand-in for a muted buffer that cannot be copied: 2048 frames of mono silence at time zero.
    EXPECT_EQ(SilentSound::buffer()->samples, std::vector<std::int16_t>(2048, 0));
    EXPECT_EQ(SilentSound::buffer()->presentationTime, 0ns);
}

TEST(SilentSoundTest, CreatesNothingForArgumentsNoBufferCanCarry) {
    constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
    const struct {
        std::int64_t start, frames;
        double rate;
        std::uint32_t channels;
    } refused[] = {
        {0, 2048, 48000, 0},                                    // no channels
        {0, 2048, 48000, 1u << 31},                             // channels beyond int32
        {0, -1, 48000, 1},                                      // negative length
        {0, int64Max / 2, 48000, 2},                            // byte count overflows
        {0, 2048, std::nan(""), 1},                             // rate not a number
        {0, 2048, std::numeric_limits<double>::infinity(), 1},  // rate infinite
        {0, 2048, 3e9, 1},                                      // rate beyond int32
        {0, 2048, 0, 1},                                        // rate zero
        {int64Max, 1, 1, 1},                                    // start time overflows
    };
    for (const auto& row : refused) {
        EXPECT_FALSE(SilentSound::create(row.start, row.frames, row.rate, row.channels))
            << row.start << " " << row.frames << " " << row.rate << " " << row.channels;
    }
}

TEST(SilentSoundTest, MutedCopyKeepsTimingAndFormatWithZeros) {
    AudioBuffer captured;
    captured.samples = {100, -200, 300, -400, 500, -600};
    captured.channels = 2;
    captured.sampleRate = 44100;
    captured.presentationTime = 1234ms;
    const auto muted = muteAudio(captured);
    ASSERT_TRUE(muted);
    EXPECT_EQ(muted->samples, std::vector<std::int16_t>(6, 0));
    EXPECT_EQ(std::tuple(muted->presentationTime, muted->sampleRate, muted->channels),
              std::tuple(1234ms, 44100, 2));
    EXPECT_EQ(captured.samples[0], 100);
    EXPECT_TRUE(muteAudio(AudioBuffer{})->samples.empty());

    // Without a format or marked invalid there is nothing to copy.
    for (const auto spoil :
         {+[](AudioBuffer& b) { b.channels = 0; }, +[](AudioBuffer& b) { b.sampleRate = 0; },
          +[](AudioBuffer& b) { b.valid = false; }}) {
        AudioBuffer broken = captured;
        spoil(broken);
        EXPECT_FALSE(muteAudio(broken));
    }
}

}  // namespace
}  // namespace vidora
