// VideoReceiver's life: bring-up with every failure path releasing what it
// took, and the orderly teardown with its log lines and join watchdog.

#include "video_receiver.h"

#include <SDL.h>

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "log.h"
#include "window_fit.h"

namespace talvek::client {

namespace {

constexpr int WINDOW_FLAGS = SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE;
constexpr auto TEARDOWN_EVENT_PAUSE = std::chrono::milliseconds(10);

// For the %p of the teardown lines.
void* ptr(const void* p) { return const_cast<void*>(p); }

}  // namespace

VideoReceiver::VideoReceiver(Seams test_seams) : seams(std::move(test_seams)) {}

VideoReceiver::~VideoReceiver() {
    log_out("[VideoReceiver] Destructor called for uid=%u, cleanup_done=%d\n", uid,
            cleanup_done ? 1 : 0);
    if (!cleanup_done) {
        log_out("[VideoReceiver] Destructor calling stop()\n");
        stop();
    }
    log_out("[VideoReceiver] Destructor complete for uid=%u\n", uid);
}

// A receiver that is running, or ended but not yet joined, is stopped before
// it is brought up again; starting a thread over a joinable one would abort.
// A window left by a stop of the decode half alone goes too.
void VideoReceiver::stop_if_up() {
    if (running || decode_thread.joinable() || window) stop();
}

bool VideoReceiver::init_for_udp(int stream_width, int stream_height, VideoCodec codec) {
    stop_if_up();
    reset_for_stream(0, stream_width, stream_height);

    std::optional<WindowSize> display;
    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(0, &mode) == 0) display = WindowSize{mode.w, mode.h};
    const WindowSize size = fit_stream_window(width, height, display);

    if (!create_window("Video Stream", size.width, size.height)) return false;
    if (!create_renderer_and_texture()) return false;
    if (!prepare_decoding(codec)) return false;
    log_out("[VideoReceiver] Standalone initialized (%dx%d)\n", width, height);
    return launch_decode_thread();
}

bool VideoReceiver::start(uint32_t user_id, const std::string& name, int stream_width,
                          int stream_height, SDL_Window* parent_window, VideoCodec codec) {
    stop_if_up();
    epoch.bump();
    reset_for_stream(user_id, stream_width, stream_height);

    const std::string title = "Stream: " + name;
    if (!create_window(title.c_str(), width, height)) return false;
    if (parent_window) {
        // The new window must not take the focus from its owner.
        SDL_RaiseWindow(parent_window);
        SDL_SetWindowInputFocus(parent_window);
    }
    if (!create_renderer_and_texture()) return false;
    if (!prepare_decoding(codec)) return false;
    log_out("[VideoReceiver] Started: watching %s (%dx%d)\n", name.c_str(), width, height);
    return launch_decode_thread();
}

bool VideoReceiver::init_without_window(int stream_width, int stream_height, VideoCodec codec) {
    stop_if_up();
    if (stream_width <= 0 || stream_height <= 0) {
        log_err("[VideoReceiver] Invalid stream size %dx%d\n", stream_width, stream_height);
        return false;
    }
    reset_for_stream(0, stream_width, stream_height);
    if (!prepare_decoding(codec)) return false;
    return launch_decode_thread();
}

void VideoReceiver::reset_for_stream(uint32_t user_id, int stream_width, int stream_height) {
    uid = user_id;
    width = stream_width;
    height = stream_height;
    std::lock_guard lock(fragments_mutex);
    fragments.reset();
}

// The window. On failure nothing is held.
bool VideoReceiver::create_window(const char* title, int window_width, int window_height) {
    window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              window_width, window_height, WINDOW_FLAGS);
    if (!window) {
        log_err("[VideoReceiver] Failed to create window: %s\n", SDL_GetError());
        return false;
    }
    window_id = SDL_GetWindowID(window);
    return true;
}

// Renderer (hardware first, software as the fall-back) and a streaming
// texture of the stream's size, not the window's. On failure the window goes
// too; window_id keeps the id it had.
bool VideoReceiver::create_renderer_and_texture() {
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer) renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer) {
        log_err("[VideoReceiver] Failed to create renderer: %s\n", SDL_GetError());
        release_window_objects();
        return false;
    }

    if (!create_texture()) {
        release_window_objects();
        return false;
    }
    return true;
}

// The streaming texture of the stream's size; a failure is logged.
bool VideoReceiver::create_texture() {
    texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                width, height);
    if (!texture) log_err("[VideoReceiver] Failed to create texture: %s\n", SDL_GetError());
    return texture != nullptr;
}

// Failure-path release: quiet, unlike destroy_sdl_resources.
void VideoReceiver::release_window_objects() {
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
    texture = nullptr;
    renderer = nullptr;
    window = nullptr;
}

// Decoder and both picture buffers. The buffers get their full size once, so
// the decode thread and the main thread only ever swap them. On failure the
// SDL objects go as well and nothing is held.
bool VideoReceiver::prepare_decoding(VideoCodec codec) {
    if (!decoder.open(codec, width, height)) {
        release_window_objects();
        return false;
    }
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    try {
        std::lock_guard lock(frame_mutex);
        convert_buffer.assign(bytes, 0);
        display_buffer.assign(bytes, 0);
        frame_ready = false;
    } catch (const std::bad_alloc&) {
        // A stream size from the command line must not abort the program.
        log_err("[VideoReceiver] Failed to allocate picture buffers (%dx%d)\n", width, height);
        release_failed_bring_up();
        return false;
    }
    return true;
}

// What a bring-up that fails after the decoder opened gives back, quietly.
void VideoReceiver::release_failed_bring_up() {
    release_decoding();
    release_window_objects();
}

void VideoReceiver::release_decoding() {
    decoder.close();
    std::lock_guard lock(frame_mutex);
    convert_buffer = {};
    display_buffer = {};
    frame_ready = false;
}

bool VideoReceiver::launch_decode_thread() {
    // A fresh bring-up may be stopped again: re-arm the one-shot guard, and a
    // new stream has not ended.
    cleanup_done = false;
    stream_ended = false;
    running = true;
    try {
        decode_thread = std::thread(&VideoReceiver::decode_thread_func, this);
    } catch (const std::system_error& e) {
        running = false;
        log_err("[VideoReceiver] Failed to start decode thread: %s\n", e.what());
        release_failed_bring_up();
        return false;
    }
    return true;
}

void VideoReceiver::stop() {
    stop_decode_and_codecs();
    destroy_sdl_resources();
    log_out("[VideoReceiver] Stop complete\n");
}

void VideoReceiver::stop_decode_and_codecs() {
    bool expected = false;
    if (!cleanup_done.compare_exchange_strong(expected, true)) return;

    epoch.bump();
    running = false;
    log_out("[VideoReceiver] Stopping decode thread and cleaning up codecs for user %llu\n",
            static_cast<unsigned long long>(uid));

    if (decode_thread.joinable()) {
        log_out("[VideoReceiver] Signaling decode thread to stop\n");
        {
            std::lock_guard lock(queue_mutex);
            decode_queue.forget_queued();  // the slots go after the join
        }
        queue_cv.notify_all();
        log_out("[VideoReceiver] Waiting for decode thread to join...\n");
        std::fflush(stdout);
        std::fflush(stderr);

        // The watchdog only reports; the flag is shared so that it stays
        // valid when the receiver is gone before the watchdog wakes.
        // Without a thread to spare the join simply goes unwatched.
        auto joined = std::make_shared<std::atomic<bool>>(false);
        try {
            std::thread([joined, timeout = seams.join_watchdog_timeout] {
                std::this_thread::sleep_for(timeout);
                if (!*joined) log_err("[VideoReceiver] ERROR: Decode thread join() blocked >5s!\n");
            }).detach();
        } catch (const std::system_error&) {
        }

        decode_thread.join();
        *joined = true;
        log_out("[VideoReceiver] Decode thread joined successfully\n");
    }

    release_decoding();
    release_audio();
    {
        std::lock_guard lock(fragments_mutex);
        fragments.reset();
    }
    {
        std::lock_guard lock(queue_mutex);
        decode_queue.release();
    }
    log_out("[VideoReceiver] Decode and codec cleanup complete\n");
}

void VideoReceiver::destroy_sdl_resources() {
    log_out("[RECV SDL DESTROY] uid=%u, window_id=%u: START (window=%p, renderer=%p, "
            "texture=%p)\n",
            uid, window_id, ptr(window), ptr(renderer), ptr(texture));
    if (window) {
        log_out("[RECV SDL DESTROY] uid=%u: Sleeping 10ms for event processing\n", uid);
        std::this_thread::sleep_for(TEARDOWN_EVENT_PAUSE);
    }
    if (texture) {
        log_out("[RECV SDL DESTROY] uid=%u: Destroying texture %p\n", uid, ptr(texture));
        SDL_DestroyTexture(texture);
        texture = nullptr;
        log_out("[RECV SDL DESTROY] uid=%u: Texture destroyed\n", uid);
    }
    if (renderer) {
        log_out("[RECV SDL DESTROY] uid=%u: Destroying renderer %p\n", uid, ptr(renderer));
        SDL_DestroyRenderer(renderer);
        renderer = nullptr;
        log_out("[RECV SDL DESTROY] uid=%u: Renderer destroyed\n", uid);
    }
    if (window) {
        log_out("[RECV SDL DESTROY] uid=%u: Destroying window %p (ID=%u)\n", uid, ptr(window),
                window_id);
        SDL_DestroyWindow(window);
        window = nullptr;
        log_out("[RECV SDL DESTROY] uid=%u: Window destroyed\n", uid);
    }
    log_out("[RECV SDL DESTROY] uid=%u: COMPLETE\n", uid);
}

void VideoReceiver::mark_stream_ended() {
    stream_ended = true;
    running = false;
    // Without the lock a waiting thread may miss this; stop() wakes it again.
    queue_cv.notify_all();
    log_out("[VideoReceiver] Stream marked as ended, decode thread signaled to stop\n");
}

}  // namespace talvek::client
