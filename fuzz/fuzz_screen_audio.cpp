// The receiver's screen-audio path: Opus packets decoded, concealed across
// gaps, scaled by the gain and queued on a device that plays nothing.
//
//   input  := volume:u8 [bits:u32] first_sequence:u32 { length:u16 body }...
//   volume    below VOLUME_TABLE's size: that entry; otherwise the next four
//             bytes are the float's bits, so NaN, infinities, negative and
//             huge gains all come up
//   length 0            a lost packet: the sequence moves on, nothing is sent
//   length bit 15 set   a raw datagram of (length & 0x7FFF) bytes, header and
//                       all, for the length and range tests
//   otherwise           an Opus packet of `length` bytes, sent in a screen-
//                       audio datagram under the next sequence number
//
// One receiver serves the whole run; each input reopens its audio through
// the receiver's own teardown and bring-up, so every input starts with a new
// Opus decoder and no previous packet. Before each datagram the device says
// it holds 0 to 500 ms, a number drawn from the datagrams so far, so the
// delay bound plays, stretches and drops by turns.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "audio_datagram.h"
#include "fuzz_check.h"
#include "fuzz_records.h"
#include "null_audio_backend.h"
#include "receiver_peer.h"
#include "video_receiver.h"

using talvek::VideoCodec;
using talvek::client::VideoReceiver;
using talvek::fuzz::InputReader;
using Peer = talvek::client::VideoReceiverTestPeer;

namespace {

constexpr float VOLUME_TABLE[] = {
    1.0f, 0.0f, -0.0f, 0.5f, 2.0f, -1.0f, 1e30f,
    std::numeric_limits<float>::quiet_NaN(),
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    std::numeric_limits<float>::denorm_min(),
};
constexpr size_t VOLUMES = sizeof VOLUME_TABLE / sizeof VOLUME_TABLE[0];

// 20 ms of stereo at 48 kHz: the most one decode or one concealment queues.
constexpr uint32_t FRAME_BYTES = 960 * 2 * 2;
constexpr uint32_t QUEUE_BYTES_PER_MS = 48 * 2 * 2;
// Up to three concealed frames and the packet itself.
constexpr int MAX_QUEUES_PER_DATAGRAM = 4;

struct Harness {
    Harness() {
        backend.on_queue = [this](const short* values, uint32_t bytes) {
            ++queues;
            FUZZ_CHECK(bytes > 0 && bytes % 4 == 0 && bytes <= FRAME_BYTES);
            if (silent) {
                for (uint32_t i = 0; i < bytes / 2; ++i) FUZZ_CHECK(values[i] == 0);
            }
        };
        receiver.set_audio_backend(backend);
        FUZZ_CHECK(receiver.init_without_window(16, 16, VideoCodec::VP8));
    }

    void send(const std::vector<uint8_t>& datagram) {
        queues = 0;
        // A multiplicative hash of the datagrams sent so far: the same input
        // always gives the same device.
        for (uint8_t b : datagram) state = (state ^ b) * 0x9E3779B1u;
        backend.reported_queue = ((state >> 8) % (QUEUE_BYTES_PER_MS * 500)) & ~3u;
        receiver.handle_screen_audio(datagram.data(), static_cast<int>(datagram.size()));
        FUZZ_CHECK(queues <= MAX_QUEUES_PER_DATAGRAM);
    }

    void run(const uint8_t* data, size_t size) {
        Peer::reopen_audio(receiver);
        state = 0;
        FUZZ_CHECK(Peer::audio_enabled(receiver) && Peer::last_audio_seq(receiver) == 0);

        InputReader in(data, size);
        const uint8_t pick = in.u8();
        float volume = 0.0f;
        if (pick < VOLUMES) {
            volume = VOLUME_TABLE[pick];
        } else {
            const uint32_t bits = in.u32();
            std::memcpy(&volume, &bits, sizeof volume);
        }
        receiver.set_audio_volume(volume);
        // A gain of zero, either sign, or NaN must give silence.
        silent = volume == 0.0f || std::isnan(volume);

        uint32_t sequence = in.u32();
        while (!in.empty()) {
            const uint16_t length = in.u16();
            if (length == 0) {
                ++sequence;
            } else if (length & 0x8000) {
                send(in.bytes(length & 0x7FFF));
            } else {
                const auto packet = in.bytes(length);
                if (packet.empty()) break;
                send(talvek::tools::make_screen_audio_datagram(sequence++, packet.data(),
                                                               packet.size()));
            }
        }
    }

    talvek::testing::NullAudioBackend backend;
    uint32_t state = 0;
    int queues = 0;
    bool silent = false;
    VideoReceiver receiver;  // declared last: it uses the backend until exit
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    talvek::fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness* harness = new Harness;  // never destroyed, like the others
    harness->run(data, size);
    return 0;
}
