#pragma once
// The player's table of video frames under reassembly: fragments in, whole
// frames out, incomplete frames dropped after 250 ms, the table bounded.
// No lock, no clock and no decoder of its own: the caller passes the time in
// and acts on what each datagram did (queue the frame, log the drops, ask
// for a keyframe).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "protocol.h"

namespace talvek::client {

// One complete, still compressed frame.
using EncodedFrame = std::vector<uint8_t>;

class FragmentTable {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // One frame under reassembly. Fragment i lives at byte i * 1400 of data
    // until the frame is joined. The slots are not zeroed: the join reads
    // only the bytes each received fragment wrote, and a frame of 1000
    // fragments would otherwise cost a 1.4 MB clear at its first fragment.
    struct PartialFrame {
        uint16_t fragment_count = 0;  // 0: just created, not set up yet
        uint16_t fragments_received = 0;
        std::unique_ptr<uint8_t[]> data;  // fragment_count * SLOT_BYTES
        std::vector<bool> received;
        std::vector<uint16_t> fragment_sizes;
        TimePoint created_at{};
    };

    // A frame timed out with fragments missing: one drop line each.
    struct DroppedFrame {
        uint32_t frame_id = 0;
        uint16_t fragments_received = 0;
        uint16_t fragment_count = 0;
    };

    // What one datagram did.
    struct Outcome {
        bool completed = false;   // the frame argument now holds a whole frame
        bool frame_lost = false;  // a frame went unfinished: the decoder needs a keyframe
        std::vector<DroppedFrame> dropped;  // timed out, in the table's order
    };

    static constexpr size_t SLOT_BYTES = static_cast<size_t>(VIDEO_FRAGMENT_MAX_PAYLOAD);
    static constexpr uint16_t MAX_FRAGMENTS = 1000;  // 1.4 MB per frame at most
    static constexpr std::chrono::milliseconds MAX_FRAME_AGE{250};
    // Eviction starts at 60 records, or when a new record would take the
    // fragment buffers to 50 MiB or more, and leaves 30 (a second of frames
    // at 30 per second), so a sender that never completes a frame cannot
    // grow memory without bound.
    static constexpr size_t EVICT_AT_RECORDS = 60;
    static constexpr uint64_t BUFFER_BUDGET_BYTES = uint64_t{50} * 1024 * 1024;
    static constexpr uint64_t EVICT_ABOVE_BYTES = BUFFER_BUDGET_BYTES - 1;
    static constexpr size_t RECORDS_AFTER_EVICTION = 30;

    // One whole datagram, media header included; `now` is the steady-clock
    // time of its arrival. A completed frame is moved into `frame`. Bad,
    // old, out-of-range and duplicate datagrams change nothing.
    Outcome handle_fragment(const uint8_t* data, int length, TimePoint now, EncodedFrame& frame);

    // Forgets every record and the last completed id: a new stream.
    void reset();

    const std::unordered_map<uint32_t, PartialFrame>& records() const { return partial_frames; }
    uint64_t buffered() const { return buffered_bytes; }
    uint32_t last_completed() const { return last_completed_id; }

    static constexpr uint64_t record_bytes(uint16_t fragment_count) {
        return uint64_t{fragment_count} * SLOT_BYTES;
    }

private:
    using Records = std::unordered_map<uint32_t, PartialFrame>;

    void evict_records(Outcome& outcome);
    void set_up_record(PartialFrame& record, uint16_t fragment_count, TimePoint now);
    void complete_frame(uint32_t frame_id, const PartialFrame& record, EncodedFrame& frame,
                        Outcome& outcome);
    void sweep_expired_records(TimePoint now, Outcome& outcome);
    bool is_lost_frame(uint32_t frame_id) const;
    void remove_record(Records::iterator it);

    // Buffers of records that went, kept for a record of the same size: a
    // steady stream repeats its sizes, and a fresh 1.4 MB buffer costs page
    // faults at every first touch. Bounded, and only exact sizes are taken,
    // so what the records hold is still exactly buffered_bytes.
    static constexpr size_t SPARE_BUFFERS = 4;
    struct SpareBuffer {
        std::unique_ptr<uint8_t[]> bytes;
        uint16_t fragment_count = 0;
    };
    std::vector<SpareBuffer> spare_buffers;

    Records partial_frames;
    uint32_t last_completed_id = 0;
    uint64_t buffered_bytes = 0;  // sum of the records' data buffers
};

}  // namespace talvek::client
