#pragma once
// The player's table of video frames under reassembly: fragments in, whole
// frames out, incomplete frames dropped after 250 ms, the table bounded.
// No lock, no clock and no decoder of its own: the caller passes the time in
// and acts on what each datagram did (queue the frame, log the drops, ask
// for a keyframe).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "encoded_frame.h"
#include "protocol.h"

namespace talvek::client {

class FragmentTable {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // One frame under reassembly. Fragment i lives at byte i * 1400 of data,
    // and the frame is joined in place, so a frame of full slots is already
    // whole when its last fragment lands. The buffer is a spare one where
    // possible: only the bytes it grows by are cleared.
    struct PartialFrame {
        uint16_t fragment_count = 0;  // 0: just created, not set up yet
        uint16_t fragments_received = 0;
        EncodedFrame data;  // fragment_count * SLOT_BYTES
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
    // time of its arrival. A completed frame is swapped into `frame`, whose
    // old buffer the table keeps as a spare. Bad, old, out-of-range and
    // duplicate datagrams change nothing.
    Outcome handle_fragment(const uint8_t* data, int length, TimePoint now, EncodedFrame& frame);

    // A buffer the decoder is done with, for a later record: a steady stream
    // then reassembles without allocating.
    void keep_spare(EncodedFrame buffer);

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
    void complete_frame(uint32_t frame_id, PartialFrame& record, EncodedFrame& frame,
                        Outcome& outcome);
    EncodedFrame take_spare(size_t bytes);
    void sweep_expired_records(TimePoint now, Outcome& outcome);
    bool is_lost_frame(uint32_t frame_id) const;
    void remove_record(Records::iterator it);

    // Buffers and table nodes of records that went, kept for the next ones:
    // a fresh 1.4 MB buffer costs page faults at every first touch, and a
    // node carries the per-fragment vectors. Bounded by count; a spare is
    // never more than a largest frame, so they hold 8.4 MB at worst.
    static constexpr size_t SPARE_BUFFERS = 6;
    static constexpr size_t SPARE_NODES = 8;
    std::vector<EncodedFrame> spare_buffers;
    std::vector<Records::node_type> spare_nodes;

    Records partial_frames;
    uint32_t last_completed_id = 0;
    bool completed_any = false;  // until then a record of id 0 is no late copy
    uint64_t buffered_bytes = 0;  // sum of the records' data buffers
};

}  // namespace talvek::client
