#include "audio_encoder.h"

#include <opus.h>

#include "log.h"
#include "test_tone.h"

namespace talvek::tools {

namespace {
// libopus's own advice for the output buffer: enough for any packet.
constexpr int MAX_PACKET_BYTES = 4000;
}  // namespace

struct AudioEncoder::State {
    struct Deleter {
        void operator()(OpusEncoder* e) const { opus_encoder_destroy(e); }
    };
    std::unique_ptr<OpusEncoder, Deleter> encoder;
};

bool is_audio_packet_ms(int ms) { return ms == 10 || ms == 20 || ms == 40 || ms == 60; }

AudioEncoder::AudioEncoder() : state(std::make_unique<State>()) {}
AudioEncoder::~AudioEncoder() = default;

bool AudioEncoder::open(int bitrate, int packet_ms) {
    state->encoder.reset();
    samples = 0;
    if (!is_audio_packet_ms(packet_ms)) {
        log_err("[Sender] Error: %d ms is not an Opus packet duration we send\n", packet_ms);
        return false;
    }
    int error = OPUS_OK;
    state->encoder.reset(opus_encoder_create(AUDIO_SAMPLE_RATE, AUDIO_CHANNELS,
                                             OPUS_APPLICATION_AUDIO, &error));
    if (error != OPUS_OK || !state->encoder) {
        state->encoder.reset();
        log_err("[Sender] Error: cannot create the Opus encoder: %s\n", opus_strerror(error));
        return false;
    }
    error = opus_encoder_ctl(state->encoder.get(), OPUS_SET_BITRATE(bitrate));
    if (error != OPUS_OK) {
        state->encoder.reset();
        log_err("[Sender] Error: Opus refuses %d bit/s: %s\n", bitrate, opus_strerror(error));
        return false;
    }
    samples = audio_packet_samples(packet_ms);
    return true;
}

bool AudioEncoder::encode(const int16_t* stereo, std::vector<uint8_t>& out) {
    if (!state->encoder) return false;
    out.resize(MAX_PACKET_BYTES);
    const opus_int32 n =
        opus_encode(state->encoder.get(), stereo, samples, out.data(), MAX_PACKET_BYTES);
    if (n < 0) {
        out.clear();
        log_err("[Sender] Error: Opus encoding failed: %s\n", opus_strerror(n));
        return false;
    }
    out.resize(static_cast<size_t>(n));
    return true;
}

}  // namespace talvek::tools
