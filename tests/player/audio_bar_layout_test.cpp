// The audio bar's geometry, number by number, for the window sizes a user
// meets: a 1280 x 720 window, a tiny one, and every wave threshold.

#include "audio_bar.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

// Readable failure messages; at global scope, where lookup finds them.
std::ostream& operator<<(std::ostream& os, const BarRect& r) {
    return os << "{" << r.x << ", " << r.y << ", " << r.w << ", " << r.h << "}";
}
std::ostream& operator<<(std::ostream& os, const BarLine& l) {
    return os << "(" << l.x1 << ", " << l.y1 << ")-(" << l.x2 << ", " << l.y2 << ")";
}

namespace {

enum class Sound { On, Muted };

AudioBarLayout bar_1280x720(Sound sound, float volume, bool fullscreen = false) {
    return audio_bar_layout(1280, 720, sound == Sound::Muted, volume, fullscreen);
}

TEST(AudioBarLayout, Window1280x720PlacesEveryElementOnTheCentreLine) {
    const AudioBarLayout bar = bar_1280x720(Sound::On, 1.0f);
    EXPECT_EQ(bar.center_y, 702);
    EXPECT_EQ(bar.band, (BarRect{0, 684, 1280, 36}));  // rows 684 to 719
    EXPECT_EQ(bar.speaker_color, SPEAKER_COLOR);
    EXPECT_EQ(bar.speaker_body, (BarRect{12, 697, 8, 10}));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(bar.cone[static_cast<size_t>(i)],
                  (BarLine{20 + i, 697 - i / 2, 20 + i, 707 + i / 2}))
            << "column " << i;
    }
    EXPECT_EQ(bar.slider_length, 300);
    EXPECT_EQ(bar.track, (BarRect{48, 699, 300, 6}));  // x 48 to 347, ends at 348
    EXPECT_EQ(bar.level, (BarRect{48, 699, 300, 6}));
    EXPECT_EQ(bar.knob, (BarRect{342, 696, 12, 12}));
    EXPECT_EQ(bar.cross_count, 0);
}

TEST(AudioBarLayout, HalfVolumeFillsHalfTheSliderAndCentresTheKnobOnItsEnd) {
    const AudioBarLayout bar = bar_1280x720(Sound::On, 0.5f);
    EXPECT_EQ(bar.level, (BarRect{48, 699, 150, 6}));
    EXPECT_EQ(bar.knob, (BarRect{192, 696, 12, 12}));  // x 192 to 203
}

TEST(AudioBarLayout, LevelLengthDropsTheFraction) {
    // 300 * 0.333 = 99.9: 99 pixels, not 100.
    EXPECT_EQ(bar_1280x720(Sound::On, 0.333f).level.w, 99);
    EXPECT_EQ(bar_1280x720(Sound::On, 0.0f).level.w, 0);
    EXPECT_EQ(bar_1280x720(Sound::On, 0.0f).knob.x, 42);
}

TEST(AudioBarLayout, WavesAppearStrictlyAboveTheirThresholds) {
    const struct {
        float volume;
        int waves;
    } cases[] = {{0.0f, 0}, {0.2f, 0}, {0.21f, 2}, {0.5f, 2}, {0.51f, 4}, {1.0f, 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(bar_1280x720(Sound::On, c.volume).wave_count, c.waves) << c.volume;
    }
    const AudioBarLayout bar = bar_1280x720(Sound::On, 0.8f);
    EXPECT_EQ(bar.waves[0], (BarLine{30, 698, 32, 696}));
    EXPECT_EQ(bar.waves[1], (BarLine{30, 706, 32, 708}));
    EXPECT_EQ(bar.waves[2], (BarLine{33, 696, 36, 693}));
    EXPECT_EQ(bar.waves[3], (BarLine{33, 708, 36, 711}));
}

TEST(AudioBarLayout, MutedShowsARedCrossedSpeakerAndAnEmptySlider) {
    const AudioBarLayout bar = bar_1280x720(Sound::Muted, 0.8f);
    EXPECT_EQ(bar.speaker_color, SPEAKER_MUTED_COLOR);
    EXPECT_EQ(bar.wave_count, 0);
    ASSERT_EQ(bar.cross_count, 2);
    EXPECT_EQ(bar.cross[0], (BarLine{8, 714, 36, 690}));
    EXPECT_EQ(bar.cross[1], (BarLine{9, 714, 37, 690}));
    EXPECT_EQ(bar.level.w, 0);
    EXPECT_EQ(bar.knob, (BarRect{42, 696, 12, 12}));  // x 42 to 53
}

TEST(AudioBarLayout, FullscreenIconFlipsBetweenEnterAndLeave) {
    // fx = 1248; the box spans x 1248 to 1264, y 696 to 708.
    const AudioBarLayout enter = bar_1280x720(Sound::On, 1.0f, false);
    const std::array<BarLine, 8> enter_lines{{{1248, 696, 1252, 696},
                                              {1248, 696, 1248, 700},
                                              {1264, 696, 1260, 696},
                                              {1264, 696, 1264, 700},
                                              {1248, 708, 1252, 708},
                                              {1248, 708, 1248, 704},
                                              {1264, 708, 1260, 708},
                                              {1264, 708, 1264, 704}}};
    EXPECT_EQ(enter.fullscreen_icon, enter_lines);

    const AudioBarLayout leave = bar_1280x720(Sound::On, 1.0f, true);
    const std::array<BarLine, 8> leave_lines{{{1252, 696, 1248, 696},
                                              {1252, 696, 1252, 700},
                                              {1260, 696, 1264, 696},
                                              {1260, 696, 1260, 700},
                                              {1252, 708, 1248, 708},
                                              {1252, 708, 1252, 704},
                                              {1260, 708, 1264, 708},
                                              {1260, 708, 1260, 704}}};
    EXPECT_EQ(leave.fullscreen_icon, leave_lines);
}

TEST(AudioBarLayout, SliderLengthFollowsTheWindowBetween40And300) {
    EXPECT_EQ(slider_length(1280), 300);
    EXPECT_EQ(slider_length(370), 300);
    EXPECT_EQ(slider_length(369), 299);
    EXPECT_EQ(slider_length(200), 130);
    EXPECT_EQ(slider_length(110), 40);
    EXPECT_EQ(slider_length(100), 40);  // 100 - 70 = 30, raised to 40
    EXPECT_EQ(slider_length(0), 40);
    EXPECT_EQ(slider_length(std::numeric_limits<int>::min()), 40);
    EXPECT_EQ(slider_length(std::numeric_limits<int>::max()), 300);

    const AudioBarLayout tiny = audio_bar_layout(100, 100, false, 1.0f, false);
    EXPECT_EQ(tiny.track, (BarRect{48, 79, 40, 6}));  // reaches x 88
    EXPECT_EQ(tiny.fullscreen_icon[0].x1, 68);
}

TEST(AudioBarLayout, VolumeOutsideZeroToOneKeepsTheKnobOnTheSlider) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(bar_1280x720(Sound::On, 1e30f).level.w, 300);
    EXPECT_EQ(bar_1280x720(Sound::On, -4.0f).level.w, 0);
    EXPECT_EQ(bar_1280x720(Sound::On, nan).level.w, 0);
    EXPECT_EQ(bar_1280x720(Sound::On, nan).knob.x, 42);
}

}  // namespace
