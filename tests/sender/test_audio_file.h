#pragma once
// Makes the sound files the tests read back: a sine per channel, written
// as 16-bit PCM with libavformat, alone in a WAV file or beside the test
// picture in a Matroska file.

#include <cstdint>
#include <string>

#include "ffmpeg_ptr.h"

namespace talvek::tools::testing {

struct TestSound {
    int sample_rate = 48000;
    int channels = 2;
    int frequency = 1000;  // channel c carries frequency * (c + 1) Hz
};

// Peak of every channel's sine.
inline constexpr double TEST_SOUND_AMPLITUDE = 8000.0;

// Sample i of channel c.
int16_t test_sound_sample(const TestSound& sound, int channel, long i);

// A WAV file of `seconds` of the sound.
bool write_test_audio_file(const std::string& path, const TestSound& sound, double seconds);

// For a muxer being set up: a 16-bit PCM stream of the sound, then its
// samples [first, first + count) as one packet (after the header).
AVStream* add_test_sound_stream(AVFormatContext* out, const TestSound& sound);
bool write_test_sound_packet(AVFormatContext* out, AVStream* stream, const TestSound& sound,
                             long first, int count);

}  // namespace talvek::tools::testing
