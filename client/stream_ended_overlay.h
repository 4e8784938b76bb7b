#pragma once
// Layout of the overlay drawn once a stream has ended: the whole output
// darkened, a white frame three pixels thick around a centred 80-pixel-high
// box, and a light grey square in the middle. No text, so no font is needed.
// Pure geometry; the receiver draws it with SDL.

#include <array>

namespace talvek::client {

struct OverlayRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

struct StreamEndedOverlayLayout {
    OverlayRect shade;                // filled with (0, 0, 0, 180)
    std::array<OverlayRect, 3> frame;  // outlined in white, growing outward
    OverlayRect square;               // filled with (200, 200, 200, 255)
};

inline constexpr int OVERLAY_BOX_MAX_WIDTH = 400;
inline constexpr int OVERLAY_BOX_MARGIN = 100;  // the box leaves 50 pixels each side
inline constexpr int OVERLAY_BOX_HEIGHT = 80;
inline constexpr int OVERLAY_SQUARE_SIZE = 24;

// For an output of output_width x output_height pixels. On outputs narrower
// than the margin the box width comes out negative and is kept as computed.
StreamEndedOverlayLayout stream_ended_overlay_layout(int output_width, int output_height);

}  // namespace talvek::client
