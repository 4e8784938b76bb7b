#include "test_audio.h"

#include <opus.h>

#include <cmath>
#include <numbers>

#include "test_tone.h"

namespace talvek::tools::testing {

std::vector<int16_t> channel_of(const std::vector<int16_t>& stereo, int channel) {
    std::vector<int16_t> mono;
    mono.reserve(stereo.size() / 2);
    for (size_t i = static_cast<size_t>(channel); i < stereo.size(); i += 2) {
        mono.push_back(stereo[i]);
    }
    return mono;
}

double tone_amplitude(const std::vector<int16_t>& mono, double hz) {
    if (mono.empty()) return 0.0;
    const double w = 2.0 * std::numbers::pi * hz / AUDIO_SAMPLE_RATE;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (int16_t x : mono) {
        const double s = static_cast<double>(x) + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    // |X(f)| of a sine of amplitude A over N samples is A * N / 2.
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(mono.size());
}

int strongest_ladder_pitch(const std::vector<int16_t>& mono) {
    int best = 0;
    double best_amplitude = -1.0;
    for (int step = 0; step < TONE_STEPS; ++step) {
        const int hz = TONE_BASE_HZ + step * TONE_STEP_HZ;
        const double a = tone_amplitude(mono, hz);
        if (a > best_amplitude) {
            best_amplitude = a;
            best = hz;
        }
    }
    return best;
}

int upward_crossings(const std::vector<int16_t>& mono) {
    int count = 0;
    for (size_t i = 1; i < mono.size(); ++i) {
        if (mono[i - 1] < 0 && mono[i] >= 0) ++count;
    }
    return count;
}

double rms(const std::vector<int16_t>& mono) {
    if (mono.empty()) return 0.0;
    double sum = 0.0;
    for (int16_t x : mono) sum += static_cast<double>(x) * static_cast<double>(x);
    return std::sqrt(sum / static_cast<double>(mono.size()));
}

OpusTestDecoder::OpusTestDecoder() {
    int error = OPUS_OK;
    decoder = opus_decoder_create(AUDIO_SAMPLE_RATE, AUDIO_CHANNELS, &error);
    if (error != OPUS_OK) decoder = nullptr;
}

OpusTestDecoder::~OpusTestDecoder() {
    if (decoder) opus_decoder_destroy(decoder);
}

int OpusTestDecoder::decode(const uint8_t* packet, size_t bytes, int max_samples,
                            std::vector<int16_t>& pcm) {
    std::vector<int16_t> out(static_cast<size_t>(max_samples) * AUDIO_CHANNELS);
    const int n = opus_decode(decoder, packet, static_cast<opus_int32>(bytes), out.data(),
                              max_samples, 0);
    if (n > 0) pcm.insert(pcm.end(), out.begin(), out.begin() + n * AUDIO_CHANNELS);
    return n;
}

}  // namespace talvek::tools::testing
