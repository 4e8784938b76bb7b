#pragma once
// The sender's test sound: a stereo sine whose pitch steps once a second
// through a fixed ladder, so a receiver can tell from a packet's pitch
// alone which second of the stream it came from.
//
//   second  0    1    2    3    4    5     6     7     8 ...
//   Hz      440  550  660  770  880  990   1100  1210  440 ...
//
// Sample n (counted from the stream's first sample, per channel) has the
// pitch tone_frequency_at(n). Both channels carry the same signal.

#include <cstdint>

namespace talvek::tools {

inline constexpr int AUDIO_SAMPLE_RATE = 48000;
inline constexpr int AUDIO_CHANNELS = 2;

inline constexpr int TONE_BASE_HZ = 440;
inline constexpr int TONE_STEP_HZ = 110;
inline constexpr int TONE_STEPS = 8;
inline constexpr int64_t TONE_STEP_SAMPLES = AUDIO_SAMPLE_RATE;  // one second

// Peak of the tone at gain 1: a quarter of full scale (-12 dBFS), which
// leaves room for --audio-gain up to 4 before it clips.
inline constexpr double TONE_AMPLITUDE = 8192.0;

// Pitch in Hz of sample n: 440 + 110 * ((n / 48000) mod 8).
int tone_frequency_at(int64_t n);

// Value of sample n at gain 1. Each step lasts one second and every pitch
// is a whole number of Hz, so each step starts at phase 0 and the wave is
// continuous across steps without carrying a phase along.
int16_t tone_sample_at(int64_t n);

// Writes `frames` stereo frames from sample `first` on, interleaved L, R.
void fill_test_tone(int64_t first, int frames, int16_t* stereo);

}  // namespace talvek::tools
