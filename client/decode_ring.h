#pragma once
// The decode queue: a ring of six complete, still compressed frames between
// reassembly and the decode thread. When it is full a push overwrites the
// oldest frame, so a decode thread that falls behind only ever sees the
// newest six. No lock of its own: the receiver's queue_mutex guards it.

#include <cstddef>
#include <vector>

#include "fragment_table.h"

namespace talvek::client {

class DecodeRing {
public:
    static constexpr size_t SLOTS = 6;

    // Moves the frame in; the slots are made at the first push. An
    // overwritten frame's buffer becomes a spare.
    void push(EncodedFrame frame);
    // Moves every queued frame out into `batch`, oldest first. What `batch`
    // held (the frames decoded last time) is kept as spares.
    void take_all(std::vector<EncodedFrame>& batch);
    // A spent buffer for the producer to fill again, or an empty one.
    EncodedFrame take_spare();
    // Forgets what is queued but keeps the slots and their buffers.
    void forget_queued();
    // Forgets what is queued and frees the slots and the spares.
    void release();

    size_t count() const { return queue_count; }
    bool empty() const { return queue_count == 0; }
    size_t slots() const { return decode_queue.size(); }
    size_t read_index() const { return queue_read; }
    size_t write_index() const { return queue_write; }
    // Queued frame i, 0 the oldest.
    const EncodedFrame& queued(size_t i) const {
        return decode_queue[(queue_read + i) % SLOTS];
    }

private:
    void keep_spare(EncodedFrame buffer);

    std::vector<EncodedFrame> spares;  // at most SLOTS
    std::vector<EncodedFrame> decode_queue;
    size_t queue_read = 0;   // the oldest queued frame
    size_t queue_write = 0;  // the slot the next push fills
    size_t queue_count = 0;
};

}  // namespace talvek::client
