// The receiver's side of reassembly: the fragment table under
// fragments_mutex, a completed frame into the decode queue, the drop lines,
// and the keyframe request that every loss and decoder error raises.

#include "log.h"
#include "video_receiver.h"

namespace talvek::client {

// Main thread.
void VideoReceiver::handle_fragment(const uint8_t* data, int length) {
    if (!running) return;
    std::lock_guard lock(fragments_mutex);
    EncodedFrame frame;
    const FragmentTable::Outcome outcome = fragments.handle_fragment(
        data, length, seams.clock ? seams.clock() : std::chrono::steady_clock::now(), frame);

    if (outcome.completed) {
        // Pushed while fragments_mutex is still held: the one lock nesting.
        {
            std::lock_guard queue_lock(queue_mutex);
            decode_queue.push(std::move(frame));
            fragments.keep_spare(decode_queue.take_spare());
        }
        queue_cv.notify_one();
    }
    for (const FragmentTable::DroppedFrame& d : outcome.dropped) {
        const int missing = d.fragment_count - d.fragments_received;
        const float loss =
            static_cast<float>(missing) * 100.0f / static_cast<float>(d.fragment_count);
        log_err("[VideoReceiver] Dropped frame %u: %d/%d fragments received (%.1f%% loss)\n",
                d.frame_id, static_cast<int>(d.fragments_received),
                static_cast<int>(d.fragment_count), static_cast<double>(loss));
    }
    if (outcome.frame_lost) request_keyframe(KeyframeCause::LostFrame);
}

bool VideoReceiver::needs_keyframe_request() { return keyframe_needed.exchange(false); }

// One request covers every cause until the main loop collects it. A loss
// says so on its first request; the decoder's errors have lines of their own.
void VideoReceiver::request_keyframe(KeyframeCause cause) {
    if (cause == KeyframeCause::DecodeError) {
        keyframe_needed = true;
        return;
    }
    if (keyframe_needed) return;
    log_err("[VideoReceiver] Requesting keyframe due to dropped frames\n");
    keyframe_needed = true;
}

}  // namespace talvek::client
