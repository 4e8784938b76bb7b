// preview's FrameReassembler under any sequence of datagrams and clock steps
// (record format in fuzz_records.h). Two leading bytes choose the frame
// size, 1 to 256 pixels each way, so frames of one to a few hundred
// fragments; a drain record is the main loop taking and clearing a frame.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "frame_reassembler.h"
#include "fuzz_check.h"
#include "fuzz_records.h"

using talvek::fuzz::InputReader;
using talvek::fuzz::RecordKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    const int width = 1 + in.u8();
    const int height = 1 + in.u8();
    std::chrono::steady_clock::time_point now{};
    FrameReassembler reassembler(width, height, [&now] { return now; });
    const size_t frame_bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    FUZZ_CHECK(reassembler.frame_bytes() == frame_bytes);

    while (!in.empty()) {
        switch (talvek::fuzz::record_kind(in.u8())) {
        case RecordKind::Datagram: {
            const auto datagram = in.bytes(in.u16());
            reassembler.handle_fragment(datagram.data(), static_cast<int>(datagram.size()));
            FUZZ_CHECK(reassembler.frames_in_flight() <= FrameReassembler::MAX_PARTIAL_FRAMES);
            // A complete frame is always a whole picture, ready to upload.
            if (reassembler.has_complete_frame()) {
                FUZZ_CHECK(reassembler.get_frame().size() == frame_bytes);
            }
            break;
        }
        case RecordKind::ClockStep:
            now += std::chrono::milliseconds(in.u16());
            break;
        case RecordKind::Drain:
            if (reassembler.has_complete_frame()) reassembler.clear_frame();
            FUZZ_CHECK(!reassembler.has_complete_frame());
            break;
        }
    }
    return 0;
}
