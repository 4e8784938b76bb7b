#include "test_tone.h"

#include <cmath>
#include <numbers>

namespace talvek::tools {

int tone_frequency_at(int64_t n) {
    const int64_t step = (n / TONE_STEP_SAMPLES) % TONE_STEPS;
    return TONE_BASE_HZ + TONE_STEP_HZ * static_cast<int>(step);
}

int16_t tone_sample_at(int64_t n) {
    // f * t for t within the step, reduced to whole turns before the sine
    // so that precision does not decay over a long run.
    const int64_t within = n % TONE_STEP_SAMPLES;
    const int64_t turns = (static_cast<int64_t>(tone_frequency_at(n)) * within) % AUDIO_SAMPLE_RATE;
    const double phase = 2.0 * std::numbers::pi * static_cast<double>(turns) /
                         static_cast<double>(AUDIO_SAMPLE_RATE);
    return static_cast<int16_t>(std::lround(TONE_AMPLITUDE * std::sin(phase)));
}

void fill_test_tone(int64_t first, int frames, int16_t* stereo) {
    for (int i = 0; i < frames; ++i) {
        const int16_t s = tone_sample_at(first + i);
        stereo[2 * i] = s;
        stereo[2 * i + 1] = s;
    }
}

}  // namespace talvek::tools
