#include "opus_encoder_wrapper.h"

#include <opus.h>

#include <utility>

namespace talvek {

namespace {

constexpr opus_int32 DEFAULT_BITRATE = 48000;
constexpr opus_int32 EXPECTED_LOSS_PERCENT = 10;

// The request macros of opus_defines.h expand to C casts; the ctl calls are
// written with their request numbers and opus_int32 values instead.
void set(OpusEncoder* encoder, int request, opus_int32 value) {
    opus_encoder_ctl(encoder, request, value);  // result not examined
}

}  // namespace

OpusEncoderWrapper::OpusEncoderWrapper(OpusEncoderWrapper&& other) noexcept
    : encoder(std::exchange(other.encoder, nullptr)) {}

OpusEncoderWrapper& OpusEncoderWrapper::operator=(OpusEncoderWrapper&& other) noexcept {
    if (this != &other) {
        destroy();
        encoder = std::exchange(other.encoder, nullptr);
    }
    return *this;
}

bool OpusEncoderWrapper::init(int sample_rate, int channels, int application) {
    destroy();
    int error = 0;
    encoder = opus_encoder_create(sample_rate, channels, application, &error);
    if (error != 0 || encoder == nullptr) {
        encoder = nullptr;
        return false;
    }
    set(encoder, OPUS_SET_BITRATE_REQUEST, DEFAULT_BITRATE);
    if (application == OPUS_APPLICATION_VOIP) {
        set(encoder, OPUS_SET_SIGNAL_REQUEST, OPUS_SIGNAL_VOICE);
        set(encoder, OPUS_SET_DTX_REQUEST, 1);
        set(encoder, OPUS_SET_INBAND_FEC_REQUEST, 1);
        set(encoder, OPUS_SET_PACKET_LOSS_PERC_REQUEST, EXPECTED_LOSS_PERCENT);
    }
    return true;
}

void OpusEncoderWrapper::destroy() {
    if (encoder == nullptr) return;
    opus_encoder_destroy(encoder);
    encoder = nullptr;
}

int OpusEncoderWrapper::encode(const short* pcm, int frame_size, unsigned char* out,
                               int max_bytes) {
    if (encoder == nullptr) return -1;
    return opus_encode(encoder, pcm, frame_size, out, max_bytes);
}

void OpusEncoderWrapper::set_bitrate(int bits_per_second) {
    if (encoder != nullptr) set(encoder, OPUS_SET_BITRATE_REQUEST, bits_per_second);
}

}  // namespace talvek
