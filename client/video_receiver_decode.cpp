// The decode thread: whole compressed frames in from the queue, through the
// decoder, and the newest picture out to the main thread.

#include "video_receiver.h"

namespace talvek::client {

// Decode thread.
void VideoReceiver::decode_thread_func() {
    DecodeObserver* observer = seams.decode_observer;
    std::vector<EncodedFrame> batch;
    batch.reserve(DECODE_QUEUE_SLOTS);
    while (running) {
        if (observer) observer->before_wait();
        {
            std::unique_lock lock(queue_mutex);
            queue_cv.wait(lock, [this] { return !decode_queue.empty() || !running; });
            if (!running) break;
            // The whole queue at once, oldest first; the producer goes on
            // filling the ring while this batch is decoded.
            decode_queue.take_all(batch);
        }
        if (observer) observer->on_batch(batch);

        decode_batch(batch);
        // Only the last picture of a batch is shown; the others were needed
        // as references. A failed last send leaves the previous picture in
        // the decoder, and that one is shown again.
        const bool handed_over = running && convert_and_hand_over();
        if (observer) observer->after_batch(handed_over);
    }
    if (observer) observer->on_exit();
}

// Decode thread.
void VideoReceiver::decode_batch(const std::vector<EncodedFrame>& batch) {
    for (size_t i = 0; i < batch.size(); ++i) {
        if (!running) return;
        if (batch[i].empty()) continue;
        if (decoder.decode(batch[i]).keyframe_wanted) request_keyframe(KeyframeCause::DecodeError);
        if (seams.decode_observer) seams.decode_observer->after_frame(i);
    }
}

// Decode thread. Converts the last picture into convert_buffer and swaps it
// into display_buffer; the converter is tried again after the next batch.
bool VideoReceiver::convert_and_hand_over() {
    if (!decoder.convert_last_picture(convert_buffer)) return false;
    if (!running) return false;
    {
        std::lock_guard lock(frame_mutex);
        display_buffer.swap(convert_buffer);
        frame_ready = true;
    }
    std::lock_guard lock(picture_callback_mutex);
    if (picture_callback) picture_callback();
    return true;
}

}  // namespace talvek::client
