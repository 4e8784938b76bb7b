#pragma once
// One remote user's video stream in a window of its own: fragments in on the
// main thread, frames decoded on a thread of the receiver's own, the newest
// picture drawn by render(). The receiver owns the thread and the locks and
// wires three units together, none of which locks anything itself:
//
//   main thread                        decode thread
//   -----------                        -------------
//   handle_fragment ─ FragmentTable
//        │ (complete frame, moved)
//        └──────────► DecodeRing ────► decode_thread_func ─ VideoDecoder
//                     (6 slots)            │ newest picture, BGRA
//   render ◄──────── display_buffer ◄──────┘ (swapped under frame_mutex)
//
//   handle_screen_audio ─ Opus decode (+ concealment) ─ gain ─ regulator ─ audio_device
//   (main thread; SDL's audio thread plays the device's queue)
//
// Locks: fragments_mutex (the table), queue_mutex (+ queue_cv; the ring),
// frame_mutex (the hand-over), picture_callback_mutex (the wake-up of the
// main loop, after the hand-over). The only nesting is queue_mutex inside
// fragments_mutex, for the push of a frame. Screen audio takes no lock: it
// lives on the main thread alone.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio_device.h"
#include "audio_regulator.h"
#include "decode_observer.h"
#include "decode_ring.h"
#include "epoch.h"
#include "fragment_table.h"
#include "media_header.h"
#include "opus_decoder_wrapper.h"
#include "video_decoder.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace talvek::client {

class VideoReceiver {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using OverlayCallback = std::function<void(SDL_Renderer*, int, int)>;
    using PictureCallback = std::function<void()>;
    using EncodedFrame = client::EncodedFrame;

    static constexpr size_t DECODE_QUEUE_SLOTS = DecodeRing::SLOTS;
    // How long a join of the decode thread may take before it is reported.
    static constexpr std::chrono::milliseconds JOIN_WATCHDOG_TIMEOUT{5000};

    // What a test, a benchmark or a fuzz target may stand in for; player
    // uses the defaults.
    struct Seams {
        Clock clock = {};                           // the steady clock when empty
        DecodeObserver* decode_observer = nullptr;  // watches the decode thread
        std::chrono::milliseconds join_watchdog_timeout = JOIN_WATCHDOG_TIMEOUT;
    };

    VideoReceiver() : VideoReceiver(Seams{}) {}
    explicit VideoReceiver(Seams seams);
    ~VideoReceiver();
    VideoReceiver(const VideoReceiver&) = delete;
    VideoReceiver& operator=(const VideoReceiver&) = delete;
    VideoReceiver(VideoReceiver&&) = delete;
    VideoReceiver& operator=(VideoReceiver&&) = delete;

    // Window "Video Stream" fitted to the display, renderer, texture, decoder,
    // decode thread. On false nothing is held; the failure is already logged.
    bool init_for_udp(int width, int height, VideoCodec codec);
    // Embedded variant: window "Stream: <name>" of exactly width x height,
    // which hands the focus back to parent_window when one is given.
    bool start(uint32_t uid, const std::string& name, int width, int height,
               SDL_Window* parent_window, VideoCodec codec);
    // Reassembly and decoding without any SDL object: the decoder and the
    // decode thread only, for tests and tools that have no display.
    bool init_without_window(int width, int height, VideoCodec codec);

    // Idempotent: the decode half runs once per bring-up, the SDL half and
    // the closing line on every call.
    void stop();
    void stop_decode_and_codecs();
    void destroy_sdl_resources();
    // Input stops and the decode thread leaves its loop; the window keeps the
    // last picture under the stream-ended overlay until stop().
    void mark_stream_ended();

    // One whole datagram, media header included. Bad datagrams are dropped
    // without a message.
    void handle_fragment(const uint8_t* data, int length);
    // A pending keyframe request, reported once.
    bool needs_keyframe_request();

    // Screen audio (main thread). enable_audio(true) opens the Opus decoder
    // and the default playback device once; false does nothing, audio is
    // closed only by stop(). Failures are logged and leave audio off.
    void enable_audio(bool enable);
    // One whole screen-audio datagram, media header included. Ignored while
    // audio is off or the receiver is not running; bad datagrams silently.
    void handle_screen_audio(const uint8_t* data, int length);
    // Gain for screen audio: 0 silences, 1 plays unchanged. Any thread.
    void set_audio_volume(float volume) { audio_volume.store(volume); }

    void render();
    void update();
    // After the renderer lost its device (SDL_RENDER_DEVICE_RESET: Direct3D
    // 11 and 12 destroy every texture then), a new texture of the stream's
    // size, holding the last picture again.
    void restore_texture();
    void render_stream_ended_overlay();
    // Source rectangle in stream pixels; not checked, the caller keeps it
    // inside the picture. Used when enabled and w, h > 0.
    void set_zoom_rect(bool enabled, int x, int y, int w, int h);
    // Drawn over the picture with the window's size; empty removes it.
    void set_overlay_callback(OverlayCallback callback);

    // Called on the decode thread after each picture it hands over, so the
    // main loop need not wait out its receive timeout to show it. Any thread;
    // empty removes it, and once this returns the old one is never called.
    void set_picture_callback(PictureCallback callback);
    // A picture handed over and not yet uploaded: the next render() shows
    // something new.
    bool has_new_picture() const { return running && frame_ready; }
    bool is_stream_ended() const { return stream_ended; }

    int frame_width() const { return width; }
    int frame_height() const { return height; }
    uint32_t get_window_id() const { return window_id; }

    // The SDL audio calls of the playback device go through `backend`.
    void set_audio_backend(AudioBackend& backend) { audio_device.set_backend(backend); }

private:
    friend class VideoReceiverTestPeer;

    // Why a keyframe is wanted: a loss is logged, a decoder error is not.
    enum class KeyframeCause { LostFrame, DecodeError };

    // Lifecycle (video_receiver.cpp).
    void stop_if_up();
    bool create_window(const char* title, int window_width, int window_height);
    bool create_renderer_and_texture();
    bool create_texture();
    void release_window_objects();
    void reset_for_stream(uint32_t user_id, int stream_width, int stream_height);
    bool prepare_decoding(VideoCodec codec);
    void release_decoding();
    void release_failed_bring_up();
    bool launch_decode_thread();

    // Reassembly and the keyframe request (video_receiver_reassembly.cpp).
    void request_keyframe(KeyframeCause cause);  // any thread

    // The decode thread (video_receiver_decode.cpp).
    void decode_thread_func();
    void decode_batch(const std::vector<EncodedFrame>& batch);
    bool convert_and_hand_over();

    // Drawing (video_receiver_render.cpp).
    bool upload_and_clear();

    // Screen audio (video_receiver_audio.cpp).
    bool conceal_lost_frames(uint32_t lost);  // false: the receiver stopped meanwhile
    void queue_audio(const short* values, int frames);
    void release_audio();

    std::atomic<bool> running{false};
    std::atomic<bool> stream_ended{false};
    std::atomic<bool> cleanup_done{false};
    Epoch epoch;
    uint32_t uid = 0;
    int32_t width = 0;
    int32_t height = 0;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    uint32_t window_id = 0;

    // The table holds partial_frames, last_completed_id and buffered_bytes.
    std::mutex fragments_mutex;
    FragmentTable fragments;

    std::mutex queue_mutex;
    std::condition_variable queue_cv;
    DecodeRing decode_queue;
    std::thread decode_thread;

    std::mutex frame_mutex;
    std::vector<uint8_t> display_buffer;
    std::atomic<bool> frame_ready{false};
    std::mutex picture_callback_mutex;  // taken alone, never with another lock
    PictureCallback picture_callback;

    // The decoder objects, the scaler and decode_errors; the decode thread's
    // alone while it runs.
    VideoDecoder decoder;
    std::vector<uint8_t> convert_buffer;

    OverlayCallback overlay_callback;
    bool zoom_enabled = false;
    int32_t zoom_x = 0;
    int32_t zoom_y = 0;
    int32_t zoom_w = 0;
    int32_t zoom_h = 0;

    // Screen audio, main thread only except audio_volume. While audio_enabled
    // is clear every screen-audio datagram is ignored. last_audio_seq 0 means
    // no packet yet: the next one is never preceded by concealment.
    bool audio_enabled = false;
    AudioDevice audio_device;
    OpusDecoderWrapper audio_decoder;
    std::atomic<float> audio_volume{1.0f};
    uint32_t last_audio_seq = 0;
    // Bounds the delay the device's queue adds (drift, bursts); reset with
    // each opened device.
    AudioRegulator audio_regulator;

    std::atomic<bool> keyframe_needed{false};

    Seams seams;
};

}  // namespace talvek::client
