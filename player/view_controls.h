#pragma once
// Zoom and pan arithmetic of player's view: the part of the frame on show,
// moved by the wheel and the right-button drag. Pure functions on plain
// state, so the numbers can be checked without a window; PlayerLoop reads
// SDL's sizes and pointer and hands the rectangle to the receiver.
//
// Everything is 32-bit float arithmetic; "truncate" converts toward zero.

#include <cstdint>

inline constexpr float ZOOM_MIN = 1.0f;
inline constexpr float ZOOM_MAX = 10.0f;
inline constexpr float ZOOM_STEP = 1.25f;  // one wheel notch

// Zoom factor (1 shows the whole frame) and the centre of the shown part, as
// fractions of the frame's width and height.
struct ZoomView {
    float zoom = 1.0f;
    float center_x = 0.5f;
    float center_y = 0.5f;
};

// What the receiver is told to show, in frame pixels.
struct ZoomRect {
    bool enabled = false;
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;

    bool operator==(const ZoomRect&) const = default;
};

// Fullscreen, zoom and pan: the view state of the main loop.
struct ViewState {
    bool fullscreen = false;
    int saved_x = 0;  // window geometry saved on entering fullscreen
    int saved_y = 0;
    int saved_w = 0;
    int saved_h = 0;
    ZoomView zoom;
    bool panning = false;  // right-button drag at a zoom above 1
    int pan_last_x = 0;    // pointer at the last pan step, window pixels
    int pan_last_y = 0;
};


// The source rectangle for `view` on a frame_w x frame_h frame: disabled at
// zoom 1 or for an empty frame, otherwise at least 1 x 1 and inside the frame.
ZoomRect zoom_rect_for(const ZoomView& view, int frame_w, int frame_h);

// One wheel event (only the sign of wheel_y counts) with the pointer at
// (mouse_x, mouse_y) of a window_w x window_h window: zooms by one step so
// the frame point under the pointer stays put, and recentres at zoom 1.
// False, with `view` untouched, when a size is 0 or less.
bool zoom_at_pointer(ZoomView& view, int wheel_y, int mouse_x, int mouse_y, int window_w,
                     int window_h, int frame_w, int frame_h);

// One pan step for a pointer move of (dx, dy) window pixels: the picture
// follows the pointer, the centre stays within 0..1. False, with `view`
// untouched, when a size is 0 or less.
bool pan_by(ZoomView& view, int64_t dx, int64_t dy, int window_w, int window_h, int frame_w,
            int frame_h);
