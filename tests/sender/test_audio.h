#pragma once
// The listening end of the audio tests: libopus's own decoder, and the
// measures applied to the sound that comes out of it.

#include <cstddef>
#include <cstdint>
#include <vector>

struct OpusDecoder;

namespace talvek::tools::testing {

// One channel (0: left, 1: right) of interleaved stereo.
std::vector<int16_t> channel_of(const std::vector<int16_t>& stereo, int channel);

// Amplitude, in sample units, of the `hz` component of 48 kHz samples
// (Goertzel filter over the whole span).
double tone_amplitude(const std::vector<int16_t>& mono, double hz);

// The pitch of the test tone's ladder (440, 550 ... 1210 Hz) that is
// strongest in the samples.
int strongest_ladder_pitch(const std::vector<int16_t>& mono);

// Sign changes from below zero to zero or above.
int upward_crossings(const std::vector<int16_t>& mono);

double rms(const std::vector<int16_t>& mono);

// A 48 kHz stereo libopus decoder.
class OpusTestDecoder {
public:
    OpusTestDecoder();
    ~OpusTestDecoder();
    OpusTestDecoder(const OpusTestDecoder&) = delete;
    OpusTestDecoder& operator=(const OpusTestDecoder&) = delete;

    bool ok() const { return decoder != nullptr; }

    // Decodes one packet with room for `max_samples` per channel and
    // appends what it gives to `pcm`. Returns libopus's result: samples
    // per channel, or a negative error code.
    int decode(const uint8_t* packet, size_t bytes, int max_samples, std::vector<int16_t>& pcm);

private:
    OpusDecoder* decoder = nullptr;
};

}  // namespace talvek::tools::testing
