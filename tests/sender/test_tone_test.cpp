// The sender's test tone: its pitch ladder is what lets a receiver tell
// packets apart by ear or by filter, so the schedule is checked against
// the samples themselves, not only against the formula.

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "test_audio.h"
#include "test_tone.h"

namespace talvek::tools {
namespace {

constexpr int64_t SECOND = 48000;

std::vector<int16_t> tone(int64_t first, int frames) {
    std::vector<int16_t> stereo(static_cast<size_t>(frames) * 2);
    fill_test_tone(first, frames, stereo.data());
    return stereo;
}

TEST(TestTone, PitchStepsOnceASecondAndStartsOver) {
    struct Case {
        int64_t sample;
        int hz;
    };
    const Case cases[] = {
        {0, 440},
        {SECOND - 1, 440},
        {SECOND, 550},
        {2 * SECOND - 1, 550},
        {2 * SECOND, 660},
        {3 * SECOND, 770},
        {4 * SECOND, 880},
        {5 * SECOND, 990},
        {6 * SECOND, 1100},
        {7 * SECOND, 1210},
        {8 * SECOND - 1, 1210},
        {8 * SECOND, 440},             // the ladder starts over
        {1003 * SECOND + 17, 770},     // an hour in: 1003 mod 8 = 3
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tone_frequency_at(c.sample), c.hz) << "sample " << c.sample;
    }
}

TEST(TestTone, EachSecondSoundsAtItsScheduledPitch) {
    for (int second = 0; second < TONE_STEPS + 1; ++second) {
        SCOPED_TRACE("second " + std::to_string(second));
        const int64_t first = second * SECOND;
        const int hz = tone_frequency_at(first);
        const std::vector<int16_t> stereo = tone(first, static_cast<int>(SECOND));
        const std::vector<int16_t> left = testing::channel_of(stereo, 0);
        const std::vector<int16_t> right = testing::channel_of(stereo, 1);
        EXPECT_EQ(left, right) << "both channels carry the same tone";
        // A whole second of f Hz rises through zero f times.
        EXPECT_NEAR(testing::upward_crossings(left), hz, 1);
        EXPECT_EQ(testing::strongest_ladder_pitch(left), hz);
        EXPECT_NEAR(testing::tone_amplitude(left, hz), TONE_AMPLITUDE, TONE_AMPLITUDE * 0.01);
    }
}

TEST(TestTone, OnePacketIsEnoughToTellTheStepsApart) {
    // 20 ms windows, as a receiver sees one packet at a time.
    for (int second = 0; second < TONE_STEPS; ++second) {
        const int64_t first = second * SECOND + 10 * 960;
        EXPECT_EQ(testing::strongest_ladder_pitch(testing::channel_of(tone(first, 960), 0)),
                  TONE_BASE_HZ + second * TONE_STEP_HZ)
            << "second " << second;
    }
}

TEST(TestTone, WaveHasNoJumpWhereThePitchChanges) {
    // The steepest a sine of this amplitude gets between two samples at
    // the higher of the two pitches, with a sample of rounding.
    for (int second = 1; second <= TONE_STEPS; ++second) {
        const int64_t boundary = second * SECOND;
        const std::vector<int16_t> stereo = tone(boundary - 8, 16);
        const int fastest = std::max(tone_frequency_at(boundary - 1), tone_frequency_at(boundary));
        const double limit = 2.0 * 3.14159265 * fastest / 48000.0 * TONE_AMPLITUDE + 2.0;
        for (size_t i = 2; i < stereo.size(); i += 2) {
            EXPECT_LE(std::abs(stereo[i] - stereo[i - 2]), limit) << "at second " << second;
        }
        EXPECT_EQ(tone_sample_at(boundary), 0) << "each step starts at phase 0";
    }
}

TEST(TestTone, PeakIsAQuarterOfFullScale) {
    const std::vector<int16_t> left = testing::channel_of(tone(0, static_cast<int>(SECOND)), 0);
    int16_t peak = 0;
    for (int16_t s : left) peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(s)));
    EXPECT_NEAR(peak, 8192, 1);
}

}  // namespace
}  // namespace talvek::tools
