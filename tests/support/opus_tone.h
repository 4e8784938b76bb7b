#pragma once
// Opus packets of a stereo test tone, encoded with the receiver's own encoder
// wrapper the way a screen share sends its sound (48 kHz, stereo, general
// audio), so the audio tests decode real libopus packets.

#include <cstdint>
#include <vector>

#include "opus_encoder_wrapper.h"

namespace client_test {

// Interleaved stereo: 440 Hz on the left, 660 Hz on the right, at a third
// of full scale; `first` counts samples per channel from the tone's start.
std::vector<short> stereo_tone(int first, int samples_per_channel);

class OpusTone {
public:
    // Packets of `packet_ms` (2.5 to 60 ms; the player takes up to 20).
    explicit OpusTone(int packet_ms = 20);

    bool ready() const { return ok; }
    int packet_samples() const { return samples; }
    // The next packet of the tone; empty if the encoder failed.
    std::vector<uint8_t> next();

private:
    talvek::OpusEncoderWrapper encoder;
    bool ok = false;
    int samples = 0;
    int position = 0;
};

}  // namespace client_test
