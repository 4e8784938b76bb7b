// The audio bar as SDL's software renderer draws it over a plain picture,
// read back pixel by pixel: where each element lands and in which colour.

#include "audio_bar.h"

#include <SDL.h>
#include <gtest/gtest.h>


#include "renderer_output.h"
#include "rgb.h"

using talvek::testing::Rgb;

namespace {

// The picture under the bar.
constexpr Rgb PICTURE{40, 120, 200};

// `top` with alpha a laid over `under`, as blending computes it.
Rgb over(Rgb under, BarColor top) {
    auto mix = [&](int t, int u) { return (t * top.a + u * (255 - top.a)) / 255; };
    return {mix(top.r, under.r), mix(top.g, under.g), mix(top.b, under.b)};
}

Rgb opaque(BarColor c) { return {c.r, c.g, c.b}; }

const Rgb BAND = over(PICTURE, BAR_BACKGROUND);

enum class Sound { On, Muted };
enum class Screen { Windowed, Fullscreen };

class AudioBarRender : public ::testing::Test {
protected:
    void TearDown() override { release(); }

    void release() {
        if (renderer) SDL_DestroyRenderer(renderer);
        if (surface) SDL_FreeSurface(surface);
        renderer = nullptr;
        surface = nullptr;
    }

    // Draws the bar over the picture on a fresh w x h software surface.
    void draw(int w, int h, Sound sound, float volume, Screen screen = Screen::Windowed) {
        release();
        surface = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
        ASSERT_NE(surface, nullptr) << SDL_GetError();
        renderer = SDL_CreateSoftwareRenderer(surface);
        ASSERT_NE(renderer, nullptr) << SDL_GetError();
        SDL_SetRenderDrawColor(renderer, PICTURE.r, PICTURE.g, PICTURE.b, 255);
        SDL_RenderClear(renderer);
        render_audio_bar(renderer, w, h, sound == Sound::Muted, volume,
                         screen == Screen::Fullscreen);
        drawn = talvek::testing::read_output(renderer);
        ASSERT_TRUE(drawn.read);
    }

    // Blending rounds a little differently from the formula above.
    void expect_color(int x, int y, Rgb want) const {
        const Rgb got = drawn.at(x, y);
        EXPECT_TRUE(near(got, want, 2))
            << "pixel (" << x << ", " << y << ") is " << got << ", want " << want;
    }

    SDL_Surface* surface = nullptr;
    SDL_Renderer* renderer = nullptr;
    talvek::testing::RendererOutput drawn;
};

TEST_F(AudioBarRender, BandDarkensTheBottom36RowsOnly) {
    draw(1280, 720, Sound::On, 0.5f);
    for (int x : {0, 600, 1000, 1279}) {
        expect_color(x, 683, PICTURE);
        expect_color(x, 684, BAND);
        expect_color(x, 719, BAND);
    }
    expect_color(640, 100, PICTURE);
}

TEST_F(AudioBarRender, WhiteSpeakerWithItsWideningCone) {
    draw(1280, 720, Sound::On, 1.0f);
    const Rgb white = opaque(SPEAKER_COLOR);
    expect_color(12, 697, white);  // body x 12..19, y 697..706
    expect_color(19, 706, white);
    expect_color(11, 702, BAND);
    expect_color(12, 696, BAND);
    expect_color(12, 707, BAND);
    expect_color(20, 697, white);  // first cone column, y 697..707
    expect_color(20, 707, white);
    expect_color(20, 696, BAND);
    expect_color(27, 694, white);  // last column reaches 3 rows further out
    expect_color(27, 710, white);
    expect_color(27, 693, BAND);
    expect_color(27, 711, BAND);
    expect_color(28, 702, BAND);
}

TEST_F(AudioBarRender, WavesFollowTheVolumeThresholds) {
    const struct {
        float volume;
        bool first;
        bool second;
    } cases[] = {{0.0f, false, false}, {0.2f, false, false}, {0.21f, true, false},
                 {0.5f, true, false},  {0.51f, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        draw(1280, 720, Sound::On, c.volume);
        const Rgb wave = over(BAND, WAVE_COLOR);
        // (30, cy - 4) to (32, cy - 6) and its mirror; (33, cy - 6) to (36, cy - 9) and its mirror.
        expect_color(31, 697, c.first ? wave : BAND);
        expect_color(31, 707, c.first ? wave : BAND);
        expect_color(34, 695, c.second ? wave : BAND);
        expect_color(35, 710, c.second ? wave : BAND);
    }
}

TEST_F(AudioBarRender, SliderTrackLevelAndKnobAtHalfVolume) {
    draw(1280, 720, Sound::On, 0.5f);
    const Rgb level = opaque(LEVEL_COLOR);
    const Rgb track = opaque(TRACK_COLOR);
    const Rgb knob = opaque(KNOB_COLOR);
    expect_color(47, 702, BAND);
    expect_color(48, 699, level);
    expect_color(48, 704, level);
    expect_color(48, 698, BAND);
    expect_color(48, 705, BAND);
    expect_color(191, 702, level);
    expect_color(192, 696, knob);  // knob x 192..203, y 696..707
    expect_color(203, 707, knob);
    expect_color(204, 702, track);
    expect_color(204, 696, BAND);
    expect_color(347, 702, track);
    expect_color(348, 702, BAND);
}

TEST_F(AudioBarRender, MutedSpeakerIsRedAndCrossedWithAnEmptySlider) {
    draw(1280, 720, Sound::Muted, 0.8f);
    const Rgb red = opaque(SPEAKER_MUTED_COLOR);
    const Rgb cross = opaque(MUTE_CROSS_COLOR);
    expect_color(12, 697, red);
    expect_color(20, 697, red);
    expect_color(8, 714, cross);  // the two strokes start side by side
    expect_color(9, 714, cross);
    expect_color(22, 702, cross);  // the middle of the stroke, over the cone
    expect_color(31, 697, BAND);   // no waves
    expect_color(34, 695, BAND);
    expect_color(41, 702, BAND);
    expect_color(42, 696, opaque(KNOB_COLOR));  // knob x 42..53 at the left end
    expect_color(53, 707, opaque(KNOB_COLOR));
    expect_color(54, 702, opaque(TRACK_COLOR));  // nothing filled
    expect_color(200, 702, opaque(TRACK_COLOR));
}

TEST_F(AudioBarRender, FullscreenIconShowsEnterOrLeave) {
    const Rgb icon = opaque(FULLSCREEN_ICON_COLOR);
    draw(1280, 720, Sound::On, 1.0f, Screen::Windowed);
    expect_color(1248, 696, icon);  // top-left corner on the box outline
    expect_color(1250, 696, icon);
    expect_color(1248, 698, icon);
    expect_color(1264, 708, icon);
    expect_color(1262, 708, icon);
    expect_color(1264, 706, icon);
    expect_color(1252, 698, BAND);
    expect_color(1256, 702, BAND);  // the box's middle stays empty

    draw(1280, 720, Sound::On, 1.0f, Screen::Fullscreen);
    expect_color(1250, 696, icon);
    expect_color(1252, 698, icon);  // vertical strokes moved in to fx + 4
    expect_color(1260, 706, icon);  // and fx + 12
    expect_color(1248, 698, BAND);
    expect_color(1264, 706, BAND);
}

TEST_F(AudioBarRender, HundredPixelWindowKeepsA40PixelSlider) {
    draw(100, 100, Sound::On, 0.0f);
    const Rgb track = opaque(TRACK_COLOR);
    expect_color(87, 82, track);  // track x 48..87, y 79..84
    expect_color(88, 82, BAND);
    expect_color(60, 79, track);
    expect_color(60, 78, BAND);
    expect_color(68, 76, opaque(FULLSCREEN_ICON_COLOR));  // icon at fx = 68, over the track
    expect_color(68, 80, opaque(FULLSCREEN_ICON_COLOR));
    expect_color(50, 63, PICTURE);
    expect_color(50, 64, BAND);
}

TEST_F(AudioBarRender, LeavesBlendingOnWithTheIconColour) {
    draw(320, 240, Sound::Muted, 0.3f);
    SDL_BlendMode mode = SDL_BLENDMODE_NONE;
    SDL_GetRenderDrawBlendMode(renderer, &mode);
    EXPECT_EQ(mode, SDL_BLENDMODE_BLEND);
    Uint8 r = 0, g = 0, b = 0, a = 0;
    SDL_GetRenderDrawColor(renderer, &r, &g, &b, &a);
    EXPECT_EQ((BarColor{r, g, b, a}), FULLSCREEN_ICON_COLOR);
}

}  // namespace
