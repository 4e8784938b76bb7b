#include "audio_bar_input.h"

#include <algorithm>
#include <cstdint>

#include "audio_bar.h"

BarTarget audio_bar_target(int x, int y, int window_w, int window_h, bool has_audio) {
    // 64-bit edges: no window size can overflow them.
    if (int64_t{y} < int64_t{window_h} - AUDIO_BAR_HEIGHT) return BarTarget::Picture;
    if (int64_t{x} >= int64_t{window_w} - FULLSCREEN_AREA_FROM_RIGHT) return BarTarget::Fullscreen;
    if (!has_audio) return BarTarget::Nothing;
    if (x <= MUTE_AREA_LAST_X) return BarTarget::Mute;
    if (x >= SLIDER_X && x <= SLIDER_X + slider_length(window_w)) return BarTarget::Slider;
    return BarTarget::Nothing;
}

float slider_volume_at(int x, int window_w) {
    const float offset = static_cast<float>(int64_t{x} - SLIDER_X);
    return std::clamp(offset / static_cast<float>(slider_length(window_w)), 0.0f, 1.0f);
}

float volume_up(float volume) { return std::min(volume + VOLUME_STEP, 1.0f); }

float volume_down(float volume) { return std::max(volume - VOLUME_STEP, 0.0f); }
