#include "decode_ring.h"

#include <utility>

namespace talvek::client {

void DecodeRing::push(EncodedFrame frame) {
    if (decode_queue.size() < SLOTS) decode_queue.resize(SLOTS);
    if (queue_count < SLOTS) {
        ++queue_count;
    } else {
        queue_read = (queue_read + 1) % SLOTS;  // the oldest is overwritten below
        keep_spare(std::move(decode_queue[queue_write]));
    }
    decode_queue[queue_write] = std::move(frame);
    queue_write = (queue_write + 1) % SLOTS;
}

void DecodeRing::take_all(std::vector<EncodedFrame>& batch) {
    for (EncodedFrame& spent : batch) keep_spare(std::move(spent));
    batch.clear();
    for (; queue_count > 0; --queue_count) {
        batch.push_back(std::exchange(decode_queue[queue_read], {}));
        queue_read = (queue_read + 1) % SLOTS;
    }
}

EncodedFrame DecodeRing::take_spare() {
    if (spares.empty()) return {};
    EncodedFrame buffer = std::move(spares.back());
    spares.pop_back();
    return buffer;
}

void DecodeRing::keep_spare(EncodedFrame buffer) {
    if (buffer.capacity() > 0 && spares.size() < SLOTS) spares.push_back(std::move(buffer));
}

void DecodeRing::forget_queued() {
    queue_count = 0;
    queue_read = 0;
    queue_write = 0;
}

void DecodeRing::release() {
    decode_queue = {};
    spares = {};
    forget_queued();
}

}  // namespace talvek::client
