// Drawing: the newest picture (whole or zoomed) stretched over the window,
// the stream-ended overlay, then the owner's overlay. Main thread only.

#include <SDL.h>

#include "log.h"
#include "stream_ended_overlay.h"
#include "video_receiver.h"

namespace talvek::client {

namespace {

SDL_Rect to_sdl(const OverlayRect& r) { return SDL_Rect{r.x, r.y, r.w, r.h}; }

}  // namespace

// Uploads a picture the decode thread has handed over since the last call,
// if any, then clears the output. Nothing happens when the receiver is
// neither running nor ended; returns whether drawing goes on.
bool VideoReceiver::upload_and_clear() {
    if (!running && !stream_ended) return false;
    if (running) {
        // Under frame_mutex an upload never meets a half-swapped buffer.
        std::lock_guard lock(frame_mutex);
        if (frame_ready) {
            SDL_UpdateTexture(texture, nullptr, display_buffer.data(), width * 4);
            frame_ready = false;
        }
    }
    SDL_RenderClear(renderer);
    return true;
}

void VideoReceiver::restore_texture() {
    if (!renderer) return;
    if (texture) SDL_DestroyTexture(texture);
    if (!create_texture()) return;
    // The display buffer holds the picture last uploaded, or a newer one:
    // either is right, and an ended stream keeps showing its last.
    std::lock_guard lock(frame_mutex);
    SDL_UpdateTexture(texture, nullptr, display_buffer.data(), width * 4);
}

void VideoReceiver::render() {
    if (!window || !renderer || !texture) return;
    if (!upload_and_clear()) return;
    if (zoom_enabled && zoom_w > 0 && zoom_h > 0) {
        const SDL_Rect source{zoom_x, zoom_y, zoom_w, zoom_h};
        SDL_RenderCopy(renderer, texture, &source, nullptr);
    } else {
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    }
    if (stream_ended) render_stream_ended_overlay();
    if (overlay_callback) {
        int w = 0;
        int h = 0;
        SDL_GetWindowSize(window, &w, &h);
        overlay_callback(renderer, w, h);
    }
    SDL_RenderPresent(renderer);
}

void VideoReceiver::update() {
    if (!window || !renderer || !texture) {
        log_out("[RECV UPDATE] uid=%u SKIPPED: null SDL (window=%p, renderer=%p, texture=%p)\n",
                uid, static_cast<void*>(window), static_cast<void*>(renderer),
                static_cast<void*>(texture));
        return;
    }
    if (!upload_and_clear()) return;
    SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    if (stream_ended) render_stream_ended_overlay();
    SDL_RenderPresent(renderer);
}

// Leaves the renderer blending, with the square's colour as its draw colour.
void VideoReceiver::render_stream_ended_overlay() {
    int w = 0;
    int h = 0;
    SDL_GetRendererOutputSize(renderer, &w, &h);
    const StreamEndedOverlayLayout layout = stream_ended_overlay_layout(w, h);

    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 180);
    const SDL_Rect shade = to_sdl(layout.shade);
    SDL_RenderFillRect(renderer, &shade);

    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    for (const OverlayRect& r : layout.frame) {
        const SDL_Rect outline = to_sdl(r);
        SDL_RenderDrawRect(renderer, &outline);
    }

    SDL_SetRenderDrawColor(renderer, 200, 200, 200, 255);
    const SDL_Rect square = to_sdl(layout.square);
    SDL_RenderFillRect(renderer, &square);
}

void VideoReceiver::set_zoom_rect(bool enabled, int x, int y, int w, int h) {
    zoom_enabled = enabled;
    zoom_x = x;
    zoom_y = y;
    zoom_w = w;
    zoom_h = h;
}

void VideoReceiver::set_overlay_callback(OverlayCallback callback) {
    overlay_callback = std::move(callback);
}

void VideoReceiver::set_picture_callback(PictureCallback callback) {
    std::lock_guard lock(picture_callback_mutex);
    picture_callback = std::move(callback);
}

}  // namespace talvek::client
