#include "opus_tone.h"

#include <opus.h>

#include <cmath>

namespace client_test {

std::vector<short> stereo_tone(int first, int samples_per_channel) {
    std::vector<short> pcm(static_cast<size_t>(samples_per_channel) * 2);
    const double two_pi = 6.283185307179586;
    for (int i = 0; i < samples_per_channel; ++i) {
        const double t = (first + i) / 48000.0;
        pcm[static_cast<size_t>(i) * 2] = static_cast<short>(10000 * std::sin(two_pi * 440 * t));
        pcm[static_cast<size_t>(i) * 2 + 1] =
            static_cast<short>(10000 * std::sin(two_pi * 660 * t));
    }
    return pcm;
}

OpusTone::OpusTone(int packet_ms) : samples(packet_ms * 48) {
    ok = encoder.init(48000, 2, OPUS_APPLICATION_AUDIO);
}

std::vector<uint8_t> OpusTone::next() {
    const std::vector<short> pcm = stereo_tone(position, samples);
    position += samples;
    std::vector<uint8_t> packet(4000);
    const int n = encoder.encode(pcm.data(), samples, packet.data(), static_cast<int>(packet.size()));
    packet.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return packet;
}

}  // namespace client_test
