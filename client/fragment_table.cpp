// Video fragments into whole frames.
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

#include "fragment_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "media_header.h"

namespace talvek::client {

FragmentTable::Outcome FragmentTable::handle_fragment(const uint8_t* data, int length,
                                                      TimePoint now, EncodedFrame& frame) {
    Outcome outcome;
    if (length < FRAGMENT_PAYLOAD_OFFSET) return outcome;

    const FragmentHeader header = read_fragment_header(data);
    const int payload_size = header.payload_size;
    if (payload_size <= 0 || payload_size > length - FRAGMENT_PAYLOAD_OFFSET ||
        payload_size > VIDEO_FRAGMENT_MAX_PAYLOAD || header.fragment_count < 1 ||
        header.fragment_count > MAX_FRAGMENTS) {
        return outcome;
    }
    // Plain unsigned order: a sender that starts again from a low id is not
    // heard until its ids pass the last completed one.
    if (header.frame_id < last_completed_id) return outcome;

    auto it = partial_frames.find(header.frame_id);
    if (it == partial_frames.end()) {
        // The new record counts too, so the buffers never pass 50 MiB.
        if (partial_frames.size() >= EVICT_AT_RECORDS ||
            buffered_bytes + record_bytes(header.fragment_count) > EVICT_ABOVE_BYTES) {
            evict_records(outcome);
        }
        if (spare_nodes.empty()) {
            it = partial_frames.try_emplace(header.frame_id).first;
        } else {
            Records::node_type node = std::move(spare_nodes.back());
            spare_nodes.pop_back();
            node.key() = header.frame_id;
            node.mapped().fragment_count = 0;
            it = partial_frames.insert(std::move(node)).position;
        }
    }
    PartialFrame& record = it->second;
    if (record.fragment_count == 0) set_up_record(record, header.fragment_count, now);

    // Later fragments may announce another count; the first one's stands,
    // and it bounds every index so the copy stays inside data.
    const uint16_t index = header.fragment_index;
    if (index >= record.fragment_count) return outcome;
    if (record.received[index]) return outcome;

    std::memcpy(record.data.data() + index * SLOT_BYTES, data + FRAGMENT_PAYLOAD_OFFSET,
                static_cast<size_t>(payload_size));
    record.received[index] = true;
    record.fragment_sizes[index] = header.payload_size;
    ++record.fragments_received;

    if (record.fragments_received == record.fragment_count) {
        complete_frame(header.frame_id, record, frame, outcome);  // removes the record
    }
    sweep_expired_records(now, outcome);
    return outcome;
}

void FragmentTable::keep_spare(EncodedFrame buffer) {
    if (buffer.capacity() == 0 || buffer.capacity() > record_bytes(MAX_FRAGMENTS)) return;
    // The oldest spare makes room: the newest sizes are the likeliest.
    if (spare_buffers.size() == SPARE_BUFFERS) spare_buffers.erase(spare_buffers.begin());
    spare_buffers.push_back(std::move(buffer));
}

// The largest spare, made to hold `bytes`: the buffers in use soon all
// hold the stream's largest frame, and a smaller frame fits any of them.
EncodedFrame FragmentTable::take_spare(size_t bytes) {
    EncodedFrame buffer;
    auto largest = std::max_element(spare_buffers.begin(), spare_buffers.end(),
                                    [](const EncodedFrame& a, const EncodedFrame& b) {
                                        return a.capacity() < b.capacity();
                                    });
    if (largest != spare_buffers.end()) {
        buffer = std::move(*largest);
        spare_buffers.erase(largest);
    }
    buffer.resize(bytes);
    return buffer;
}

// The spares stay: they hold no stream state.
void FragmentTable::reset() {
    while (!partial_frames.empty()) remove_record(partial_frames.begin());
    buffered_bytes = 0;
    last_completed_id = 0;
    completed_any = false;
}

// Removes records in the table's own order, which follows neither age nor
// id, until RECORDS_AFTER_EVICTION are left. Nothing is logged per record,
// but a frame that goes unfinished breaks the decoder's reference chain.
void FragmentTable::evict_records(Outcome& outcome) {
    while (partial_frames.size() > RECORDS_AFTER_EVICTION) {
        if (is_lost_frame(partial_frames.begin()->first)) outcome.frame_lost = true;
        remove_record(partial_frames.begin());
    }
}

void FragmentTable::set_up_record(PartialFrame& record, uint16_t fragment_count, TimePoint now) {
    record.fragment_count = fragment_count;
    record.fragments_received = 0;
    if (record.data.capacity() > 0) keep_spare(std::move(record.data));
    record.data = take_spare(record_bytes(fragment_count));
    record.received.assign(fragment_count, false);
    record.fragment_sizes.assign(fragment_count, 0);
    record.created_at = now;
    buffered_bytes += record_bytes(fragment_count);
}

void FragmentTable::remove_record(Records::iterator it) {
    buffered_bytes -= record_bytes(it->second.fragment_count);
    Records::node_type node = partial_frames.extract(it);
    keep_spare(std::move(node.mapped().data));
    node.mapped().data = {};
    if (spare_nodes.size() < SPARE_NODES) spare_nodes.push_back(std::move(node));
}

// A record above the last completed id is a frame the decoder never got; one
// equal to it is a late copy of a fragment of a frame already decoded, once
// a frame has completed at all (a stream may start at id 0).
bool FragmentTable::is_lost_frame(uint32_t frame_id) const {
    return frame_id > last_completed_id || !completed_any;
}

// Joins the pieces in index order and forgets this record and every older
// one. Incomplete older frames go without a drop line, but the decoder would
// predict from pictures it never had, so they count as lost.
void FragmentTable::complete_frame(uint32_t frame_id, PartialFrame& record,
                                   EncodedFrame& frame, Outcome& outcome) {
    // Short fragments before the last leave gaps; closing them moves bytes
    // down within the buffer. Full slots move nothing.
    uint8_t* bytes = record.data.data();
    size_t total = 0;
    for (size_t i = 0; i < record.fragment_sizes.size(); ++i) {
        const size_t size = record.fragment_sizes[i];
        if (total != i * SLOT_BYTES) std::memmove(bytes + total, bytes + i * SLOT_BYTES, size);
        total += size;
    }
    record.data.resize(total);
    frame.swap(record.data);  // the caller's old buffer goes with the record as a spare
    outcome.completed = true;

    for (auto it = partial_frames.begin(); it != partial_frames.end();) {
        if (it->first <= frame_id) {
            if (it->first != frame_id && is_lost_frame(it->first)) outcome.frame_lost = true;
            auto victim = it++;
            remove_record(victim);
        } else {
            ++it;
        }
    }
    last_completed_id = frame_id;
    completed_any = true;
}

// Frames that stay incomplete longer than MAX_FRAME_AGE are dropped, each
// with a line, and lost.
void FragmentTable::sweep_expired_records(TimePoint now, Outcome& outcome) {
    for (auto it = partial_frames.begin(); it != partial_frames.end();) {
        const PartialFrame& record = it->second;
        if (now - record.created_at <= MAX_FRAME_AGE) {
            ++it;
            continue;
        }
        if (record.fragments_received < record.fragment_count) {
            outcome.dropped.push_back({it->first, record.fragments_received, record.fragment_count});
            outcome.frame_lost = true;
        }
        auto victim = it++;
        remove_record(victim);
    }
}

}  // namespace talvek::client
