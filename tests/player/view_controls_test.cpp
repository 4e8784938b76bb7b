// Zoom and pan arithmetic on a 1280 x 720 stream, without a window: the
// rectangle the receiver is told to show, the wheel's steps and the pan.

#include "view_controls.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr int FRAME_W = 1280;
constexpr int FRAME_H = 720;

ZoomView view_at(float zoom, float cx, float cy) { return ZoomView{zoom, cx, cy}; }

// One wheel notch with the pointer at (x, y) of a window the stream's size.
bool wheel(ZoomView& v, int notch, int x, int y) {
    return zoom_at_pointer(v, notch, x, y, FRAME_W, FRAME_H, FRAME_W, FRAME_H);
}

// The frame point, in frame pixels, shown under window pixel (x, y).
float frame_x_under(const ZoomView& v, int x, int window_w) {
    const ZoomRect r = zoom_rect_for(v, FRAME_W, FRAME_H);
    if (!r.enabled) return static_cast<float>(x) * FRAME_W / static_cast<float>(window_w);
    return static_cast<float>(r.x) + static_cast<float>(r.w) * static_cast<float>(x) /
                                         static_cast<float>(window_w);
}

// ---- the rectangle --------------------------------------------------------

TEST(ZoomRect, DoubleZoomShowsTheCentreQuarterAndStopsAtBothCorners) {
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, 0.5f, 0.5f), FRAME_W, FRAME_H),
              (ZoomRect{true, 320, 180, 640, 360}));
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, 0.0f, 0.0f), FRAME_W, FRAME_H),
              (ZoomRect{true, 0, 0, 640, 360}));
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, 1.0f, 1.0f), FRAME_W, FRAME_H),
              (ZoomRect{true, 640, 360, 640, 360}));
}

TEST(ZoomRect, NoZoomOrNoFrameSwitchesTheRectangleOff) {
    const ZoomRect off{false, 0, 0, 0, 0};
    EXPECT_EQ(zoom_rect_for(view_at(1.0f, 0.5f, 0.5f), FRAME_W, FRAME_H), off);
    EXPECT_EQ(zoom_rect_for(view_at(1.0f, 0.1f, 0.9f), FRAME_W, FRAME_H), off);
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, 0.5f, 0.5f), 0, FRAME_H), off);
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, 0.5f, 0.5f), FRAME_W, -1), off);
}

TEST(ZoomRect, SizesAreTruncatedAndNeverBelowOnePixel) {
    // 1280 / 1.5 = 853.33, 720 / 1.5 = 480; x = 640 - 426.5 = 213.5 -> 213.
    EXPECT_EQ(zoom_rect_for(view_at(1.5f, 0.5f, 0.5f), FRAME_W, FRAME_H),
              (ZoomRect{true, 213, 120, 853, 480}));
    // A 5 x 3 frame at zoom 10: 0.5 and 0.3 pixels round down to 0, raised to 1.
    EXPECT_EQ(zoom_rect_for(view_at(10.0f, 0.5f, 0.5f), 5, 3), (ZoomRect{true, 2, 1, 1, 1}));
}

TEST(ZoomRect, CentreFarOutsideTheFrameStillGivesARectangleInsideIt) {
    // Huge or non-finite centres must not overflow the conversion to int.
    const float huge = 1e30f;
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, huge, huge), FRAME_W, FRAME_H),
              (ZoomRect{true, 640, 360, 640, 360}));
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, -huge, -huge), FRAME_W, FRAME_H),
              (ZoomRect{true, 0, 0, 640, 360}));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(zoom_rect_for(view_at(2.0f, nan, nan), FRAME_W, FRAME_H),
              (ZoomRect{true, 0, 0, 640, 360}));
}

// ---- the wheel --------------------------------------------------------------

TEST(WheelZoom, ElevenStepsUpReachTheCapAndStepsBackRecentre) {
    ZoomView v;
    float expected = 1.0f;
    for (int step = 1; step <= 10; ++step) {
        ASSERT_TRUE(wheel(v, 1, 900, 200));
        expected *= 1.25f;
        EXPECT_FLOAT_EQ(v.zoom, expected) << "step " << step;
        EXPECT_LT(v.zoom, 10.0f);
    }
    ASSERT_TRUE(wheel(v, 1, 900, 200));  // 1.25^11 is about 11.6
    EXPECT_EQ(v.zoom, 10.0f);
    ASSERT_TRUE(wheel(v, 3, 900, 200));  // only the sign counts
    EXPECT_EQ(v.zoom, 10.0f);
    EXPECT_GT(v.center_x, 0.5f) << "the view moved toward the pointer";
    EXPECT_LT(v.center_y, 0.5f);

    int steps_down = 0;
    while (v.zoom > 1.0f && steps_down < 20) {
        ASSERT_TRUE(wheel(v, -1, 100, 700));
        ++steps_down;
        if (v.zoom > 1.0f) {
            EXPECT_NE(v.center_x, 0.5f);
        }
    }
    EXPECT_EQ(steps_down, 11) << "10 / 1.25^11 is below 1";
    EXPECT_EQ(v.zoom, 1.0f);
    EXPECT_EQ(v.center_x, 0.5f);
    EXPECT_EQ(v.center_y, 0.5f);
}

TEST(WheelZoom, FirstStepMovesTheCentreToKeepThePointUnderThePointer) {
    ZoomView v;
    // Pointer a quarter into the frame: px = 0.25, t = 1 - 1/1.25 = 0.2,
    // centre = 0.5 + (0.25 - 0.5) * 0.2 = 0.45.
    ASSERT_TRUE(wheel(v, 1, 320, 180));
    EXPECT_FLOAT_EQ(v.zoom, 1.25f);
    EXPECT_FLOAT_EQ(v.center_x, 0.45f);
    EXPECT_FLOAT_EQ(v.center_y, 0.45f);
    // 1280 / 1.25 = 1024 wide from x = 576 - 512 = 64: pixel 320 still shows 320.
    EXPECT_EQ(zoom_rect_for(v, FRAME_W, FRAME_H), (ZoomRect{true, 64, 36, 1024, 576}));
}

TEST(WheelZoom, PointUnderThePointerStaysPutOverSeveralSteps) {
    ZoomView v;
    const int window_w = 800;  // a window narrower than the frame
    for (int step = 0; step < 5; ++step) {
        const float before = frame_x_under(v, 600, window_w);
        ASSERT_TRUE(zoom_at_pointer(v, 1, 600, 300, window_w, 450, FRAME_W, FRAME_H));
        // Within the truncation of the rectangle to whole pixels.
        EXPECT_NEAR(frame_x_under(v, 600, window_w), before, 1.5f) << "step " << step;
    }
}

TEST(WheelZoom, ZeroAmountKeepsTheZoomButIsHandled) {
    ZoomView v = view_at(2.0f, 0.3f, 0.6f);
    ASSERT_TRUE(wheel(v, 0, 10, 10));
    EXPECT_EQ(v.zoom, 2.0f);
    EXPECT_EQ(v.center_x, 0.3f);
    EXPECT_EQ(v.center_y, 0.6f);
}

TEST(WheelZoom, StepOutAtZoomOneStaysAtOneAndCentred) {
    ZoomView v = view_at(1.0f, 0.5f, 0.5f);
    ASSERT_TRUE(wheel(v, -1, 0, 0));
    EXPECT_EQ(v.zoom, 1.0f);
    EXPECT_EQ(v.center_x, 0.5f);
    EXPECT_EQ(v.center_y, 0.5f);
}

TEST(WheelZoom, EmptyWindowOrFrameIgnoresTheEvent) {
    const ZoomView start = view_at(2.0f, 0.4f, 0.4f);
    for (const auto& [ww, wh, fw, fh] : {std::array{0, 720, FRAME_W, FRAME_H},
                                         std::array{1280, -5, FRAME_W, FRAME_H},
                                         std::array{1280, 720, 0, FRAME_H},
                                         std::array{1280, 720, FRAME_W, -1}}) {
        ZoomView v = start;
        EXPECT_FALSE(zoom_at_pointer(v, 1, 100, 100, ww, wh, fw, fh));
        EXPECT_EQ(v.zoom, start.zoom);
        EXPECT_EQ(v.center_x, start.center_x);
    }
}

// ---- panning ----------------------------------------------------------------

TEST(Pan, DragRightMovesTheViewLeftByTheZoomedShare) {
    ZoomView v = view_at(2.0f, 0.5f, 0.5f);
    // 128 of 1280 window pixels at zoom 2 is 0.05 of the frame.
    ASSERT_TRUE(pan_by(v, 128, -72, 1280, 720, FRAME_W, FRAME_H));
    EXPECT_FLOAT_EQ(v.center_x, 0.45f);
    EXPECT_FLOAT_EQ(v.center_y, 0.55f);
    EXPECT_EQ(zoom_rect_for(v, FRAME_W, FRAME_H), (ZoomRect{true, 256, 216, 640, 360}));
}

TEST(Pan, CentreStaysWithinTheFrame) {
    ZoomView v = view_at(2.0f, 0.5f, 0.5f);
    ASSERT_TRUE(pan_by(v, 100000, -100000, 1280, 720, FRAME_W, FRAME_H));
    EXPECT_EQ(v.center_x, 0.0f);
    EXPECT_EQ(v.center_y, 1.0f);
    ASSERT_TRUE(pan_by(v, -int64_t{1} << 40, int64_t{1} << 40, 1280, 720, FRAME_W, FRAME_H));
    EXPECT_EQ(v.center_x, 1.0f);
    EXPECT_EQ(v.center_y, 0.0f);
}

TEST(Pan, EmptyWindowOrFrameSkipsTheStep) {
    ZoomView v = view_at(2.0f, 0.5f, 0.5f);
    EXPECT_FALSE(pan_by(v, 10, 10, 0, 720, FRAME_W, FRAME_H));
    EXPECT_FALSE(pan_by(v, 10, 10, 1280, 720, FRAME_W, 0));
    EXPECT_EQ(v.center_x, 0.5f);
    EXPECT_EQ(v.center_y, 0.5f);
}

}  // namespace
