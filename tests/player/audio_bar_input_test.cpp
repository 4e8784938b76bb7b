// Where a left press lands on the audio bar, what the slider reads under the
// pointer, the volume keys' steps, and when the bar shows and hides.

#include "audio_bar_input.h"

#include <gtest/gtest.h>

#include <limits>

#include "overlay_visibility.h"

namespace {

enum class Audio { Yes, No };

BarTarget press_1280x720(int x, int y, Audio audio = Audio::Yes) {
    return audio_bar_target(x, y, 1280, 720, audio == Audio::Yes);
}

// ---- hit areas --------------------------------------------------------------

TEST(AudioBarHit, SpeakerGapSliderAndPastTheSliderAlongTheBand) {
    const int y = 702;
    EXPECT_EQ(press_1280x720(0, y), BarTarget::Mute);
    EXPECT_EQ(press_1280x720(43, y), BarTarget::Mute);
    for (int x = 44; x <= 47; ++x) EXPECT_EQ(press_1280x720(x, y), BarTarget::Nothing) << x;
    EXPECT_EQ(press_1280x720(48, y), BarTarget::Slider);
    EXPECT_EQ(press_1280x720(348, y), BarTarget::Slider);  // 48 + L, inclusive
    EXPECT_EQ(press_1280x720(349, y), BarTarget::Nothing);
    EXPECT_EQ(press_1280x720(1239, y), BarTarget::Nothing);
    EXPECT_EQ(press_1280x720(1240, y), BarTarget::Fullscreen);
    EXPECT_EQ(press_1280x720(1279, y), BarTarget::Fullscreen);
}

TEST(AudioBarHit, BandStartsAt36PixelsFromTheBottom) {
    EXPECT_EQ(press_1280x720(20, 683), BarTarget::Picture);
    EXPECT_EQ(press_1280x720(20, 684), BarTarget::Mute);
    EXPECT_EQ(press_1280x720(20, 719), BarTarget::Mute);
    EXPECT_EQ(press_1280x720(1250, 683), BarTarget::Picture);
    EXPECT_EQ(press_1280x720(1250, 684), BarTarget::Fullscreen);
}

TEST(AudioBarHit, FullscreenAreaWinsWhereANarrowWindowsSliderReachesIt) {
    // 300 wide: L = 230, slider to x 278, fullscreen area from x 260.
    EXPECT_EQ(audio_bar_target(259, 290, 300, 300, true), BarTarget::Slider);
    EXPECT_EQ(audio_bar_target(260, 290, 300, 300, true), BarTarget::Fullscreen);
    EXPECT_EQ(audio_bar_target(278, 290, 300, 300, true), BarTarget::Fullscreen);
    // 100 wide: the fullscreen area starts at 60, inside the 40-pixel slider.
    EXPECT_EQ(audio_bar_target(59, 90, 100, 100, true), BarTarget::Slider);
    EXPECT_EQ(audio_bar_target(60, 90, 100, 100, true), BarTarget::Fullscreen);
    EXPECT_EQ(audio_bar_target(10, 90, 100, 100, true), BarTarget::Mute);
}

TEST(AudioBarHit, SilentStreamKeepsOnlyTheFullscreenButton) {
    EXPECT_EQ(press_1280x720(20, 702, Audio::No), BarTarget::Nothing);
    EXPECT_EQ(press_1280x720(200, 702, Audio::No), BarTarget::Nothing);
    EXPECT_EQ(press_1280x720(1250, 702, Audio::No), BarTarget::Fullscreen);
    EXPECT_EQ(press_1280x720(200, 300, Audio::No), BarTarget::Picture);
}

TEST(AudioBarHit, ExtremeCoordinatesDoNotOverflowTheEdges) {
    constexpr int lo = std::numeric_limits<int>::min();
    constexpr int hi = std::numeric_limits<int>::max();
    EXPECT_EQ(audio_bar_target(10, lo, 1280, 720, true), BarTarget::Picture);
    EXPECT_EQ(audio_bar_target(hi, 700, 1280, 720, true), BarTarget::Fullscreen);
    EXPECT_EQ(audio_bar_target(lo, 700, 1280, 720, true), BarTarget::Mute);
    EXPECT_EQ(audio_bar_target(10, 10, lo, lo, true), BarTarget::Fullscreen);
}

// ---- the slider ---------------------------------------------------------------

TEST(SliderVolume, EndsGiveZeroAndOneAndDragsPastThemHold) {
    EXPECT_EQ(slider_volume_at(48, 1280), 0.0f);
    EXPECT_EQ(slider_volume_at(348, 1280), 1.0f);
    EXPECT_EQ(slider_volume_at(198, 1280), 0.5f);
    EXPECT_FLOAT_EQ(slider_volume_at(108, 1280), 0.2f);
    EXPECT_EQ(slider_volume_at(47, 1280), 0.0f);
    EXPECT_EQ(slider_volume_at(-5000, 1280), 0.0f);
    EXPECT_EQ(slider_volume_at(349, 1280), 1.0f);
    EXPECT_EQ(slider_volume_at(std::numeric_limits<int>::max(), 1280), 1.0f);
    EXPECT_EQ(slider_volume_at(std::numeric_limits<int>::min(), 1280), 0.0f);
    // A 100-wide window's 40-pixel slider.
    EXPECT_EQ(slider_volume_at(68, 100), 0.5f);
    EXPECT_EQ(slider_volume_at(88, 100), 1.0f);
}

TEST(VolumeKeys, StepsOfFiveHundredthsStopAtTheEnds) {
    EXPECT_EQ(volume_up(0.98f), 1.0f);
    EXPECT_EQ(volume_up(1.0f), 1.0f);
    EXPECT_EQ(volume_down(0.03f), 0.0f);
    EXPECT_EQ(volume_down(0.0f), 0.0f);
    EXPECT_EQ(volume_up(0.5f), 0.5f + 0.05f);
    EXPECT_EQ(volume_down(0.5f), 0.5f - 0.05f);
}

// ---- visibility ---------------------------------------------------------------

TEST(OverlayVisibility, StartUpShowsTheStripForFiveSeconds) {
    OverlayVisibility o;
    EXPECT_FALSE(o.visible);
    start_display_period(o, 1000);
    EXPECT_TRUE(o.visible);
    auto_hide(o, false, 1000);
    auto_hide(o, false, 3000);  // the stamp is still ahead: not elapsed
    auto_hide(o, false, 6000);  // exactly 2000 past the stamp
    EXPECT_TRUE(o.visible);
    auto_hide(o, false, 6001);
    EXPECT_FALSE(o.visible);
}

TEST(OverlayVisibility, ActivityShowsItForTwoMoreSeconds) {
    OverlayVisibility o;
    note_activity(o, 50000);
    EXPECT_TRUE(o.visible);
    auto_hide(o, false, 52000);
    EXPECT_TRUE(o.visible);
    auto_hide(o, false, 52001);
    EXPECT_FALSE(o.visible);
    note_activity(o, 60000);
    EXPECT_TRUE(o.visible);
}

TEST(OverlayVisibility, VolumeDragKeepsItShownForever) {
    OverlayVisibility o;
    note_activity(o, 0);
    auto_hide(o, true, 100000);
    auto_hide(o, true, 0x7FFFFFFF);
    EXPECT_TRUE(o.visible);
    auto_hide(o, false, 100000);  // released
    EXPECT_FALSE(o.visible);
}

TEST(OverlayVisibility, TickCounterWrapDoesNotHideOrHoldTheStrip) {
    OverlayVisibility o;
    start_display_period(o, 0xFFFFF800u);  // the stamp, +3000, wraps to 952
    auto_hide(o, false, 0xFFFFFFFFu);
    auto_hide(o, false, 0x00000100u);
    EXPECT_TRUE(o.visible);
    auto_hide(o, false, 0xFFFFF800u + 5001u);
    EXPECT_FALSE(o.visible);

    note_activity(o, 0xFFFFFF00u);
    auto_hide(o, false, 0x00000700u);  // 2048 ms later, across the wrap
    EXPECT_FALSE(o.visible);
}

}  // namespace
