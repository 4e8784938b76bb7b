// VideoReceiver::handle_fragment and the decode queue under any sequence of
// datagrams and clock steps (record format in fuzz_records.h).
//
// One receiver serves the whole run, without a window and on a fake clock;
// between inputs it forgets the stream as a stop and a new bring-up would,
// which keeps thousands of inputs a second possible. The decode thread is
// held at its gate and takes the queue only at a drain record, so each input
// replays exactly; it then decodes for real, with pictures capped at a size
// where garbage costs microseconds.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "decode_gate.h"
#include "fuzz_check.h"
#include "fuzz_records.h"
#include "receiver_fuzz_peer.h"
#include "video_receiver.h"

extern "C" {
#include <libavutil/log.h>
}

using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::fuzz::DecodeGate;
using talvek::fuzz::InputReader;
using talvek::fuzz::RecordKind;
using Peer = talvek::client::VideoReceiverFuzzPeer;

namespace {

constexpr int STREAM_SIDE = 64;
constexpr int64_t MAX_PICTURE_PIXELS = 128 * 128;
constexpr uint64_t SLOT_BYTES = 1400;
constexpr uint64_t MAX_FRAME_BYTES = VideoReceiver::MAX_FRAGMENTS * SLOT_BYTES;

struct Harness {
    Harness() {
        receiver.set_clock([this] { return now; });
        receiver.set_decode_hooks(gate.hooks([this](const DecodeGate::Batch& batch) {
            // The thread takes every queued frame, and the queue keeps six.
            FUZZ_CHECK(batch.size() == expected_batch);
            for (const auto& frame : batch) {
                FUZZ_CHECK(!frame.empty() && frame.size() <= MAX_FRAME_BYTES);
            }
        }));
        FUZZ_CHECK(receiver.init_without_window(STREAM_SIDE, STREAM_SIDE, VideoCodec::VP8));
        Peer::cap_picture_size(receiver, MAX_PICTURE_PIXELS);
    }

    void check_bounds() {
        const Peer::Reassembly r = Peer::reassembly(receiver);
        FUZZ_CHECK(r.records <= VideoReceiver::EVICT_AT_RECORDS);
        FUZZ_CHECK(r.buffered_bytes == r.record_bytes);
        FUZZ_CHECK(r.buffered_bytes <= VideoReceiver::EVICT_ABOVE_BYTES);
        FUZZ_CHECK(r.last_completed_id >= last_completed_id);
        last_completed_id = r.last_completed_id;

        const Peer::Queue q = Peer::queue(receiver);
        constexpr size_t SLOTS = VideoReceiver::DECODE_QUEUE_SLOTS;
        FUZZ_CHECK(q.slots == 0 || q.slots == SLOTS);
        FUZZ_CHECK(q.count <= SLOTS && q.read < SLOTS && q.write < SLOTS);
        FUZZ_CHECK((q.read + q.count) % SLOTS == q.write);
    }

    void drain() {
        const size_t queued = Peer::queue(receiver).count;
        if (queued == 0) return;
        expected_batch = queued;
        gate.pass_one_batch();
        FUZZ_CHECK(Peer::queue(receiver).count == 0);
        FUZZ_CHECK(Peer::picture_buffers_are(
            receiver, static_cast<size_t>(STREAM_SIDE) * STREAM_SIDE * 4));
    }

    void run(const uint8_t* data, size_t size) {
        Peer::forget_stream(receiver);
        now = {};
        last_completed_id = 0;
        InputReader in(data, size);
        while (!in.empty()) {
            switch (talvek::fuzz::record_kind(in.u8())) {
            case RecordKind::Datagram: {
                const auto datagram = in.bytes(in.u16());
                receiver.handle_fragment(datagram.data(), static_cast<int>(datagram.size()));
                receiver.needs_keyframe_request();  // the main loop's poll
                check_bounds();
                break;
            }
            case RecordKind::ClockStep:
                now += std::chrono::milliseconds(in.u16());
                break;
            case RecordKind::Drain:
                drain();
                break;
            }
        }
    }

    std::chrono::steady_clock::time_point now{};
    uint32_t last_completed_id = 0;
    size_t expected_batch = 0;  // written before the gate opens, read behind it
    DecodeGate gate;
    VideoReceiver receiver;  // declared last: its thread uses the members above
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    talvek::fuzz::silence_stdout();
    av_log_set_level(AV_LOG_QUIET);  // a line per broken frame otherwise
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: the decode thread stays parked at its gate until exit.
    static Harness* harness = new Harness;
    harness->run(data, size);
    return 0;
}
