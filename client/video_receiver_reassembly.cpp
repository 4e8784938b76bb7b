// Video fragments into whole frames, and whole frames into the decode queue.
//
//   offset  size  field
//   ------  ----  ---------------------------------------------
//    0      28    MediaHeader (screen-audio flag clear; not read here)
//   28       4    frame_id
//   32       2    fragment_index   0 .. fragment_count - 1
//   34       2    fragment_count   1 .. 1000
//   36       2    payload_size     1 .. 1400
//   38       2    padding
//   40       …    payload; fragment i is bytes i * 1400 … of the frame
//
// Everything here runs on the main thread with fragments_mutex held.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "log.h"
#include "video_receiver.h"

namespace talvek::client {

namespace {

constexpr size_t SLOT_BYTES = static_cast<size_t>(VIDEO_FRAGMENT_MAX_PAYLOAD);

uint64_t record_bytes(uint16_t fragment_count) {
    return static_cast<uint64_t>(fragment_count) * SLOT_BYTES;
}

}  // namespace

void VideoReceiver::handle_fragment(const uint8_t* data, int length) {
    if (!running) return;
    if (length < MIN_DATAGRAM) return;

    const FragmentHeader header = read_fragment_header(data);
    const int payload_size = header.payload_size;
    if (payload_size <= 0 || payload_size > length - FRAGMENT_PAYLOAD_OFFSET ||
        payload_size > VIDEO_FRAGMENT_MAX_PAYLOAD || header.fragment_count < 1 ||
        header.fragment_count > MAX_FRAGMENTS) {
        return;
    }
    const uint8_t* payload = data + FRAGMENT_PAYLOAD_OFFSET;

    std::lock_guard lock(fragments_mutex);
    // Plain unsigned order: a sender that starts again from a low id is not
    // heard until its ids pass the last completed one.
    if (header.frame_id < last_completed_id) return;

    auto it = partial_frames.find(header.frame_id);
    if (it == partial_frames.end()) {
        // The new record counts too, so the buffers never pass 50 MiB.
        if (partial_frames.size() >= EVICT_AT_RECORDS ||
            buffered_bytes + record_bytes(header.fragment_count) > EVICT_ABOVE_BYTES) {
            evict_records();
        }
        it = partial_frames.try_emplace(header.frame_id).first;
    }
    PartialFrame& record = it->second;
    if (record.fragment_count == 0) set_up_record(record, header.fragment_count);

    // Later fragments may announce another count; the first one's stands,
    // and it bounds every index so the copy stays inside data.
    const uint16_t index = header.fragment_index;
    if (index >= record.fragment_count) return;
    if (record.received[index]) return;

    std::memcpy(record.data.get() + index * SLOT_BYTES, payload,
                static_cast<size_t>(payload_size));
    record.received[index] = true;
    record.fragment_sizes[index] = header.payload_size;
    ++record.fragments_received;

    if (record.fragments_received == record.fragment_count) {
        complete_frame(header.frame_id, record);  // removes the record
    }
    sweep_expired_records();
}

bool VideoReceiver::needs_keyframe_request() { return keyframe_needed.exchange(false); }

// Removes records in the table's own order, which follows neither age nor
// id, until RECORDS_AFTER_EVICTION are left. Nothing is logged per record,
// but a frame that goes unfinished breaks the decoder's reference chain.
void VideoReceiver::evict_records() {
    bool lost = false;
    while (partial_frames.size() > RECORDS_AFTER_EVICTION) {
        lost = lost || is_lost_frame(partial_frames.begin()->first);
        remove_record(partial_frames.begin());
    }
    if (lost) request_keyframe();
}

// A record above the last completed id is a frame the decoder never got; one
// equal to it is a late copy of a fragment of a frame already decoded.
bool VideoReceiver::is_lost_frame(uint32_t frame_id) const {
    return frame_id > last_completed_id;
}

// Every loss raises the same request; one covers all of them until the main
// loop collects it.
void VideoReceiver::request_keyframe() {
    if (keyframe_needed) return;
    log_err("[VideoReceiver] Requesting keyframe due to dropped frames\n");
    keyframe_needed = true;
}

void VideoReceiver::set_up_record(PartialFrame& record, uint16_t fragment_count) {
    record.fragment_count = fragment_count;
    record.fragments_received = 0;
    record.data = std::make_unique_for_overwrite<uint8_t[]>(record_bytes(fragment_count));
    record.received.assign(fragment_count, false);
    record.fragment_sizes.assign(fragment_count, 0);
    record.created_at = clock();
    buffered_bytes += record_bytes(fragment_count);
}

void VideoReceiver::remove_record(std::unordered_map<uint32_t, PartialFrame>::iterator it) {
    buffered_bytes -= record_bytes(it->second.fragment_count);
    partial_frames.erase(it);
}

// Joins the pieces in index order, queues the frame and forgets this record
// and every older one. Incomplete older frames go without a drop line, but
// the decoder would predict from pictures it never had: ask for a keyframe.
void VideoReceiver::complete_frame(uint32_t frame_id, const PartialFrame& record) {
    size_t total = 0;
    for (uint16_t size : record.fragment_sizes) total += size;
    EncodedFrame frame;
    frame.reserve(total);
    for (size_t i = 0; i < record.fragment_sizes.size(); ++i) {
        const uint8_t* first = record.data.get() + i * SLOT_BYTES;
        frame.insert(frame.end(), first, first + record.fragment_sizes[i]);
    }

    {
        std::lock_guard queue_lock(queue_mutex);
        push_decode_queue(std::move(frame));
    }
    queue_cv.notify_one();

    bool lost = false;
    for (auto it = partial_frames.begin(); it != partial_frames.end();) {
        if (it->first <= frame_id) {
            lost = lost || (it->first != frame_id && is_lost_frame(it->first));
            auto victim = it++;
            remove_record(victim);
        } else {
            ++it;
        }
    }
    last_completed_id = frame_id;
    if (lost) request_keyframe();
}

// When the ring is full the push overwrites the oldest frame, so the decode
// thread, when it falls behind, only ever sees the newest six.
void VideoReceiver::push_decode_queue(EncodedFrame frame) {
    if (decode_queue.size() < DECODE_QUEUE_SLOTS) decode_queue.resize(DECODE_QUEUE_SLOTS);
    if (queue_count < DECODE_QUEUE_SLOTS) {
        ++queue_count;
    } else {
        queue_read = (queue_read + 1) % DECODE_QUEUE_SLOTS;
    }
    decode_queue[queue_write] = std::move(frame);
    queue_write = (queue_write + 1) % DECODE_QUEUE_SLOTS;
}

// Frames that stay incomplete longer than MAX_FRAME_AGE are dropped with a
// line each; one keyframe request covers all drops until it is collected.
void VideoReceiver::sweep_expired_records() {
    const auto now = clock();
    bool dropped = false;
    for (auto it = partial_frames.begin(); it != partial_frames.end();) {
        const PartialFrame& record = it->second;
        if (now - record.created_at <= MAX_FRAME_AGE) {
            ++it;
            continue;
        }
        const int missing = record.fragment_count - record.fragments_received;
        if (missing > 0) {
            const float loss = static_cast<float>(missing) * 100.0f /
                               static_cast<float>(record.fragment_count);
            log_err("[VideoReceiver] Dropped frame %u: %d/%d fragments received (%.1f%% loss)\n",
                    it->first, static_cast<int>(record.fragments_received),
                    static_cast<int>(record.fragment_count), static_cast<double>(loss));
            dropped = true;
        }
        auto victim = it++;
        remove_record(victim);
    }
    if (dropped) request_keyframe();
}

}  // namespace talvek::client
