#pragma once
// One remote user's video stream in a window of its own: fragments in on the
// main thread, frames decoded on a thread of the receiver's own, the newest
// picture drawn by render().
//
//   main thread                        decode thread
//   -----------                        -------------
//   handle_fragment ─ partial_frames
//        │ (complete frame, moved)
//        └──────────► decode_queue ──► decode_thread_func
//                     (6-slot ring)        │ newest picture, BGRA
//   render ◄──────── display_buffer ◄──────┘ (swapped under frame_mutex)
//
//   handle_screen_audio ─ Opus decode (+ concealment) ─ gain ─ regulator ─ audio_device
//   (main thread; SDL's audio thread plays the device's queue)
//
// Locks: fragments_mutex, queue_mutex (+ queue_cv), frame_mutex. The only
// nesting is queue_mutex inside fragments_mutex, for the push of a frame.
// Screen audio takes no lock: it lives on the main thread alone.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "audio_device.h"
#include "audio_regulator.h"
#include "epoch.h"
#include "media_header.h"
#include "opus_decoder_wrapper.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace talvek::client {

class VideoReceiver {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using OverlayCallback = std::function<void(SDL_Renderer*, int, int)>;
    using EncodedFrame = std::vector<uint8_t>;

    // One frame under reassembly. Fragment i lives at byte i * 1400 of data
    // until the frame is joined. The slots are not zeroed: the join reads
    // only the bytes each received fragment wrote, and a frame of 1000
    // fragments would otherwise cost a 1.4 MB clear at its first fragment.
    struct PartialFrame {
        uint16_t fragment_count = 0;  // 0: just created, not set up yet
        uint16_t fragments_received = 0;
        std::unique_ptr<uint8_t[]> data;  // fragment_count * 1400 bytes
        std::vector<bool> received;
        std::vector<uint16_t> fragment_sizes;
        std::chrono::steady_clock::time_point created_at{};
    };

    // Points where a test can watch or hold the decode thread. Every hook is
    // called on the decode thread; set them before the receiver is brought up.
    struct DecodeHooks {
        std::function<void()> before_wait;  // top of every pass, before the queue is looked at
        std::function<void(const std::vector<EncodedFrame>&)> on_batch;  // batch just taken
        std::function<void(size_t index)> after_frame;  // a frame went through the decoder
        std::function<void(bool handed_over)> after_batch;  // picture handed over or not
        std::function<void()> on_exit;  // last act before the thread returns
    };

    // Reassembly limits.
    static constexpr int MIN_DATAGRAM = FRAGMENT_PAYLOAD_OFFSET;  // 28 + 12 header bytes
    static constexpr uint16_t MAX_FRAGMENTS = 1000;              // 1.4 MB per frame at most
    static constexpr std::chrono::milliseconds MAX_FRAME_AGE{250};
    // Eviction starts at 60 records, or when a new record would take the
    // fragment buffers to 50 MiB or more, and leaves
    // 30 (a second of frames at 30 per second), so a sender that never
    // completes a frame cannot grow memory without bound.
    static constexpr size_t EVICT_AT_RECORDS = 60;
    static constexpr uint64_t EVICT_ABOVE_BYTES = 52'428'799;
    static constexpr size_t RECORDS_AFTER_EVICTION = 30;
    static constexpr size_t DECODE_QUEUE_SLOTS = 6;

    // How long a join of the decode thread may take before it is reported.
    static constexpr std::chrono::milliseconds JOIN_WATCHDOG_TIMEOUT{5000};

    VideoReceiver();
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
    void render_stream_ended_overlay();
    // Source rectangle in stream pixels; not checked, the caller keeps it
    // inside the picture. Used when enabled and w, h > 0.
    void set_zoom_rect(bool enabled, int x, int y, int w, int h);
    // Drawn over the picture with the window's size; empty removes it.
    void set_overlay_callback(OverlayCallback callback);

    int frame_width() const { return width; }
    int frame_height() const { return height; }
    uint32_t get_window_id() const { return window_id; }

    // Seams, for tests; call them before the receiver is brought up.
    void set_clock(Clock clock_source) { clock = std::move(clock_source); }
    void set_decode_hooks(DecodeHooks hooks) { decode_hooks = std::move(hooks); }
    void set_join_watchdog_timeout(std::chrono::milliseconds timeout) {
        watchdog_timeout = timeout;
    }
    // The SDL audio calls of the playback device go through `backend`.
    void set_audio_backend(AudioBackend& backend) { audio_device.set_backend(backend); }

private:
    friend class VideoReceiverTestPeer;
    friend class VideoReceiverFuzzPeer;

    struct ScalerSource {
        int width = 0;
        int height = 0;
        int format = -1;
    };

    // Lifecycle (video_receiver.cpp).
    void stop_if_up();
    bool create_window(const char* title, int window_width, int window_height);
    bool create_renderer_and_texture();
    void release_window_objects();
    void reset_for_stream(uint32_t user_id, int stream_width, int stream_height);
    bool prepare_decoding(VideoCodec codec);
    void release_decoding();
    bool launch_decode_thread();

    // Reassembly (video_receiver_reassembly.cpp); fragments_mutex held.
    void evict_records();
    void set_up_record(PartialFrame& record, uint16_t fragment_count);
    void complete_frame(uint32_t frame_id, const PartialFrame& record);
    void push_decode_queue(EncodedFrame frame);  // queue_mutex held
    void sweep_expired_records();
    void remove_record(std::unordered_map<uint32_t, PartialFrame>::iterator it);

    // Decoding (video_receiver_decode.cpp).
    bool open_decoder(VideoCodec codec);
    void free_decoder();
    void decode_thread_func();
    void decode_batch(const std::vector<EncodedFrame>& batch);
    void count_decode_error(int result, size_t frame_bytes, bool in_send);
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

    std::mutex fragments_mutex;
    std::unordered_map<uint32_t, PartialFrame> partial_frames;
    uint32_t last_completed_id = 0;

    std::mutex queue_mutex;
    std::condition_variable queue_cv;
    std::vector<EncodedFrame> decode_queue;
    size_t queue_read = 0;
    size_t queue_write = 0;
    size_t queue_count = 0;
    std::thread decode_thread;

    std::mutex frame_mutex;
    std::vector<uint8_t> display_buffer;
    std::atomic<bool> frame_ready{false};

    const AVCodec* video_codec = nullptr;
    AVCodecContext* codec_context = nullptr;
    AVFrame* decoded_frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
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

    uint64_t buffered_bytes = 0;
    uint32_t decode_errors = 0;
    std::atomic<bool> keyframe_needed{false};

    // Not part of the stream state: seams and the scaler's source geometry.
    Clock clock = [] { return std::chrono::steady_clock::now(); };
    DecodeHooks decode_hooks;
    std::chrono::milliseconds watchdog_timeout = JOIN_WATCHDOG_TIMEOUT;
    ScalerSource scaler_source;  // decode thread: what scaler was made for
};

}  // namespace talvek::client
