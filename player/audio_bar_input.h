#pragma once
// What a left press or a key does to the audio bar's settings: the hit areas
// of the strip, the slider's value under the pointer and the volume steps.
// Pure, for window sizes as SDL reports them.
//
//   band: y >= H - 36      x <= 43   44..47   48 .. 48+L   ...   >= W-40
//                           mute     -        slider             fullscreen
//
// The fullscreen area is tested first and wins where the slider reaches
// into it (windows up to 388 pixels wide).

enum class BarTarget {
    Picture,     // above the band: a double-click toggles fullscreen
    Fullscreen,  // the button at the right end of the band
    Mute,        // the speaker
    Slider,      // on the slider, ends included
    Nothing,     // elsewhere in the band, or audio controls of a silent stream
};

inline constexpr int MUTE_AREA_LAST_X = 43;
inline constexpr int FULLSCREEN_AREA_FROM_RIGHT = 40;
inline constexpr float VOLUME_STEP = 0.05f;  // Up and Down

BarTarget audio_bar_target(int x, int y, int window_w, int window_h, bool has_audio);

// (x - 48) / L, clamped to 0..1: past either end of the slider holds the end.
float slider_volume_at(int x, int window_w);

float volume_up(float volume);    // + 0.05, at most 1
float volume_down(float volume);  // - 0.05, at least 0
