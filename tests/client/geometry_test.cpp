// The pure arithmetic behind the receiver's window size and the stream-ended
// overlay, checked without a display.

#include <gtest/gtest.h>

#include "stream_ended_overlay.h"
#include "window_fit.h"

using talvek::client::fit_stream_window;
using talvek::client::OverlayRect;
using talvek::client::stream_ended_overlay_layout;
using talvek::client::WindowSize;

namespace {

void expect_size(WindowSize got, int w, int h) {
    EXPECT_EQ(got.width, w);
    EXPECT_EQ(got.height, h);
}

void expect_rect(const OverlayRect& r, int x, int y, int w, int h) {
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.w, w);
    EXPECT_EQ(r.h, h);
}

constexpr WindowSize FULL_HD{1920, 1080};

}  // namespace

TEST(WindowFit, StreamsLargerThanHalfAFullHdDisplayShrinkToHalf) {
    expect_size(fit_stream_window(1920, 1080, FULL_HD), 960, 540);
    expect_size(fit_stream_window(1280, 720, FULL_HD), 960, 540);
}

TEST(WindowFit, StreamThatFitsKeepsItsSize) {
    expect_size(fit_stream_window(640, 360, FULL_HD), 640, 360);
    expect_size(fit_stream_window(960, 540, FULL_HD), 960, 540);
}

TEST(WindowFit, SmallStreamIsRaisedToTheMinimumWindow) {
    expect_size(fit_stream_window(200, 100, FULL_HD), 320, 240);
    // Each side on its own: a wide, low stream keeps its width.
    expect_size(fit_stream_window(800, 100, FULL_HD), 800, 240);
}

TEST(WindowFit, ScaleTruncatesTowardZeroOnAnOddDisplay) {
    // hw = 683, hh = 384; s = min(683/2560, 384/1440) = 0.2666..
    expect_size(fit_stream_window(2560, 1440, WindowSize{1366, 768}), 682, 384);
}

TEST(WindowFit, ShapeFollowsTheTighterSide) {
    // A tall stream: the height decides, s = 540 / 2000.
    expect_size(fit_stream_window(1000, 2000, FULL_HD), 320, 540);
}

TEST(WindowFit, UnknownDisplayKeepsTheStreamSizeAboveTheMinimum) {
    expect_size(fit_stream_window(3840, 2160, std::nullopt), 3840, 2160);
    expect_size(fit_stream_window(100, 50, std::nullopt), 320, 240);
}

TEST(WindowFit, DegenerateStreamSizesGiveTheMinimumWithoutOverflow) {
    expect_size(fit_stream_window(0, 0, FULL_HD), 320, 240);
    expect_size(fit_stream_window(0, 4000, FULL_HD), 320, 540);
    expect_size(fit_stream_window(-100, 2000, FULL_HD), 960, 240);
    expect_size(fit_stream_window(2147483647, 2147483647, FULL_HD), 540, 540);
}

TEST(StreamEndedOverlayLayout, HdOutputCentresTheBoxAndSquare) {
    const auto layout = stream_ended_overlay_layout(1280, 720);
    expect_rect(layout.shade, 0, 0, 1280, 720);
    expect_rect(layout.frame[0], 440, 320, 400, 80);
    expect_rect(layout.frame[1], 439, 319, 402, 82);
    // Outer edge of the frame: (438, 318) to (841, 401) inclusive.
    expect_rect(layout.frame[2], 438, 318, 404, 84);
    expect_rect(layout.square, 628, 348, 24, 24);
}

TEST(StreamEndedOverlayLayout, NarrowOutputLeavesFiftyPixelsEachSide) {
    const auto layout = stream_ended_overlay_layout(300, 200);
    expect_rect(layout.frame[0], 50, 60, 200, 80);
    expect_rect(layout.square, 138, 88, 24, 24);
}

TEST(StreamEndedOverlayLayout, OddSizesRoundTowardZero) {
    const auto layout = stream_ended_overlay_layout(1001, 601);
    expect_rect(layout.frame[0], 300, 260, 400, 80);
    expect_rect(layout.square, 488, 288, 24, 24);
}

TEST(StreamEndedOverlayLayout, OutputNarrowerThanTheMarginKeepsTheNegativeWidth) {
    const auto layout = stream_ended_overlay_layout(60, 100);
    expect_rect(layout.frame[0], 50, 10, -40, 80);
    expect_rect(layout.frame[2], 48, 8, -36, 84);
}
