#pragma once
// libopus set up as a screen share sends its sound: 48 kHz stereo,
// OPUS_APPLICATION_AUDIO (music and system sounds, not speech), a fixed
// packet duration. The libopus types stay out of this header.

#include <cstdint>
#include <memory>
#include <vector>

namespace talvek::tools {

// Packet durations libopus can produce and the sender offers. A player
// plays packets of up to 20 ms; longer ones are there to be refused.
bool is_audio_packet_ms(int ms);

// Samples per channel in a packet of `ms` milliseconds at 48 kHz.
inline constexpr int audio_packet_samples(int ms) { return ms * 48; }

class AudioEncoder {
public:
    AudioEncoder();
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // Logs and returns false when libopus refuses the settings.
    bool open(int bitrate, int packet_ms);

    int packet_samples() const { return samples; }

    // Encodes one packet from packet_samples() interleaved stereo frames
    // into `out` (replacing its contents). Logs and returns false on error.
    bool encode(const int16_t* stereo, std::vector<uint8_t>& out);

private:
    struct State;
    std::unique_ptr<State> state;
    int samples = 0;
};

}  // namespace talvek::tools
