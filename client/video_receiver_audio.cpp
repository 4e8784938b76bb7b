// Screen audio of the receiver: each packet is decoded the moment it arrives
// and queued on the playback device, after up to three concealed frames for
// the packets missing before it. There is no jitter buffer: SDL plays the
// queue in real time and silence when it runs dry. What the queue holds is
// bounded on the way in (AudioRegulator): a queue that drift or a burst
// built up is played off slightly faster or dropped, so the sound stays with
// the picture.
//
// Screen-audio datagram, little-endian:
//
//   offset  size            field
//   ------  --------------  ---------------------------------------------
//    0      28              MediaHeader, flags with VOICE_FLAG_SCREEN_AUDIO
//   20       4                sequence: +1 per packet (inside the header)
//   24       2                payload_length: 1 .. datagram length - 28
//   28      payload_length  one Opus packet of at most 20 ms
//   ...     rest            ignored

#include <algorithm>
#include <array>

#include "audio_gain.h"
#include "log.h"
#include "video_receiver.h"

namespace talvek::client {

namespace {

constexpr int SAMPLE_RATE = 48000;
constexpr int CHANNELS = 2;
// The unit of work is the 20 ms frame: every concealed frame is this long and
// a packet may decode to this much at most (40 and 60 ms packets are refused
// by the decoder for want of room, and not played).
constexpr int FRAME_SAMPLES = 960;  // per channel
constexpr int FRAME_VALUES = FRAME_SAMPLES * CHANNELS;
// Concealment per gap at most, 60 ms: a long outage or a jump in the sequence
// must not flood the queue with synthetic audio.
constexpr uint32_t MAX_CONCEALED_FRAMES = 3;

using FrameBuffer = std::array<short, FRAME_VALUES>;

}  // namespace

void VideoReceiver::enable_audio(bool enable) {
    if (!enable || audio_enabled) return;
    if (!audio_decoder.init(SAMPLE_RATE, CHANNELS)) {
        log_err("[VideoReceiver] Failed to init screen audio decoder\n");
        return;
    }
    // The device logs its own open or failure line first.
    if (!audio_device.open(AudioDevice::Mode::Playback, SAMPLE_RATE, CHANNELS, FRAME_SAMPLES,
                           nullptr)) {
        log_err("[VideoReceiver] Failed to open screen audio playback device\n");
        audio_decoder.destroy();
        return;
    }
    audio_enabled = true;
    last_audio_seq = 0;
    audio_regulator.reset();
    log_out("[VideoReceiver] Screen audio enabled (stereo, 48kHz)\n");
}

void VideoReceiver::handle_screen_audio(const uint8_t* data, int length) {
    if (!audio_enabled || !running) return;
    if (length < MEDIA_HEADER_SIZE) return;
    const MediaHeader header = read_media_header(data);
    const int payload_length = header.payload_length;
    if (payload_length == 0 || payload_length > length - MEDIA_HEADER_SIZE) return;
    const uint32_t sequence = header.sequence;

    // Unsigned arithmetic on purpose: after 0xFFFFFFFF the sum wraps to 0, so
    // any later number counts as a gap.
    if (last_audio_seq != 0 && last_audio_seq + 1 < sequence) {
        if (!conceal_lost_frames(sequence - last_audio_seq - 1)) return;
    }
    // Also for a late or repeated packet, which plays like any other, and for
    // one that then fails to decode.
    last_audio_seq = sequence;

    FrameBuffer buffer;  // the decoder writes the values that are read
    const int n = audio_decoder.decode(data + MEDIA_HEADER_SIZE, payload_length, buffer.data(),
                                       FRAME_SAMPLES);
    if (n <= 0) return;  // corrupt, or longer than 20 ms
    const int values = n * CHANNELS;
    apply_gain(buffer.data(), values, audio_volume.load());
    if (running) queue_audio(buffer.data(), n);
}

bool VideoReceiver::conceal_lost_frames(uint32_t lost) {
    FrameBuffer buffer{};  // stays silence should concealment fail
    for (uint32_t i = 0; i < std::min(lost, MAX_CONCEALED_FRAMES); ++i) {
        audio_decoder.decode_plc(buffer.data(), FRAME_SAMPLES);  // result not examined
        apply_gain(buffer.data(), FRAME_VALUES, audio_volume.load());
        if (!running) return false;
        queue_audio(buffer.data(), FRAME_SAMPLES);
    }
    return true;
}

void VideoReceiver::queue_audio(const short* values, int frames) {
    const AudioRegulator::Output kept =
        audio_regulator.regulate(values, frames, audio_device.get_queued_size());
    audio_device.write_samples(kept.values, kept.count);  // nothing for a dropped piece
}

// Teardown, from stop_decode_and_codecs. Samples still queued go with the
// device; the volume is kept.
void VideoReceiver::release_audio() {
    if (!audio_enabled) return;
    audio_device.close();
    audio_decoder.destroy();
    audio_enabled = false;
    last_audio_seq = 0;
}

}  // namespace talvek::client
