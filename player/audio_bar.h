#pragma once
// The audio bar: a translucent strip along the bottom of the window with a
// speaker (crossed out when muted), a volume slider and a fullscreen button.
// audio_bar_layout is the geometry, pure so it can be checked number by
// number; render_audio_bar draws it with SDL's rectangles and lines only.
//
//   y H-36 +--------------------------------------------------------+
//          | [spk)) \   [====slider====o-------]             [icon] |
//   y H    +--------------------------------------------------------+
//          x 12     x 48                 48+L           W-32..W-16

#include <array>
#include <cstdint>

struct SDL_Renderer;

struct BarColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;

    bool operator==(const BarColor&) const = default;
};

struct BarRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;

    bool operator==(const BarRect&) const = default;
};

struct BarLine {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;

    bool operator==(const BarLine&) const = default;
};

inline constexpr int AUDIO_BAR_HEIGHT = 36;
inline constexpr int AUDIO_BAR_CENTER_FROM_BOTTOM = 18;
inline constexpr int SLIDER_X = 48;
inline constexpr int SLIDER_MAX_LENGTH = 300;
inline constexpr int SLIDER_MIN_LENGTH = 40;
// Room the slider leaves for the speaker at the left and the button at the right.
inline constexpr int SLIDER_MARGIN = 70;
inline constexpr int FULLSCREEN_ICON_FROM_RIGHT = 32;

inline constexpr BarColor BAR_BACKGROUND{0, 0, 0, 180};
inline constexpr BarColor SPEAKER_COLOR{255, 255, 255, 255};
inline constexpr BarColor SPEAKER_MUTED_COLOR{200, 60, 60, 255};
inline constexpr BarColor WAVE_COLOR{180, 180, 180, 200};
inline constexpr BarColor MUTE_CROSS_COLOR{255, 80, 80, 255};
inline constexpr BarColor TRACK_COLOR{80, 80, 80, 255};
inline constexpr BarColor LEVEL_COLOR{100, 180, 255, 255};
inline constexpr BarColor KNOB_COLOR{255, 255, 255, 255};
inline constexpr BarColor FULLSCREEN_ICON_COLOR{200, 200, 200, 255};

// min(width - 70, 300), never below 40, for any width.
int slider_length(int window_width);

// The strip for a window_w x window_h window, in drawing order. At most 25
// shapes: 5 rectangles, 8 cone lines, 4 wave lines or 2 cross lines, 8 icon lines.
struct AudioBarLayout {
    int center_y = 0;       // H - 18: every element sits on this line
    int slider_length = 0;  // L
    BarRect band;
    BarColor speaker_color;
    BarRect speaker_body;
    std::array<BarLine, 8> cone{};
    int wave_count = 0;  // 0, 2 or 4 lines
    std::array<BarLine, 4> waves{};
    int cross_count = 0;  // 0, or 2 strokes side by side
    std::array<BarLine, 2> cross{};
    BarRect track;
    BarRect level;  // width 0 when muted or silent
    BarRect knob;
    std::array<BarLine, 8> fullscreen_icon{};  // enter or leave, by `fullscreen`
};

AudioBarLayout audio_bar_layout(int window_w, int window_h, bool muted, float volume,
                                bool fullscreen);

// Draws the strip with blending on; leaves the renderer blending, with the
// icon's colour as its draw colour. `volume` is the chosen one, 0 to 1.
void render_audio_bar(SDL_Renderer* renderer, int width, int height, bool muted, float volume,
                      bool fullscreen);
