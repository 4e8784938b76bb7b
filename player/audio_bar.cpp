#include "audio_bar.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>

#include "float_conversion.h"

namespace {

// The speaker's cone widens by one pixel every second column.
constexpr int CONE_X = 20;
constexpr int CONE_COLUMNS = 8;

// Waves appear strictly above these volumes; float literals, so that a
// volume of exactly 0.2f (as parsed from the command line) draws none.
constexpr float FIRST_WAVE_ABOVE = 0.2f;
constexpr float SECOND_WAVE_ABOVE = 0.5f;

void set_color(SDL_Renderer* renderer, BarColor c) {
    SDL_SetRenderDrawColor(renderer, c.r, c.g, c.b, c.a);
}

void fill(SDL_Renderer* renderer, const BarRect& r) {
    const SDL_Rect rect{r.x, r.y, r.w, r.h};
    SDL_RenderFillRect(renderer, &rect);
}

void line(SDL_Renderer* renderer, const BarLine& l) {
    SDL_RenderDrawLine(renderer, l.x1, l.y1, l.x2, l.y2);
}

}  // namespace

int slider_length(int window_width) {
    // In 64 bits so that no width can overflow the subtraction.
    const int64_t room = int64_t{window_width} - SLIDER_MARGIN;
    const int64_t length = std::min<int64_t>(room, SLIDER_MAX_LENGTH);
    return static_cast<int>(std::max<int64_t>(length, SLIDER_MIN_LENGTH));
}

AudioBarLayout audio_bar_layout(int window_w, int window_h, bool muted, float volume,
                                bool fullscreen) {
    AudioBarLayout bar;
    const int cy = window_h - AUDIO_BAR_CENTER_FROM_BOTTOM;
    bar.center_y = cy;
    bar.band = {0, window_h - AUDIO_BAR_HEIGHT, window_w, AUDIO_BAR_HEIGHT};

    bar.speaker_color = muted ? SPEAKER_MUTED_COLOR : SPEAKER_COLOR;
    bar.speaker_body = {12, cy - 5, 8, 10};
    for (int i = 0; i < CONE_COLUMNS; ++i) {
        bar.cone[static_cast<size_t>(i)] = {CONE_X + i, cy - 5 - i / 2, CONE_X + i, cy + 5 + i / 2};
    }

    if (!muted && volume > 0.0f) {
        if (volume > FIRST_WAVE_ABOVE) {
            bar.waves[0] = {30, cy - 4, 32, cy - 6};
            bar.waves[1] = {30, cy + 4, 32, cy + 6};
            bar.wave_count = 2;
        }
        if (volume > SECOND_WAVE_ABOVE) {
            bar.waves[2] = {33, cy - 6, 36, cy - 9};
            bar.waves[3] = {33, cy + 6, 36, cy + 9};
            bar.wave_count = 4;
        }
    }
    if (muted) {
        // One stroke two pixels wide across the speaker.
        bar.cross[0] = {8, cy + 12, 36, cy - 12};
        bar.cross[1] = {9, cy + 12, 37, cy - 12};
        bar.cross_count = 2;
    }

    const int length = slider_length(window_w);
    bar.slider_length = length;
    bar.track = {SLIDER_X, cy - 3, length, 6};
    // The volume is 0..1 by contract; clamping (NaN to 0) keeps any other
    // value from pushing the knob's coordinates out of range.
    const float level = muted ? 0.0f : talvek::clamp_to_unit(volume);
    const int filled = static_cast<int>(static_cast<float>(length) * level);
    bar.level = {SLIDER_X, cy - 3, filled, 6};
    bar.knob = {SLIDER_X + filled - 6, cy - 6, 12, 12};

    // Four corners of a 16 x 12 box, each a horizontal and a vertical stroke
    // of 4 pixels. Entering: the strokes lie on the box's outline. Leaving:
    // the vertical strokes move in to fx + 4 and fx + 12, like arrows inward.
    const int fx = window_w - FULLSCREEN_ICON_FROM_RIGHT;
    const int top = cy - 6;
    const int bottom = cy + 6;
    if (!fullscreen) {
        bar.fullscreen_icon = {{
            {fx, top, fx + 4, top},
            {fx, top, fx, top + 4},
            {fx + 16, top, fx + 12, top},
            {fx + 16, top, fx + 16, top + 4},
            {fx, bottom, fx + 4, bottom},
            {fx, bottom, fx, bottom - 4},
            {fx + 16, bottom, fx + 12, bottom},
            {fx + 16, bottom, fx + 16, bottom - 4},
        }};
    } else {
        bar.fullscreen_icon = {{
            {fx + 4, top, fx, top},
            {fx + 4, top, fx + 4, top + 4},
            {fx + 12, top, fx + 16, top},
            {fx + 12, top, fx + 12, top + 4},
            {fx + 4, bottom, fx, bottom},
            {fx + 4, bottom, fx + 4, bottom - 4},
            {fx + 12, bottom, fx + 16, bottom},
            {fx + 12, bottom, fx + 12, bottom - 4},
        }};
    }
    return bar;
}

void render_audio_bar(SDL_Renderer* renderer, int width, int height, bool muted, float volume,
                      bool fullscreen) {
    const AudioBarLayout bar = audio_bar_layout(width, height, muted, volume, fullscreen);
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);

    set_color(renderer, BAR_BACKGROUND);
    fill(renderer, bar.band);

    set_color(renderer, bar.speaker_color);
    fill(renderer, bar.speaker_body);
    for (const BarLine& l : bar.cone) line(renderer, l);

    if (bar.wave_count > 0) {
        set_color(renderer, WAVE_COLOR);
        for (int i = 0; i < bar.wave_count; ++i) line(renderer, bar.waves[static_cast<size_t>(i)]);
    }
    if (bar.cross_count > 0) {
        set_color(renderer, MUTE_CROSS_COLOR);
        for (int i = 0; i < bar.cross_count; ++i) line(renderer, bar.cross[static_cast<size_t>(i)]);
    }

    set_color(renderer, TRACK_COLOR);
    fill(renderer, bar.track);
    set_color(renderer, LEVEL_COLOR);
    fill(renderer, bar.level);
    set_color(renderer, KNOB_COLOR);
    fill(renderer, bar.knob);

    set_color(renderer, FULLSCREEN_ICON_COLOR);
    for (const BarLine& l : bar.fullscreen_icon) line(renderer, l);
}
