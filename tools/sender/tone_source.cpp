// The test tone as an audio source: it only keeps its place in the stream.

#include "audio_source.h"
#include "test_tone.h"

namespace talvek::tools {

namespace {

class ToneSource final : public AudioSource {
public:
    bool read(int16_t* stereo, int frames) override {
        fill_test_tone(position, frames, stereo);
        position += frames;
        return true;
    }

    std::string describe() const override {
        return "test tone " + std::to_string(TONE_BASE_HZ) + " Hz rising " +
               std::to_string(TONE_STEP_HZ) + " Hz a second, " + std::to_string(TONE_STEPS) +
               " steps";
    }

private:
    int64_t position = 0;
};

}  // namespace

std::unique_ptr<AudioSource> make_tone_source() { return std::make_unique<ToneSource>(); }

}  // namespace talvek::tools
