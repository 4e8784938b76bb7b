#include "view_controls.h"

#include <algorithm>
#include <limits>

#include "float_conversion.h"

using talvek::truncate_to_int;

ZoomRect zoom_rect_for(const ZoomView& view, int frame_w, int frame_h) {
    if (frame_w <= 0 || frame_h <= 0 || view.zoom <= 1.0f) return {};
    const float fw = static_cast<float>(frame_w);
    const float fh = static_cast<float>(frame_h);
    const int32_t w = std::max(truncate_to_int(fw / view.zoom), 1);
    const int32_t h = std::max(truncate_to_int(fh / view.zoom), 1);
    int32_t x = std::max(truncate_to_int(fw * view.center_x - static_cast<float>(w) / 2.0f), 0);
    int32_t y = std::max(truncate_to_int(fh * view.center_y - static_cast<float>(h) / 2.0f), 0);
    // In 64 bits: x may have saturated near INT32_MAX.
    if (int64_t{x} + w > frame_w) x = frame_w - w;
    if (int64_t{y} + h > frame_h) y = frame_h - h;
    return {true, x, y, w, h};
}

bool zoom_at_pointer(ZoomView& view, int wheel_y, int mouse_x, int mouse_y, int window_w,
                     int window_h, int frame_w, int frame_h) {
    if (frame_w <= 0 || frame_h <= 0 || window_w <= 0 || window_h <= 0) return false;
    const float fw = static_cast<float>(frame_w);
    const float fh = static_cast<float>(frame_h);

    // The part shown now, unrounded (the receiver's rectangle is truncated).
    const float shown = std::max(view.zoom, 1.0f);
    const float w = static_cast<float>(truncate_to_int(fw / shown));
    const float h = static_cast<float>(truncate_to_int(fh / shown));
    float sx = view.center_x * fw - w / 2.0f;
    float sy = view.center_y * fh - h / 2.0f;
    if (sx < 0.0f) sx = 0.0f;
    if (sy < 0.0f) sy = 0.0f;
    if (w + sx > fw) sx = fw - w;
    if (h + sy > fh) sy = fh - h;

    // The frame point under the pointer, as fractions of the frame.
    const float px =
        (w * (static_cast<float>(mouse_x) / static_cast<float>(window_w)) + sx) / fw;
    const float py =
        (h * (static_cast<float>(mouse_y) / static_cast<float>(window_h)) + sy) / fh;

    const float old = view.zoom;
    if (wheel_y > 0) view.zoom *= ZOOM_STEP;
    if (wheel_y < 0) view.zoom /= ZOOM_STEP;
    view.zoom = std::clamp(view.zoom, ZOOM_MIN, ZOOM_MAX);

    if (view.zoom > 1.0f) {
        // Moving the centre by this share of the way keeps (px, py) under
        // the pointer; a step out moves it away again.
        const float t = 1.0f - old / view.zoom;
        view.center_x += (px - view.center_x) * t;
        view.center_y += (py - view.center_y) * t;
    } else {
        view.center_x = 0.5f;
        view.center_y = 0.5f;
    }
    return true;
}

bool pan_by(ZoomView& view, int64_t dx, int64_t dy, int window_w, int window_h, int frame_w,
            int frame_h) {
    if (frame_w <= 0 || frame_h <= 0 || window_w <= 0 || window_h <= 0) return false;
    view.center_x -= (static_cast<float>(dx) / static_cast<float>(window_w)) / view.zoom;
    view.center_y -= (static_cast<float>(dy) / static_cast<float>(window_h)) / view.zoom;
    view.center_x = std::clamp(view.center_x, 0.0f, 1.0f);
    view.center_y = std::clamp(view.center_y, 0.0f, 1.0f);
    return true;
}
