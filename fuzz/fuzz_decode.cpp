// Whole compressed frames through the receiver's own decode path: cut into
// fragments as the host sends them, reassembled, queued, decoded by the real
// VP8 or H.264 decoder on the decode thread and converted to BGRA at the
// stream size.
//
//   input := setup:u8 { flags:u8 length:u16 frame }...
//   setup    bit 0: H.264 (else VP8); bits 1-3: stream size (STREAM_SIZES)
//   flags    bit 0: the decode thread takes the queue after this frame
//
// A fresh receiver per input, so no decoder state leaks from one input into
// the next. Pictures are capped in size: a few bytes can announce a 16383 x
// 16383 VP8 picture, which would only measure the allocator.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode_gate.h"
#include "fragmenter.h"
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
using Peer = talvek::client::VideoReceiverFuzzPeer;

namespace {

struct StreamSize {
    int width;
    int height;
};

// Odd sizes too: the conversion scales to whatever the command line gave.
constexpr StreamSize STREAM_SIZES[8] = {{64, 64},   {176, 144}, {320, 180}, {33, 17},
                                        {1, 1},     {640, 360}, {16, 720},  {97, 55}};
constexpr int64_t MAX_PICTURE_PIXELS = 1280 * 720;
constexpr size_t QUEUE_SLOTS = VideoReceiver::DECODE_QUEUE_SLOTS;

void run(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    const uint8_t setup = in.u8();
    const VideoCodec codec = (setup & 1) ? VideoCodec::H264 : VideoCodec::VP8;
    const StreamSize stream = STREAM_SIZES[(setup >> 1) & 7];

    // The frames fed since the last batch, of which the queue keeps six.
    std::vector<std::vector<uint8_t>> pending;
    DecodeGate gate;
    VideoReceiver receiver;
    receiver.set_decode_hooks(gate.hooks([&pending](const DecodeGate::Batch& batch) {
        // Reassembly gives back exactly the frames sent, oldest first.
        const size_t kept = pending.size() < QUEUE_SLOTS ? pending.size() : QUEUE_SLOTS;
        FUZZ_CHECK(batch.size() == kept);
        for (size_t i = 0; i < kept; ++i) {
            FUZZ_CHECK(batch[i] == pending[pending.size() - kept + i]);
        }
    }));
    // Joins here take microseconds; a short watchdog keeps its threads few.
    receiver.set_join_watchdog_timeout(std::chrono::seconds(1));
    FUZZ_CHECK(receiver.init_without_window(stream.width, stream.height, codec));
    Peer::cap_picture_size(receiver, MAX_PICTURE_PIXELS);
    const size_t picture_bytes =
        static_cast<size_t>(stream.width) * static_cast<size_t>(stream.height) * 4;

    auto decode_queued = [&] {
        if (pending.empty()) return;
        gate.pass_one_batch();
        pending.clear();
        FUZZ_CHECK(Peer::queue(receiver).count == 0);
        FUZZ_CHECK(Peer::picture_buffers_are(receiver, picture_bytes));
    };

    uint32_t frame_id = 1;
    uint32_t sequence = 0;
    std::vector<talvek::tools::Datagram> fragments;
    while (!in.empty()) {
        const uint8_t flags = in.u8();
        std::vector<uint8_t> frame = in.bytes(in.u16());
        fragments.clear();
        if (!talvek::tools::cut_video_frame(frame_id++, frame.data(), frame.size(), sequence,
                                            fragments)) {
            continue;  // empty
        }
        for (const auto& d : fragments) {
            receiver.handle_fragment(d.data(), static_cast<int>(d.size()));
        }
        pending.push_back(std::move(frame));
        if (flags & 1) decode_queued();
    }
    decode_queued();

    gate.open();
    receiver.stop();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    talvek::fuzz::silence_stdout();
    av_log_set_level(AV_LOG_QUIET);  // a line per broken frame otherwise
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run(data, size);
    return 0;
}
