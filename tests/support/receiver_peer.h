#pragma once
// Reads and hands over the receiver's private state the way its own threads
// do, under the same locks, so tests, benchmarks and fuzz targets can look
// inside without a window.

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "video_receiver.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace talvek::client {

class VideoReceiverTestPeer {
public:
    using Frames = std::vector<client::EncodedFrame>;

    static bool running(const VideoReceiver& r) { return r.running; }
    static bool stream_ended(const VideoReceiver& r) { return r.stream_ended; }
    static bool cleanup_done(const VideoReceiver& r) { return r.cleanup_done; }
    static float audio_volume(const VideoReceiver& r) { return r.audio_volume.load(); }
    static bool audio_enabled(const VideoReceiver& r) { return r.audio_enabled; }
    static uint32_t last_audio_seq(const VideoReceiver& r) { return r.last_audio_seq; }
    static SDL_Window* window(const VideoReceiver& r) { return r.window; }
    static SDL_Renderer* renderer(const VideoReceiver& r) { return r.renderer; }
    static SDL_Texture* texture(const VideoReceiver& r) { return r.texture; }
    static bool decoder_open(const VideoReceiver& r) { return r.decoder.is_open(); }
    static AVCodecID codec_id(const VideoReceiver& r) {
        return static_cast<AVCodecID>(r.decoder.codec_id());
    }

    static size_t record_count(VideoReceiver& r) {
        std::lock_guard lock(r.fragments_mutex);
        return r.fragments.records().size();
    }
    static bool has_record(VideoReceiver& r, uint32_t frame_id) {
        std::lock_guard lock(r.fragments_mutex);
        return r.fragments.records().count(frame_id) != 0;
    }
    static uint64_t buffered_bytes(VideoReceiver& r) {
        std::lock_guard lock(r.fragments_mutex);
        return r.fragments.buffered();
    }
    static uint32_t last_completed_id(VideoReceiver& r) {
        std::lock_guard lock(r.fragments_mutex);
        return r.fragments.last_completed();
    }

    // Frames waiting for the decode thread, oldest first.
    static Frames queued_frames(VideoReceiver& r) {
        std::lock_guard lock(r.queue_mutex);
        Frames out;
        for (size_t i = 0; i < r.decode_queue.count(); ++i) out.push_back(r.decode_queue.queued(i));
        return out;
    }
    static size_t queue_slots(VideoReceiver& r) {
        std::lock_guard lock(r.queue_mutex);
        return r.decode_queue.slots();
    }

    static size_t display_bytes(VideoReceiver& r) {
        std::lock_guard lock(r.frame_mutex);
        return r.display_buffer.size();
    }
    // Both picture buffers keep the stream's size for the receiver's life.
    static bool picture_buffers_are(VideoReceiver& r, size_t bytes) {
        std::lock_guard lock(r.frame_mutex);
        return r.display_buffer.size() == bytes && r.convert_buffer.size() == bytes;
    }
    static bool frame_ready(const VideoReceiver& r) { return r.frame_ready; }
    // The end of a decode thread's hand-over, without a decoder: a picture
    // is ready and the picture callback hears of it.
    static void hand_over_picture(VideoReceiver& r) {
        r.frame_ready = true;
        std::lock_guard lock(r.picture_callback_mutex);
        if (r.picture_callback) r.picture_callback();
    }

    // Takes a handed-over picture as render() would, without a texture.
    static bool take_picture(VideoReceiver& r, std::vector<uint8_t>& out) {
        std::lock_guard lock(r.frame_mutex);
        if (!r.frame_ready) return false;
        out = r.display_buffer;
        r.frame_ready = false;
        return true;
    }
    static bool wait_for_picture(VideoReceiver& r, std::vector<uint8_t>& out,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!take_picture(r, out)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Screen audio closed and opened again through the receiver's own
    // teardown and bring-up: a fresh Opus decoder and sequence state.
    static void reopen_audio(VideoReceiver& r) {
        r.release_audio();
        r.enable_audio(true);
    }

    // Hands a picture over as the decode thread does.
    static void hand_over(VideoReceiver& r, const std::vector<uint8_t>& picture) {
        std::lock_guard lock(r.frame_mutex);
        r.display_buffer = picture;
        r.frame_ready = true;
    }
};

}  // namespace talvek::client
