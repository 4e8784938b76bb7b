#pragma once
// Where the screen audio comes from: the stepping test tone, or the sound
// of a file. Either way the encoder gets 48 kHz interleaved stereo s16,
// as many frames per call as it asks, for as long as it asks.

#include <cstdint>
#include <memory>
#include <string>

namespace talvek::tools {

class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Writes the next `frames` stereo frames (2 * frames values, L then R).
    // Logs and returns false on failure.
    virtual bool read(int16_t* stereo, int frames) = 0;

    // What the start-up line says about the sound.
    virtual std::string describe() const = 0;
};

// The test tone of test_tone.h from sample 0 on.
std::unique_ptr<AudioSource> make_tone_source();

enum class FileAudioStatus { Opened, NoAudioStream, Failed };

// Decodes the best audio stream of a file with libavformat and libavcodec,
// converted to 48 kHz stereo s16 with libswresample, starting over at the
// end. NoAudioStream is returned without a message, so the caller decides
// whether that is an error; Failed has been logged.
FileAudioStatus open_file_audio_source(const std::string& path,
                                       std::unique_ptr<AudioSource>& out);

}  // namespace talvek::tools
