// Drawing, checked by reading the software renderer's output back. Pictures
// are handed over the way the decode thread hands them over, except in the
// last test, where a real VP8 frame goes all the way to the window.

#include <gtest/gtest.h>

#include <vector>

#include "encoded_stream.h"
#include "fragmenter.h"
#include "gradient_picture.h"
#include "log_text.h"
#include "receiver_peer.h"
#include "renderer_output.h"
#include "sdl_fixture.h"
#include "wait_until.h"

using client_test::SdlTest;
using talvek::VideoCodec;
using talvek::testing::gradient_at;
using talvek::testing::gradient_picture;
using talvek::testing::read_output;
using talvek::testing::Rgb;
using talvek::testing::wait_until;
using Output = talvek::testing::RendererOutput;
using Peer = talvek::client::VideoReceiverTestPeer;

namespace {

std::vector<uint8_t> solid_picture(int w, int h, Rgb c) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (size_t i = 0; i < p.size(); i += 4) {
        p[i] = static_cast<uint8_t>(c.b);
        p[i + 1] = static_cast<uint8_t>(c.g);
        p[i + 2] = static_cast<uint8_t>(c.r);
        p[i + 3] = 255;
    }
    return p;
}

class RenderTest : public SdlTest {
protected:
    SDL_Renderer* renderer() { return Peer::renderer(*receiver); }

    // Every output pixel must show the picture pixel that maps onto it when
    // the source rectangle is stretched over the whole output.
    void expect_stretched(const Output& out, double sx, double sy, double sw, double sh,
                          int picture_w, int picture_h) {
        int bad = 0;
        for (int v = 0; v < out.h && bad < 5; ++v) {
            for (int u = 0; u < out.w && bad < 5; ++u) {
                const double x = sx + (u + 0.5) * sw / out.w;
                const double y = sy + (v + 0.5) * sh / out.h;
                const Rgb want = gradient_at(x, y, picture_w, picture_h);
                const Rgb got = out.at(u, v);
                if (!near(got, want, 3)) {
                    ADD_FAILURE() << "output (" << u << ", " << v << ") " << got << ", want "
                                  << want;
                    ++bad;
                }
            }
        }
    }
};

// ---- picture and zoom --------------------------------------------------------

TEST_F(RenderTest, PictureIsStretchedOverTheWholeWindow) {
    ASSERT_TRUE(init_quietly(640, 360));  // a 512 x 288 window
    Peer::hand_over(*receiver, gradient_picture(640, 360));
    receiver->render();
    const Output out = read_output(renderer());
    ASSERT_EQ(out.w, 512);
    ASSERT_EQ(out.h, 288);
    expect_stretched(out, 0, 0, 640, 360, 640, 360);
    EXPECT_FALSE(Peer::frame_ready(*receiver)) << "the picture was taken";
}

TEST_F(RenderTest, ResizedWindowStretchesThePictureAndTellsTheOverlay) {
    ASSERT_TRUE(init_quietly(640, 360));
    int seen_w = 0;
    int seen_h = 0;
    receiver->set_overlay_callback([&](SDL_Renderer*, int w, int h) {
        seen_w = w;
        seen_h = h;
    });
    Peer::hand_over(*receiver, gradient_picture(640, 360));
    receiver->render();
    EXPECT_EQ(seen_w, 512);
    EXPECT_EQ(seen_h, 288);

    SDL_SetWindowSize(Peer::window(*receiver), 960, 540);
    receiver->render();
    EXPECT_EQ(seen_w, 960);
    EXPECT_EQ(seen_h, 540);
    const Output out = read_output(renderer());
    ASSERT_EQ(out.w, 960);
    ASSERT_EQ(out.h, 540);
    expect_stretched(out, 0, 0, 640, 360, 640, 360);
}

TEST_F(RenderTest, ZoomRectangleFillsTheWindow) {
    ASSERT_TRUE(init_quietly(1280, 720));
    Peer::hand_over(*receiver, gradient_picture(1280, 720));
    receiver->set_zoom_rect(true, 320, 180, 640, 360);
    receiver->render();
    const Output out = read_output(renderer());
    expect_stretched(out, 320, 180, 640, 360, 1280, 720);

    // Whatever the window's size.
    SDL_SetWindowSize(Peer::window(*receiver), 333, 500);
    receiver->render();
    expect_stretched(read_output(renderer()), 320, 180, 640, 360, 1280, 720);
}

TEST_F(RenderTest, EmptyOrDisabledZoomShowsTheWholePicture) {
    ASSERT_TRUE(init_quietly(640, 360));
    Peer::hand_over(*receiver, gradient_picture(640, 360));
    receiver->set_zoom_rect(true, 10, 10, 0, 100);
    receiver->render();
    expect_stretched(read_output(renderer()), 0, 0, 640, 360, 640, 360);

    receiver->set_zoom_rect(true, 10, 10, 100, -1);
    receiver->render();
    expect_stretched(read_output(renderer()), 0, 0, 640, 360, 640, 360);

    receiver->set_zoom_rect(false, 320, 180, 160, 90);
    receiver->render();
    expect_stretched(read_output(renderer()), 0, 0, 640, 360, 640, 360);
}

TEST_F(RenderTest, OnlyTheNewestHandedOverPictureReachesTheWindow) {
    ASSERT_TRUE(init_quietly(320, 240));
    Peer::hand_over(*receiver, solid_picture(320, 240, {255, 0, 0}));
    Peer::hand_over(*receiver, solid_picture(320, 240, {0, 0, 255}));
    receiver->render();
    EXPECT_TRUE(near(read_output(renderer()).at(100, 100), {0, 0, 255}, 0));
}

TEST_F(RenderTest, WithoutANewPictureTheLastOneIsDrawnAgainWithTheCurrentZoom) {
    ASSERT_TRUE(init_quietly(640, 360));
    Peer::hand_over(*receiver, gradient_picture(640, 360));
    receiver->render();
    receiver->set_zoom_rect(true, 320, 180, 320, 180);
    receiver->render();
    expect_stretched(read_output(renderer()), 320, 180, 320, 180, 640, 360);
}

// ---- overlays ------------------------------------------------------------------

TEST_F(RenderTest, OverlayCallbackDrawsOverThePicture) {
    ASSERT_TRUE(init_quietly(320, 240));
    receiver->set_overlay_callback([](SDL_Renderer* r, int, int) {
        SDL_SetRenderDrawColor(r, 10, 20, 30, 255);
        const SDL_Rect box{0, 0, 16, 16};
        SDL_RenderFillRect(r, &box);
    });
    Peer::hand_over(*receiver, solid_picture(320, 240, {200, 100, 50}));
    receiver->render();
    Output out = read_output(renderer());
    EXPECT_TRUE(near(out.at(5, 5), {10, 20, 30}, 0)) << out.at(5, 5);
    EXPECT_TRUE(near(out.at(100, 100), {200, 100, 50}, 0)) << out.at(100, 100);

    // An empty callback removes the overlay.
    receiver->set_overlay_callback({});
    receiver->render();
    out = read_output(renderer());
    EXPECT_TRUE(near(out.at(5, 5), {200, 100, 50}, 0)) << out.at(5, 5);
}

TEST_F(RenderTest, StreamEndedOverlayAtHd) {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(receiver->start(7, "bob", 1280, 720, nullptr, VideoCodec::VP8));
    testing::internal::GetCapturedStdout();
    const Rgb picture{100, 150, 200};
    Peer::hand_over(*receiver, solid_picture(1280, 720, picture));
    receiver->render();

    testing::internal::CaptureStdout();
    receiver->mark_stream_ended();
    testing::internal::GetCapturedStdout();
    // Pictures are no longer uploaded once the stream has ended.
    Peer::hand_over(*receiver, solid_picture(1280, 720, {255, 0, 0}));
    int overlay_calls = 0;
    receiver->set_overlay_callback([&](SDL_Renderer*, int, int) { ++overlay_calls; });
    receiver->render();
    EXPECT_EQ(overlay_calls, 1);

    const Output out = read_output(renderer());
    ASSERT_EQ(out.w, 1280);
    ASSERT_EQ(out.h, 720);
    const Rgb dark{picture.r * 75 / 255, picture.g * 75 / 255, picture.b * 75 / 255};
    const Rgb white{255, 255, 255};
    const Rgb grey{200, 200, 200};
    auto expect_at = [&](int x, int y, Rgb want) {
        EXPECT_TRUE(near(out.at(x, y), want, 3))
            << "(" << x << ", " << y << ") " << out.at(x, y) << ", want " << want;
    };
    expect_at(10, 10, dark);
    expect_at(1279, 719, dark);
    // The frame's outer edge runs from (438, 318) to (841, 401), three pixels thick.
    expect_at(438, 318, white);
    expect_at(841, 401, white);
    expect_at(438, 360, white);
    expect_at(440, 360, white);
    expect_at(641, 320, white);
    expect_at(437, 318, dark);
    expect_at(842, 401, dark);
    expect_at(640, 317, dark);
    expect_at(640, 402, dark);
    expect_at(441, 360, dark);  // inside the box
    expect_at(838, 398, dark);
    // The grey square, 24 x 24 at (628, 348).
    expect_at(628, 348, grey);
    expect_at(651, 371, grey);
    expect_at(627, 348, dark);
    expect_at(652, 371, dark);
    expect_at(640, 347, dark);
    expect_at(640, 372, dark);

    // The renderer is left blending with the square's colour.
    SDL_BlendMode mode = SDL_BLENDMODE_NONE;
    SDL_GetRenderDrawBlendMode(renderer(), &mode);
    EXPECT_EQ(mode, SDL_BLENDMODE_BLEND);
    Uint8 r = 0, g = 0, b = 0, a = 0;
    SDL_GetRenderDrawColor(renderer(), &r, &g, &b, &a);
    EXPECT_EQ(r, 200);
    EXPECT_EQ(a, 255);
}

// ---- when nothing is drawn ------------------------------------------------------

TEST_F(RenderTest, NothingIsDrawnBeforeBringUpOrAfterStop) {
    int calls = 0;
    receiver->set_overlay_callback([&](SDL_Renderer*, int, int) { ++calls; });
    receiver->render();
    EXPECT_EQ(calls, 0);

    ASSERT_TRUE(init_quietly(320, 240));
    receiver->render();
    EXPECT_EQ(calls, 1);

    stop_logged();
    receiver->render();
    receiver->render();
    EXPECT_EQ(calls, 1);
}

// ---- update() --------------------------------------------------------------------

TEST_F(RenderTest, UpdateWithoutSdlObjectsLogsAndDrawsNothing) {
    testing::internal::CaptureStdout();
    receiver->update();
    const std::string null_text = talvek::testing::pointer_text(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[RECV UPDATE] uid=0 SKIPPED: null SDL (window=" + null_text + ", renderer=" +
                  null_text + ", texture=" + null_text + ")\n");
}

TEST_F(RenderTest, UpdateIgnoresZoomAndOverlayCallback) {
    ASSERT_TRUE(init_quietly(640, 360));
    int calls = 0;
    receiver->set_overlay_callback([&](SDL_Renderer*, int, int) { ++calls; });
    receiver->set_zoom_rect(true, 320, 180, 320, 180);
    Peer::hand_over(*receiver, gradient_picture(640, 360));
    testing::internal::CaptureStdout();
    receiver->update();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(calls, 0);
    expect_stretched(read_output(renderer()), 0, 0, 640, 360, 640, 360);
}

// ---- all the way ------------------------------------------------------------------

TEST_F(RenderTest, DecodedFrameReachesTheWindow) {
    client_test::EncodedStream stream;
    ASSERT_TRUE(client_test::encode_moving_picture(client_test::Encoder::Vp8, 320, 240, 1, stream));
    ASSERT_TRUE(init_quietly(320, 240));  // fits: the window is 320 x 240 too
    std::vector<talvek::tools::Datagram> datagrams;
    ASSERT_TRUE(talvek::tools::cut_into_fragments(1, stream.packets[0].data(),
                                                  stream.packets[0].size(), {}, datagrams));
    for (const auto& d : datagrams) receiver->handle_fragment(d.data(), static_cast<int>(d.size()));

    ASSERT_TRUE(wait_until([&] { return Peer::frame_ready(*receiver); }));
    receiver->render();
    const Output out = read_output(renderer());
    ASSERT_EQ(out.w, 320);
    ASSERT_EQ(out.h, 240);
    EXPECT_GT(client_test::psnr_bgr(out.bytes, client_test::reference_bgra(stream, 0, 320, 240)),
              30.0);
}

}  // namespace
