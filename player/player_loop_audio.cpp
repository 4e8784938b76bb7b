// The audio bar's side of the loop: drawing it from the callback, its
// clicks, drags and visibility, and the volume and mute operations, each of
// which reaches the receiver's gain and the host application.

#include "audio_bar.h"
#include "audio_bar_input.h"
#include "audio_state.h"
#include "player_loop.h"

void PlayerLoop::set_volume(float v) {
    volume = v;
    if (!muted) receiver.set_audio_volume(v);  // while muted it is heard on unmute
    send_audio_state(socket, args.parent_port, muted, volume);
}

void PlayerLoop::toggle_mute() {
    muted = !muted;
    receiver.set_audio_volume(muted ? 0.0f : volume);
    send_audio_state(socket, args.parent_port, muted, volume);
}

// Called by the receiver inside render(), on the main thread. Silent
// streams get the strip too: its fullscreen button works for them.
void PlayerLoop::draw_overlay(SDL_Renderer* renderer, int width, int height) const {
    if (overlay.visible) render_audio_bar(renderer, width, height, muted, volume, view.fullscreen);
}

void PlayerLoop::overlay_activity() { note_activity(overlay, ticks()); }

void PlayerLoop::auto_hide_overlay() { auto_hide(overlay, volume_dragging, ticks()); }

// A press on a hidden strip does nothing at all, not even a double-click;
// a press inside the band never counts as activity by itself.
void PlayerLoop::on_left_press(const SDL_MouseButtonEvent& button) {
    if (!overlay.visible || !window_handle) return;
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(window_handle, &width, &height);
    switch (audio_bar_target(button.x, button.y, width, height, args.has_audio)) {
    case BarTarget::Fullscreen:
        toggle_fullscreen();
        break;
    case BarTarget::Mute:
        toggle_mute();
        break;
    case BarTarget::Slider:
        set_volume(slider_volume_at(button.x, width));
        volume_dragging = true;
        break;
    case BarTarget::Picture:
        // Exactly the second press: a triple click's third does nothing more.
        if (button.clicks == 2) toggle_fullscreen();
        break;
    case BarTarget::Nothing:
        break;
    }
}

void PlayerLoop::on_left_release() { volume_dragging = false; }

// Every motion of a drag reports the volume, even an unchanged one; past
// either end of the slider the volume holds at 0 or 1.
void PlayerLoop::volume_drag_step(const SDL_MouseMotionEvent& motion) {
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(window_handle, &width, &height);
    set_volume(slider_volume_at(motion.x, width));
}
