// Fullscreen, zoom and pan: the SDL side of the view controls. The numbers
// come from view_controls; here they meet the window and the receiver.

#include "player_loop.h"

void PlayerLoop::toggle_fullscreen() {
    if (!window_handle) return;
    // The SDL calls' results are not examined: `fullscreen` follows the
    // requests, so the next toggle always undoes the last one.
    if (view.fullscreen) {
        SDL_SetWindowFullscreen(window_handle, 0);
        SDL_SetWindowSize(window_handle, view.saved_w, view.saved_h);
        SDL_SetWindowPosition(window_handle, view.saved_x, view.saved_y);
        view.fullscreen = false;
    } else {
        SDL_GetWindowPosition(window_handle, &view.saved_x, &view.saved_y);
        SDL_GetWindowSize(window_handle, &view.saved_w, &view.saved_h);
        SDL_SetWindowFullscreen(window_handle, SDL_WINDOW_FULLSCREEN_DESKTOP);
        view.fullscreen = true;
    }
}

// The stream size is read afresh each time, as the receiver reports it.
void PlayerLoop::apply_zoom() {
    const ZoomRect r = zoom_rect_for(view.zoom, receiver.frame_width(), receiver.frame_height());
    receiver.set_zoom_rect(r.enabled, r.x, r.y, r.w, r.h);
    applied_zoom = r;
}

void PlayerLoop::reset_view() {
    view.zoom = ZoomView{};
    apply_zoom();
}

void PlayerLoop::on_wheel(const SDL_MouseWheelEvent& wheel) {
    if (!window_handle) return;
    int mouse_x = 0;
    int mouse_y = 0;
    SDL_GetMouseState(&mouse_x, &mouse_y);
    int window_w = 0;
    int window_h = 0;
    SDL_GetWindowSize(window_handle, &window_w, &window_h);
    if (zoom_at_pointer(view.zoom, wheel.y, mouse_x, mouse_y, window_w, window_h,
                        receiver.frame_width(), receiver.frame_height())) {
        apply_zoom();
    }
}

// A pan starts only on an already zoomed view; zooming in while the button
// is held does not turn the press into a pan.
void PlayerLoop::on_right_press(const SDL_MouseButtonEvent& button) {
    if (view.zoom.zoom <= 1.0f) return;
    view.panning = true;
    view.pan_last_x = button.x;
    view.pan_last_y = button.y;
}

void PlayerLoop::on_right_release() { view.panning = false; }

void PlayerLoop::pan_step(const SDL_MouseMotionEvent& motion) {
    if (!window_handle) return;
    int window_w = 0;
    int window_h = 0;
    SDL_GetWindowSize(window_handle, &window_w, &window_h);
    // 64-bit differences: event coordinates are arbitrary 32-bit values.
    const int64_t dx = int64_t{motion.x} - view.pan_last_x;
    const int64_t dy = int64_t{motion.y} - view.pan_last_y;
    if (!pan_by(view.zoom, dx, dy, window_w, window_h, receiver.frame_width(),
                receiver.frame_height())) {
        return;  // the last pan position stays as it was
    }
    view.pan_last_x = motion.x;
    view.pan_last_y = motion.y;
    apply_zoom();
}
