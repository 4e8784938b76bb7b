#pragma once
// What the fuzz targets read and set inside a VideoReceiver, under the locks
// its own threads take. Reads are cheap snapshots (no frame copies), since
// the targets check the bounds after every datagram.

#include <cstdint>
#include <mutex>

#include "video_receiver.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace talvek::client {

class VideoReceiverFuzzPeer {
public:
    struct Reassembly {
        size_t records = 0;
        uint64_t buffered_bytes = 0;  // the receiver's own count
        uint64_t record_bytes = 0;    // what the records' buffers really hold
        uint32_t last_completed_id = 0;
    };
    struct Queue {
        size_t slots = 0;
        size_t count = 0;
        size_t read = 0;
        size_t write = 0;
    };

    static bool running(const VideoReceiver& r) { return r.running; }

    static Reassembly reassembly(VideoReceiver& r) {
        std::lock_guard lock(r.fragments_mutex);
        Reassembly out;
        out.records = r.partial_frames.size();
        out.buffered_bytes = r.buffered_bytes;
        for (const auto& entry : r.partial_frames) {
            if (entry.second.data) out.record_bytes += entry.second.fragment_count * uint64_t{1400};
        }
        out.last_completed_id = r.last_completed_id;
        return out;
    }

    static Queue queue(VideoReceiver& r) {
        std::lock_guard lock(r.queue_mutex);
        return {r.decode_queue.size(), r.queue_count, r.queue_read, r.queue_write};
    }

    // Both picture buffers keep the stream's size for the receiver's life.
    static bool picture_buffers_are(VideoReceiver& r, size_t bytes) {
        std::lock_guard lock(r.frame_mutex);
        return r.display_buffer.size() == bytes && r.convert_buffer.size() == bytes;
    }

    // Largest picture the decoder may allocate. Called after bring-up and
    // before the first frame is queued, so the decode thread has not touched
    // the decoder yet (the queue's lock orders the two).
    static void cap_picture_size(VideoReceiver& r, int64_t pixels) {
        r.codec_context->max_pixels = pixels;
    }

    // What a stop and a new bring-up clear for the next stream, without
    // ending the decode thread: the table, the queue, the last completed id
    // and a pending request; the decoder forgets its references. Only while
    // the decode thread is held outside its batch work.
    static void forget_stream(VideoReceiver& r) {
        {
            std::lock_guard lock(r.fragments_mutex);
            r.partial_frames.clear();
            r.buffered_bytes = 0;
            r.last_completed_id = 0;
        }
        {
            std::lock_guard lock(r.queue_mutex);
            r.decode_queue = {};
            r.queue_count = 0;
            r.queue_read = 0;
            r.queue_write = 0;
        }
        r.keyframe_needed = false;
        r.decode_errors = 0;
        avcodec_flush_buffers(r.codec_context);
    }

    // Screen audio closed and opened again through the receiver's own
    // teardown and bring-up: a fresh Opus decoder and sequence state.
    static void reopen_audio(VideoReceiver& r) {
        r.release_audio();
        r.enable_audio(true);
    }
    static bool audio_enabled(const VideoReceiver& r) { return r.audio_enabled; }
    static uint32_t last_audio_seq(const VideoReceiver& r) { return r.last_audio_seq; }
};

}  // namespace talvek::client
